// Accepts browser connections on the proxy port and starts one worker each.
#pragma once

#include <cstdint>

#include "kernel/context.h"

// Waits for a free worker slot, accepts at most one connection, checks it and
// hands it to a new worker thread.
void waitConnection(ClientContext& ctx);
// True when the client at ipNet (network byte order) may use the proxy
// under po's vsAllowHosts.
bool checkAccessRules(const Program_Options& po, std::uint32_t ipNet);
