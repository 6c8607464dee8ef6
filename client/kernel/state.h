// Process-wide state of the proxy core and the service link.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "platform/platform.h"
#include "support/nbMutex.h"

extern std::atomic<bool> bServerEnabled;  // the proxy accepts connections
extern nbplat::Socket lsocket;            // listening socket on the proxy port
extern std::string sRouteTable;           // written once at start, then only read
extern std::set<nbplat::Socket> setClientSockets;
extern nbMutex mtxSocketSet;            // guards setClientSockets
extern std::atomic<int> iAmountThread;  // running workers; changed under mtxProgramOptions

// Service link (single words, atomic).
extern std::atomic<std::int32_t> iServTimeShift;
extern std::atomic<std::int32_t> iNoMoneyLogin;
extern std::atomic<bool> bAuthFailed;
extern std::atomic<bool> bOnLine;

// True while the proxy accepts connections (bServerEnabled).
bool nbGetServerState();
// True while the service link is usable (bOnLine).
bool nbIsOnLine();
// True once the service said the account has no money (iNoMoneyLogin set).
bool nbNoMoney();
// True when the last answer packet was an authentication failure.
bool nbAuthFailed();
