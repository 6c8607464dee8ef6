// A browser's CONNECT request: a tunnel to an HTTPS site, relayed both ways
// untouched (encrypted bytes do not compress), directly or through the
// user's upstream proxy.
#pragma once

#include <string>

#include "kernel/options.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"

// True when the count bytes of buff hold a complete CONNECT request head.
bool IsConnectRequest(const char* buff, int count);

// Host and port of the request line "CONNECT host:port HTTP/1.x". False when
// the line is malformed: no port, a port outside 1..65535, an empty host or
// one holding blanks, control or markup characters.
bool ParseConnectTarget(const std::string& head, std::string& host, int& port);

class TunnelSlot;

// Relays between two connected sockets until both have ended their side
// (an end is passed on as a half-close), either fails, or neither sends
// for idleMs. buff (cap bytes) is scratch. Each piece relayed touches slot
// (when given). Returns the bytes moved in both directions. Closes nothing.
long long RelayBothWays(nbplat::Socket browser, nbplat::Socket server, char* buff, int cap,
                        int idleMs, TunnelSlot* slot = nullptr);

// Serves the CONNECT request held in a->request (a->buff is relay space):
// ports other than kTunnelPort get "403 Forbidden", a site that cannot be
// reached "502 Bad Gateway", an upstream proxy's refusal is passed on as it
// came; otherwise "HTTP/1.0 200 Connection established" and the relay, which
// holds a TunnelSlot and ends when a send makes no progress for
// the context's iSendTimeoutMs. The
// bytes moved are added to dTunnelTraffic. The socket it opens is left in
// a->sckServer for the caller to close.
void processConnectTunnel(ThreadArgs* a, const Program_Options& po);
