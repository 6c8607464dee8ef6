// The upstream proxy of the options, and the CONNECT through it.
#include "kernel/tunnel.h"

#include <cmath>

#include "kernel/limits.h"
#include "support/nbString.h"

std::uint16_t ProxyPortOf(const std::string& sProxyPort) {
  const double d = StrToDbl(sProxyPort);
  // A port outside 1..65535 is refused, never wrapped onto another port.
  if (!std::isfinite(d) || d < 1.0 || d >= 65536.0) return 0;
  return static_cast<std::uint16_t>(d);
}

ProxyEndpoint UpstreamProxyOf(const Program_Options& po) {
  ProxyEndpoint proxy;
  proxy.host = po.sProxyName;
  proxy.port = ProxyPortOf(po.sProxyPort);
  proxy.login = po.sProxyLogin;
  proxy.password = po.sProxyPassword;
  proxy.connectTimeoutMs = nb::kConnectTimeoutMs;
  return proxy;
}

TunnelResult OpenProxyTunnel(nbplat::Socket s, const Program_Options& po, const std::string& target,
                             int idleMs, std::string* answer) {
  return OpenProxyTunnel(s, UpstreamProxyOf(po), target, idleMs, answer);
}
