// The registry of open tunnels: bounded in number, the idlest closed first.
#include "kernel/tunnel_slots.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "kernel/limits.h"
#include "support/debug.h"

namespace {

std::mutex mtxTunnels;                // guards tunnels and each slot's closed_
std::vector<TunnelSlot*> tunnels;     // the open tunnels
std::atomic<std::uint64_t> stamp{0};  // source of activity stamps

std::uint64_t NextStamp() { return stamp.fetch_add(1) + 1; }

// Tunnels not yet told to close.
int OpenLocked() {
  int n = 0;
  for (const TunnelSlot* t : tunnels) n += t->Closing() ? 0 : 1;
  return n;
}

}  // namespace

TunnelSlot::TunnelSlot(nbplat::Socket browser, nbplat::Socket server)
    : browser_(browser), server_(server), lastUse_(NextStamp()) {
  bool full;
  {
    std::lock_guard<std::mutex> lock(mtxTunnels);
    tunnels.push_back(this);
    full = OpenLocked() > nb::kMaxTunnelWorkers;
  }
  if (full) {
    dbgmsg("tunnels hold their share of the workers: the idlest is closed");
    CloseIdlestTunnel();
  }
}

TunnelSlot::~TunnelSlot() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  tunnels.erase(std::remove(tunnels.begin(), tunnels.end(), this), tunnels.end());
}

void TunnelSlot::Touch() { lastUse_.store(NextStamp()); }

bool CloseIdlestTunnel() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  TunnelSlot* idlest = nullptr;
  for (TunnelSlot* t : tunnels) {
    if (t->Closing()) continue;
    if (idlest == nullptr || t->lastUse_.load() < idlest->lastUse_.load()) idlest = t;
  }
  if (idlest == nullptr) return false;
  // Under the lock the slot, and so its sockets, are still alive.
  idlest->closed_ = true;
  nbplat::ShutdownSocket(idlest->browser_);
  nbplat::ShutdownSocket(idlest->server_);
  return true;
}

int OpenTunnelCount() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  return OpenLocked();
}
