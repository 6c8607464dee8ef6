// The CONNECT tunnel through the user's upstream HTTP proxy: one routine for
// the direct relay (a tunnel to the web site) and the service link (a tunnel
// to the service).
#pragma once

#include <cstdint>
#include <string>

#include "kernel/options.h"
#include "platform/platform.h"

enum class TunnelResult {
  Opened,       // the proxy answered 2xx: the socket now carries the tunnel
  Unresolved,   // the proxy's name does not resolve
  Unreachable,  // no connection to the proxy
  Refused,      // the proxy answered, but did not open the tunnel
  NoAnswer,     // the request could not be sent, or no answer came
};

// The proxy port option read as a number, truncated and cut to 16 bits.
std::uint16_t ProxyPortOf(const std::string& sProxyPort);

// True when the proxy's answer opens the tunnel: any 2xx status line, or
// "200 Connection established" after the answer's first character.
bool TunnelAnswerOpens(const std::string& answer);

// Connects s (a fresh TCP socket) to po's upstream proxy and asks it for a
// tunnel to `target` ("host:port") with po's Basic credentials in both
// authorization lines. *answer receives what the proxy sent back, read to the
// end of its head (at most nb::kProxyAnswerSize bytes, each read waiting at
// most idleMs); on Refused the caller may pass it on.
TunnelResult OpenProxyTunnel(nbplat::Socket s, const Program_Options& po, const std::string& target,
                             int idleMs, std::string* answer);
