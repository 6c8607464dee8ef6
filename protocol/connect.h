// The CONNECT request that asks an HTTP proxy for a tunnel, and the reading
// of its answer: one routine for every caller that reaches a peer through a
// proxy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

// Largest proxy answer head read back after a CONNECT.
inline constexpr std::size_t kProxyAnswerSize = 10000;

// Where the proxy is and who we are to it. All fields are read only.
struct ProxyEndpoint {
  std::string host;        // name or dotted address
  std::uint16_t port = 0;  // host order
  std::string login;       // Basic credentials, sent in both lines
  std::string password;
  int connectTimeoutMs = -1;  // < 0: as long as the system waits
};

enum class TunnelResult {
  Opened,       // the proxy answered 2xx: the socket now carries the tunnel
  Unresolved,   // the proxy's name does not resolve
  Unreachable,  // no connection to the proxy
  Refused,      // the proxy answered, but did not open the tunnel
  NoAnswer,     // the request could not be sent, or no answer came
};

// The CONNECT request for `target` ("host:port") with proxy's credentials in
// both the Authorization and Proxy-Authorization lines.
std::string ConnectRequest(const ProxyEndpoint& proxy, const std::string& target);

// True when the proxy's answer opens the tunnel: any 2xx status line, or
// "200 Connection established" after the answer's first character.
bool TunnelAnswerOpens(const std::string& answer);

// Connects s (a fresh TCP socket) to the proxy and sends ConnectRequest.
// *answer receives what the proxy sent back, read to the end of its head (at
// most kProxyAnswerSize bytes, each read waiting at most idleMs); on Refused
// the caller may pass it on.
TunnelResult OpenProxyTunnel(nbplat::Socket s, const ProxyEndpoint& proxy,
                             const std::string& target, int idleMs, std::string* answer);
