// The client's way through the user's upstream HTTP proxy: the options turned
// into a proxy endpoint for the shared CONNECT routine. The direct relay
// tunnels to the web site, the service link to the service.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/options.h"
#include "platform/platform.h"
#include "protocol/connect.h"

// The proxy port option read as a number and truncated; 0 (no port: the
// proxy is not reached) when it lies outside 1..65535.
std::uint16_t ProxyPortOf(const std::string& sProxyPort);

// The upstream proxy of po (sProxyName, sProxyPort, sProxyLogin,
// sProxyPassword) with the client's connect time-out.
ProxyEndpoint UpstreamProxyOf(const Program_Options& po);

// OpenProxyTunnel to po's upstream proxy (see protocol/connect.h).
TunnelResult OpenProxyTunnel(nbplat::Socket s, const Program_Options& po, const std::string& target,
                             int idleMs, std::string* answer);
