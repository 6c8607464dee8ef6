// The upstream proxy of the options, and the CONNECT through it.
#include "kernel/tunnel.h"

#include <cmath>

#include "kernel/limits.h"
#include "support/nbString.h"

std::uint16_t ProxyPortOf(const std::string& sProxyPort) {
  const double d = StrToDbl(sProxyPort);
  if (!std::isfinite(d) || d <= -2147483648.0 || d >= 2147483648.0) return 0;
  return static_cast<std::uint16_t>(static_cast<std::int32_t>(d));
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
