// Loopback TCP helpers for the proxy tests: connected socket pairs, a
// listener on 127.0.0.1 and whole-stream reads, all through the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/owned_socket.h"
#include "platform/platform.h"

namespace nbtest {

// 127.0.0.1 in network byte order.
inline constexpr std::uint32_t kLoopback = 0x0100007Fu;

// The sockets library is started once for every test that includes this.
inline const bool kNetReady = nbplat::NetStartup();

// Closes its socket when it goes out of scope.
using SocketHolder = nbplat::OwnedSocket;

// A listening socket on 127.0.0.1 at a port the system picks.
class Listener {
 public:
  Listener() : s_(nbplat::TcpSocket()) {
    nbplat::SetReuseAddress(s_.get());
    nbplat::BindIPv4(s_.get(), 0, kLoopback);
    nbplat::ListenOn(s_.get(), 16);
    port_ = nbplat::LocalPort(s_.get());
  }
  std::uint16_t port() const { return port_; }
  nbplat::Socket Accept() {
    std::uint32_t ip = 0;
    return nbplat::AcceptConnection(s_.get(), &ip);
  }

 private:
  SocketHolder s_;
  std::uint16_t port_ = 0;
};

// Two connected ends of one loopback TCP connection.
struct SocketPair {
  SocketHolder near;
  SocketHolder far;
};

inline SocketPair MakePair() {
  Listener l;
  SocketPair p;
  p.near.reset(nbplat::TcpSocket());
  nbplat::ConnectIPv4(p.near.get(), kLoopback, l.port(), 5000);
  p.far.reset(l.Accept());
  return p;
}

// Everything the peer sends until it closes (or stays silent for idleMs);
// *end, when given, tells how the stream ended (Failed for a reset).
inline std::string ReadToEnd(nbplat::Socket s, int idleMs = 20000,
                             nbplat::IoStatus* end = nullptr) {
  std::string out;
  char buf[65536];
  for (;;) {
    const nbplat::IoResult r = nbplat::RecvSome(s, buf, sizeof buf, idleMs);
    if (!r.ok()) {
      if (end != nullptr) *end = r.status;
      return out;
    }
    out.append(buf, r.bytes);
  }
}

// Exactly n bytes, or fewer when the peer closes or stays silent for idleMs.
inline std::string ReadExactly(nbplat::Socket s, std::size_t n, int idleMs = 5000) {
  std::string out(n, '\0');
  std::size_t got = 0;
  while (got < n) {
    const nbplat::IoResult r = nbplat::RecvSome(s, &out[got], n - got, idleMs);
    if (!r.ok()) break;
    got += r.bytes;
  }
  out.resize(got);
  return out;
}

// Reads until `text` has arrived (or the peer closes); returns what was read.
inline std::string ReadUntil(nbplat::Socket s, const std::string& text, int idleMs = 20000) {
  std::string out;
  char buf[4096];
  while (out.find(text) == std::string::npos) {
    const nbplat::IoResult r = nbplat::RecvSome(s, buf, sizeof buf, idleMs);
    if (!r.ok()) break;
    out.append(buf, r.bytes);
  }
  return out;
}

// How a peer sees a connection closed after SetResetOnClose: as a reset
// (Failed); under Wine, whose sockets end such a close in order, as Closed.
inline nbplat::IoStatus AbortAsSeen() {
  const bool wine = nbplat::PathSeparator() == '\\' && std::getenv("WINEPREFIX") != nullptr;
  return wine ? nbplat::IoStatus::Closed : nbplat::IoStatus::Failed;
}

inline bool SendText(nbplat::Socket s, const std::string& text) {
  return nbplat::SendAll(s, text.data(), text.size()).ok();
}

}  // namespace nbtest
