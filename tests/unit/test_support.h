// Helpers shared by the unit tests: IPv4 addresses, loopback listeners and
// connected socket pairs, whole-stream reads (all through the platform
// layer), and temporary folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "platform/owned_socket.h"
#include "platform/platform.h"

namespace nbtest {

// 127.0.0.1 in network byte order.
inline constexpr std::uint32_t kLoopback = 0x0100007Fu;

// a.b.c.d in network byte order.
inline std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t ip;
  std::memcpy(&ip, bytes, sizeof ip);
  return ip;
}

// 127.0.0.last in network byte order.
inline std::uint32_t Loopback(int last = 1) { return Ip(127, 0, 0, static_cast<unsigned>(last)); }

// The sockets library is started once for every test that includes this.
inline const bool kNetReady = nbplat::NetStartup();

// Closes its socket when it goes out of scope.
using SocketHolder = nbplat::OwnedSocket;

// A listening socket on ip (127.0.0.1 by default) at a port the system
// picks; port() is 0 when it could not listen.
class Listener {
 public:
  explicit Listener(std::uint32_t ip = kLoopback) : s_(nbplat::TcpSocket()) {
    nbplat::SetReuseAddress(s_.get());
    if (nbplat::BindIPv4(s_.get(), 0, ip) && nbplat::ListenOn(s_.get(), 16)) {
      port_ = nbplat::LocalPort(s_.get());
    }
  }
  std::uint16_t port() const { return port_; }
  nbplat::Socket get() const { return s_.get(); }
  // The next connection (kNoSocket on failure), owned by the caller.
  nbplat::Socket Accept() {
    std::uint32_t ip = 0;
    return nbplat::AcceptConnection(s_.get(), &ip);
  }
  // Stops listening: nothing answers at port() any more.
  void Close() { s_.reset(); }

 private:
  SocketHolder s_;
  std::uint16_t port_ = 0;
};

// A new socket connected to 127.0.0.1:port; kNoSocket on failure.
inline nbplat::Socket ConnectLocal(std::uint16_t port) {
  SocketHolder s(nbplat::TcpSocket());
  if (!s.valid() || !nbplat::ConnectIPv4(s.get(), kLoopback, port, 5000)) return nbplat::kNoSocket;
  return s.release();
}

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

// A fresh folder under the system's temporary folder, removed with all it
// holds on destruction.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto p = std::filesystem::temp_directory_path() / ("nbtest-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(p, ec)) path_ = p.string();
    }
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A TempDir that is the current folder while it lives; the folder current
// before is restored first.
class WorkDir {
 public:
  WorkDir() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~WorkDir() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  std::filesystem::path path() const { return dir_.path(); }

 private:
  std::filesystem::path previous_;
  TempDir dir_;  // removed after the destructor has left it
};

}  // namespace nbtest
