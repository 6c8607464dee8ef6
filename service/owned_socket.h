// Closes a platform socket when it goes out of scope.
#pragma once

#include <chrono>

#include "platform/platform.h"

namespace nbsvc {

class OwnedSocket {
 public:
  OwnedSocket() = default;
  explicit OwnedSocket(nbplat::Socket s) : s_(s) {}
  ~OwnedSocket() { nbplat::CloseSocket(s_); }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;
  OwnedSocket(OwnedSocket&& o) noexcept : s_(o.s_) { o.s_ = nbplat::kNoSocket; }
  OwnedSocket& operator=(OwnedSocket&& o) noexcept {
    if (this != &o) {
      nbplat::CloseSocket(s_);
      s_ = o.s_;
      o.s_ = nbplat::kNoSocket;
    }
    return *this;
  }
  nbplat::Socket get() const { return s_; }
  bool valid() const { return s_ != nbplat::kNoSocket; }

 private:
  nbplat::Socket s_ = nbplat::kNoSocket;
};

// Receives exactly len bytes, each wait at most idleMs. Ok only when all
// arrived; otherwise the status of the receive that stopped it.
nbplat::IoStatus RecvExact(nbplat::Socket s, void* data, std::size_t len, int idleMs);

using Deadline = std::chrono::steady_clock::time_point;

// As above, and also TimedOut once deadline has passed, however steadily
// the bytes arrive.
nbplat::IoStatus RecvExactBy(nbplat::Socket s, void* data, std::size_t len, int idleMs,
                             Deadline deadline);

}  // namespace nbsvc
