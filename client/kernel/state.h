// Process-wide state of the proxy core and the service link.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "platform/platform.h"

// True while the proxy accepts connections.
extern std::atomic<bool> bServerEnabled;
// The listening socket on the proxy port; opened by ProgramInit, closed by
// ProgramDeinit, only read in between.
extern nbplat::Socket lsocket;
// The routing table text; written once at start, then only read.
extern std::string sRouteTable;
// The browser connections now open (their handles stay owned by the
// workers); guarded by mtxSocketSet.
extern std::set<nbplat::Socket> setClientSockets;
// Guards setClientSockets only; never held while taking another lock.
extern std::mutex mtxSocketSet;
// Running workers (counted by the acceptor, given back by each worker).
extern std::atomic<int> iAmountThread;

// Service link (single words, atomic).
// Offset of the service clock from the tick count, in seconds.
extern std::atomic<std::int32_t> iServTimeShift;
// Non-zero (the value the service sent) once the account has no money.
extern std::atomic<std::int32_t> iNoMoneyLogin;
// True when the last answer packet was an authentication failure.
extern std::atomic<bool> bAuthFailed;
// True while the service link is usable.
extern std::atomic<bool> bOnLine;
// False from a failed try to reach the compression service until it answers
// again; requests go direct (uncompressed) meanwhile.
extern std::atomic<bool> bServiceReached;

// True while the proxy accepts connections (bServerEnabled).
bool nbGetServerState();
// True while the service link is usable (bOnLine).
bool nbIsOnLine();
// True once the service said the account has no money (iNoMoneyLogin set).
bool nbNoMoney();
// True when the last answer packet was an authentication failure.
bool nbAuthFailed();
