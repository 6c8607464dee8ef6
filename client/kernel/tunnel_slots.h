// The share of the workers that HTTPS tunnels may hold. Tunnels stay open as
// long as a site keeps them, so without a bound they could take every worker
// and stop all other requests.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

// One open tunnel, registered for its lifetime. Creating one while tunnels
// already hold nb::kMaxTunnelWorkers workers first closes the tunnel idle
// longest. The sockets stay the caller's and must outlive the slot.
class TunnelSlot {
 public:
  TunnelSlot(nbplat::Socket browser, nbplat::Socket server);
  ~TunnelSlot();
  TunnelSlot(const TunnelSlot&) = delete;
  TunnelSlot& operator=(const TunnelSlot&) = delete;

  // Marks the tunnel as just used (bytes went through it); thread-safe.
  void Touch();
  // True once the tunnel was told to close; read under the registry's lock.
  bool Closing() const { return closed_; }
  // The stamp of the last use: a smaller one was used longer ago.
  std::uint64_t LastUse() const { return lastUse_.load(); }
  // Shuts down both sockets so the relay ends; under the registry's lock.
  void MarkClosing();

 private:
  nbplat::Socket browser_;
  nbplat::Socket server_;
  std::atomic<std::uint64_t> lastUse_{0};  // activity stamp, larger is later
  std::atomic<bool> closed_{false};        // set under the registry's lock; read anywhere
};

// Shuts down both sockets of the open tunnel that has been idle longest, so
// its relay ends at once and frees its worker; false when no tunnel is open
// (or all are already closing).
bool CloseIdlestTunnel();

// Tunnels open now.
int OpenTunnelCount();
