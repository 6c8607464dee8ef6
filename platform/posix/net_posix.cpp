// POSIX sockets behind the platform interface. Every system error is turned
// into a boolean or an IoResult here; callers never see errno.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace nbplat {
namespace {

int Fd(Socket s) { return static_cast<int>(s); }

// Waits until fd is ready for `events`; 1 ready, 0 timed out, -1 failure.
// Restarts after signals with the time that is left.
int WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{};
  p.fd = fd;
  p.events = events;
  for (;;) {
    int r = poll(&p, 1, timeoutMs);
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

bool SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || fcntl(fd, F_SETFL, wanted) == 0;
}

}  // namespace

bool NetStartup() { return true; }
void NetCleanup() {}

Socket TcpSocket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : static_cast<Socket>(fd);
}

void CloseSocket(Socket s) {
  if (s == kNoSocket) return;
  close(Fd(s));
}

void ShutdownSocket(Socket s) {
  if (s == kNoSocket) return;
  shutdown(Fd(s), SHUT_RDWR);
}

bool SetReuseAddress(Socket s) {
  int one = 1;
  return s != kNoSocket && setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

bool SetBlocking(Socket s) { return s != kNoSocket && SetNonBlocking(Fd(s), false); }

bool BindIPv4(Socket s, std::uint16_t port, std::uint32_t ipNet) {
  if (s == kNoSocket) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ipNet == 0 ? htonl(INADDR_ANY) : ipNet;
  return bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool ListenOn(Socket s, int backlog) {
  if (s == kNoSocket) return false;
  if (backlog > SOMAXCONN || backlog < 0) backlog = SOMAXCONN;
  return listen(Fd(s), backlog) == 0;
}

std::uint16_t LocalPort(Socket s) {
  if (s == kNoSocket) return 0;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
    return 0;
  return ntohs(a.sin_port);
}

std::uint32_t LocalIPv4(Socket s) {
  if (s == kNoSocket) return 0;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
    return 0;
  return a.sin_addr.s_addr;
}

Socket AcceptConnection(Socket listener, std::uint32_t* peerIpNet) {
  if (listener == kNoSocket) return kNoSocket;
  for (;;) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int fd = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (fd >= 0) {
      if (peerIpNet) *peerIpNet = a.sin_family == AF_INET ? a.sin_addr.s_addr : 0;
      return static_cast<Socket>(fd);
    }
    // A connection that died in the queue is not a failure of the listener.
    if (errno != EINTR && errno != ECONNABORTED) return kNoSocket;
  }
}

bool ConnectIPv4(Socket s, std::uint32_t ipNet, std::uint16_t port, int timeoutMs) {
  if (s == kNoSocket) return false;
  int fd = Fd(s);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ipNet;
  if (timeoutMs < 0) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
    if (errno != EINTR) return false;
    // Interrupted: the connection goes on in the background; wait for it.
    if (WaitFor(fd, POLLOUT, -1) != 1) return false;
  } else {
    if (!SetNonBlocking(fd, true)) return false;
    int r = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0) {
      if ((errno != EINPROGRESS && errno != EINTR) || WaitFor(fd, POLLOUT, timeoutMs) != 1) {
        SetNonBlocking(fd, false);
        return false;
      }
    }
    if (!SetNonBlocking(fd, false)) return false;
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return false;
  return err == 0;
}

IoResult SendSome(Socket s, const void* data, std::size_t len) {
  if (s == kNoSocket) return {IoStatus::Failed, 0};
  if (len == 0) return {IoStatus::Ok, 0};
  for (;;) {
    ssize_t n = send(Fd(s), data, len, MSG_NOSIGNAL);
    if (n >= 0) return {IoStatus::Ok, static_cast<std::size_t>(n)};
    if (errno == EINTR) continue;
    if (errno == EPIPE || errno == ECONNRESET) return {IoStatus::Closed, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::TimedOut, 0};
    return {IoStatus::Failed, 0};
  }
}

IoResult SendAll(Socket s, const void* data, std::size_t len) {
  if (s == kNoSocket) return {IoStatus::Failed, 0};
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < len) {
    IoResult r = SendSome(s, p + done, len - done);
    if (!r.ok()) return {r.status, 0};
    done += r.bytes;
  }
  return {IoStatus::Ok, done};
}

IoResult RecvSome(Socket s, void* data, std::size_t len, int timeoutMs) {
  if (s == kNoSocket) return {IoStatus::Failed, 0};
  if (len == 0) return {IoStatus::Ok, 0};
  int fd = Fd(s);
  if (timeoutMs >= 0) {
    int w = WaitFor(fd, POLLIN, timeoutMs);
    if (w == 0) return {IoStatus::TimedOut, 0};
    if (w < 0) return {IoStatus::Failed, 0};
  }
  for (;;) {
    ssize_t n = recv(fd, data, len, 0);
    if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::Closed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::TimedOut, 0};
    return {IoStatus::Failed, 0};
  }
}

bool SetSendTimeout(Socket s, int timeoutMs) {
  if (s == kNoSocket || timeoutMs < 0) return false;
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  return setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool SetResetOnClose(Socket s) {
  if (s == kNoSocket) return false;
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  return setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool SetNoDelay(Socket s) {
  if (s == kNoSocket) return false;
  int on = 1;
  return setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool ResolveIPv4(const std::string& host, std::uint32_t* ipNet) {
  if (host.empty() || host.find('\0') != std::string::npos) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return false;
  bool found = false;
  for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addr != nullptr) {
      if (ipNet) *ipNet = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(res);
  return found;
}

}  // namespace nbplat
