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

// Shuts down both sockets of the open tunnel idle longest; mtxTunnels held,
// so the slot and its sockets are still alive. False when there is none.
bool CloseIdlestLocked() {
  TunnelSlot* idlest = nullptr;
  for (TunnelSlot* t : tunnels) {
    if (t->Closing()) continue;
    if (idlest == nullptr || t->LastUse() < idlest->LastUse()) idlest = t;
  }
  if (idlest == nullptr) return false;
  idlest->MarkClosing();
  return true;
}

// Tunnels not yet told to close.
int OpenLocked() {
  int n = 0;
  for (const TunnelSlot* t : tunnels) n += t->Closing() ? 0 : 1;
  return n;
}

}  // namespace

TunnelSlot::TunnelSlot(nbplat::Socket browser, nbplat::Socket server)
    : browser_(browser), server_(server), lastUse_(NextStamp()) {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  tunnels.push_back(this);
  if (OpenLocked() > nb::kMaxTunnelWorkers) {
    dbgmsg("tunnels hold their share of the workers: the idlest is closed");
    CloseIdlestLocked();
  }
}

TunnelSlot::~TunnelSlot() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  tunnels.erase(std::remove(tunnels.begin(), tunnels.end(), this), tunnels.end());
}

void TunnelSlot::Touch() { lastUse_.store(NextStamp()); }

void TunnelSlot::MarkClosing() {
  closed_ = true;
  nbplat::ShutdownSocket(browser_);
  nbplat::ShutdownSocket(server_);
}

bool CloseIdlestTunnel() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  return CloseIdlestLocked();
}

int OpenTunnelCount() {
  std::lock_guard<std::mutex> lock(mtxTunnels);
  return OpenLocked();
}
