// Process-wide state of the proxy core and the service link. All of it is
// defined in this one file so that it is constructed in a fixed order: the
// route table, the socket set and then its lock.
#include "kernel/state.h"

#include "support/debug.h"

std::string sRouteTable;
std::set<nbplat::Socket> setClientSockets;
std::mutex mtxSocketSet;

std::atomic<bool> bServerEnabled{false};
nbplat::Socket lsocket = nbplat::kNoSocket;
std::atomic<int> iAmountThread{0};

std::atomic<std::int32_t> iServTimeShift{0};
std::atomic<std::int32_t> iNoMoneyLogin{0};
std::atomic<bool> bAuthFailed{false};
std::atomic<bool> bOnLine{true};
std::atomic<bool> bServiceReached{true};

bool nbGetServerState() { return bServerEnabled.load(); }

bool nbIsOnLine() {
  dbgmsg("bool nbIsOnLine(void)");
  const bool b = bOnLine.load();
  dbgmsg(b ? "bOnLine=1" : "bOnLine=0");
  return b;
}

bool nbNoMoney() { return iNoMoneyLogin.load() != 0; }

bool nbAuthFailed() { return bAuthFailed.load(); }
