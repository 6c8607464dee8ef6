// The accept loop's one step: wait for a worker slot, accept a browser,
// check its address and hand the connection to a worker thread.
#include "kernel/acceptor.h"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "http/http_text.h"
#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/thread_args.h"
#include "kernel/tunnel_slots.h"
#include "kernel/worker_pool.h"
#include "platform/platform.h"
#include "support/debug.h"

namespace {

constexpr unsigned kNoSlotWaitMs = 1000;  // pause while every worker is busy
constexpr unsigned kAcceptRetryMs = 50;   // pause after a failed accept

// Forgets a connection the acceptor does not hand on, then closes it (once
// closed, its number may come back at once for the next connection).
void DropConnection(ProxyState& proxy, nbplat::OwnedSocket& s) {
  {
    std::lock_guard<std::mutex> lock(proxy.mtxSocketSet);
    proxy.setClientSockets.erase(s.get());
  }
  s.reset();
}

}  // namespace

void waitConnection(ClientContext& ctx) {
  dbgmsg("void WaitConnection()");
  ProxyState& proxy = ctx.proxy;
  while (proxy.iAmountThread.load() > nb::kMaxWorkers - 1) {
    // Workers run short: the tunnel idle longest gives its worker back.
    if (CloseIdlestTunnel()) dbgmsg("No free threads: the idlest tunnel is closed");
    nbplat::SleepMs(kNoSlotWaitMs);
    dbgmsg("No free threads. Wait 1000 ms");
  }
  std::uint32_t ipClient = 0;
  nbplat::OwnedSocket s(nbplat::AcceptConnection(proxy.lsocket, &ipClient));
  if (s.valid()) {
    std::lock_guard<std::mutex> lock(proxy.mtxSocketSet);
    proxy.setClientSockets.insert(s.get());
  }
  if (!proxy.bServerEnabled) {
    dbgmsg("bServerEnabled == false");
    DropConnection(proxy, s);
    dbgmsg("RET void WaitConnection()");
    return;
  }
  if (!s.valid()) {
    dbgmsg("can't create accept-socket");
    // Without a pause a lasting failure (no descriptors left) would spin.
    nbplat::SleepMs(kAcceptRetryMs);
    dbgmsg("RET void WaitConnection()");
    return;
  }
  if (!checkAccessRules(ctx.options.Get(), ipClient)) {
    dbgmsg("access for this IP is forbidden");
    DropConnection(proxy, s);
    dbgmsg("RET void WaitConnection()");
    return;
  }
  std::unique_ptr<ThreadArgs> thArgs(new (std::nothrow) ThreadArgs(ctx));
  if (!thArgs) {
    dbgmsg("thArgs == NULL");
    DropConnection(proxy, s);
    return;
  }
  thArgs->sckBrowser = std::move(s);
  thArgs->ipClient = ipClient;
  // The slot is counted here, before the next pass checks the count, so a
  // worker that has not started running yet still holds its place.
  ++proxy.iAmountThread;
  // The worker owns the connection from here and gives the slot back.
  if (!DispatchToWorker(thArgs)) {
    dbgmsg("worker thread failed");
    --proxy.iAmountThread;
    DropConnection(proxy, thArgs->sckBrowser);
  }
  dbgmsg("RET void WaitConnection()");
}

bool checkAccessRules(const Program_Options& po, std::uint32_t ipNet) {
  dbgmsg("bool CheckAccessRules(sockaddr_in addr)");
  const std::string sIp = IpIntToStr(ipNet);
  dbgmsg("remote IP:" + sIp);
  if (sIp == "127.0.0.1") {
    dbgmsg("accept local connection");
    dbgmsg("RET bool CheckAccessRules(sockaddr_in addr)");
    return true;
  }
  dbgmsg("sIp=" + sIp);
  for (const std::string& entry : po.vsAllowHosts) {
    std::size_t star = entry.find('*');
    bool match;
    if (star == std::string::npos) {
      dbgmsg("*ivsIter=" + entry);
      match = sIp == entry;
    } else {
      dbgmsg("ivsIter->substr(0, iEndPos)=" + entry.substr(0, star));
      match = sIp.compare(0, star, entry, 0, star) == 0 && sIp.size() >= star;
    }
    if (match) {
      dbgmsg("RET bool CheckAccessRules(sockaddr_in addr)");
      return true;
    }
  }
  dbgmsg("RET bool CheckAccessRules(sockaddr_in addr)");
  return false;
}
