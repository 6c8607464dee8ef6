// A socket handle with one owner: closed when its owner goes, moved but never
// copied. Client and service hold every socket they open this way.
#pragma once

#include "platform/platform.h"

namespace nbplat {

class OwnedSocket {
 public:
  OwnedSocket() = default;
  // Takes ownership of s (kNoSocket: holds nothing).
  explicit OwnedSocket(Socket s) : s_(s) {}
  ~OwnedSocket() { CloseSocket(s_); }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;
  OwnedSocket(OwnedSocket&& o) noexcept : s_(o.release()) {}
  OwnedSocket& operator=(OwnedSocket&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  // The handle, still owned here; kNoSocket when none.
  Socket get() const { return s_; }
  // True when a socket is held.
  bool valid() const { return s_ != kNoSocket; }
  // Closes the socket held, if any, and takes s instead.
  void reset(Socket s = kNoSocket) {
    if (s_ != s) CloseSocket(s_);
    s_ = s;
  }
  // Gives the handle up without closing it; the caller owns it then.
  Socket release() {
    const Socket s = s_;
    s_ = kNoSocket;
    return s;
  }

 private:
  Socket s_ = kNoSocket;
};

}  // namespace nbplat
