// Accepts browser connections on the proxy port and starts one worker each.
#pragma once

#include <cstdint>

// Waits for a free worker slot, accepts at most one connection, checks it and
// hands it to a new worker thread.
void waitConnection();
// True when the client at ipNet (network byte order) may use the proxy.
bool checkAccessRules(std::uint32_t ipNet);
