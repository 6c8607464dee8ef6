// Windows Sockets 2 behind the platform interface. Every WSA error is turned
// into a boolean or an IoResult here; callers never see WSAGetLastError.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "platform/platform.h"
#include "platform/win32/winsock_init.h"

namespace nbplat {
namespace {

SOCKET Sock(Socket s) { return static_cast<SOCKET>(s); }

int ClampLen(std::size_t len) { return len > INT_MAX ? INT_MAX : static_cast<int>(len); }

// Waits until s is readable (or writable); 1 ready, 0 timed out, -1 failure.
// A failed non-blocking connect shows in the exception set, so it counts as
// "ready" and the caller reads the outcome from SO_ERROR.
int WaitFor(SOCKET s, bool forWrite, int timeoutMs) {
  fd_set ready, except;
  FD_ZERO(&ready);
  FD_ZERO(&except);
  FD_SET(s, &ready);
  FD_SET(s, &except);
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  int r = forWrite ? select(0, nullptr, &ready, &except, timeoutMs < 0 ? nullptr : &tv)
                   : select(0, &ready, nullptr, &except, timeoutMs < 0 ? nullptr : &tv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &mode) == 0;
}

// What a receive would find now, told without waiting.
enum class Pending { Nothing, Data, Ended };

// Looks at the socket itself when a wait timed out. After our own shut-down
// of the receive side, select never reports the socket readable; and where
// readiness reaches select late (Wine's server under load), data that is
// already there must not pass for silence. A non-blocking peek tells.
Pending PeekPending(SOCKET s) {
  if (!SetNonBlocking(s, true)) return Pending::Nothing;
  char c;
  int n = recv(s, &c, 1, MSG_PEEK);
  int err = n < 0 ? WSAGetLastError() : 0;
  SetNonBlocking(s, false);
  if (n > 0) return Pending::Data;
  return n == 0 || err == WSAESHUTDOWN ? Pending::Ended : Pending::Nothing;
}

}  // namespace

namespace win32 {

bool EnsureWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace win32

bool NetStartup() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  return true;
}

// Balances one NetStartup. The process-wide start made on first use stays,
// so sockets still open at this point (the listener) can be closed after it.
void NetCleanup() { WSACleanup(); }

Socket TcpSocket() {
  win32::EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  // Keep the handle out of child processes (the route-table command).
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<Socket>(s);
}

void CloseSocket(Socket s) {
  if (s == kNoSocket) return;
  closesocket(Sock(s));
}

void ShutdownSocket(Socket s) {
  if (s == kNoSocket) return;
  shutdown(Sock(s), SD_BOTH);
}

// SO_REUSEADDR on Windows lets another socket bind a port that is already
// listening, which would let a second program (or a second copy of this one)
// take the port over. Windows allows re-listening right after a restart
// without it; exclusive use is what keeps the port ours.
bool SetReuseAddress(Socket s) {
  if (s == kNoSocket) return false;
  BOOL one = TRUE;
  return setsockopt(Sock(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                    sizeof one) == 0;
}

bool SetBlocking(Socket s) { return s != kNoSocket && SetNonBlocking(Sock(s), false); }

bool BindIPv4(Socket s, std::uint16_t port, std::uint32_t ipNet) {
  if (s == kNoSocket) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ipNet == 0 ? htonl(INADDR_ANY) : ipNet;
  return bind(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool ListenOn(Socket s, int backlog) {
  if (s == kNoSocket) return false;
  if (backlog < 0) backlog = SOMAXCONN;
  return listen(Sock(s), backlog) == 0;
}

std::uint16_t LocalPort(Socket s) {
  if (s == kNoSocket) return 0;
  sockaddr_in a{};
  int len = sizeof a;
  if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
    return 0;
  return ntohs(a.sin_port);
}

std::uint32_t LocalIPv4(Socket s) {
  if (s == kNoSocket) return 0;
  sockaddr_in a{};
  int len = sizeof a;
  if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
    return 0;
  return a.sin_addr.s_addr;
}

Socket AcceptConnection(Socket listener, std::uint32_t* peerIpNet) {
  if (listener == kNoSocket) return kNoSocket;
  for (;;) {
    sockaddr_in a{};
    int len = sizeof a;
    SOCKET c = accept(Sock(listener), reinterpret_cast<sockaddr*>(&a), &len);
    if (c != INVALID_SOCKET) {
      SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
      if (peerIpNet) *peerIpNet = a.sin_family == AF_INET ? a.sin_addr.s_addr : 0;
      return static_cast<Socket>(c);
    }
    // A connection that died in the queue is not a failure of the listener.
    int err = WSAGetLastError();
    if (err != WSAEINTR && err != WSAECONNRESET) return kNoSocket;
  }
}

bool ConnectIPv4(Socket s, std::uint32_t ipNet, std::uint16_t port, int timeoutMs) {
  if (s == kNoSocket) return false;
  SOCKET h = Sock(s);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ipNet;
  if (timeoutMs < 0) return connect(h, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;

  if (!SetNonBlocking(h, true)) return false;
  if (connect(h, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK || WaitFor(h, true, timeoutMs) != 1) {
      SetNonBlocking(h, false);
      return false;
    }
  }
  if (!SetNonBlocking(h, false)) return false;
  int err = 0;
  int len = sizeof err;
  if (getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return false;
  return err == 0;
}

IoResult SendSome(Socket s, const void* data, std::size_t len) {
  if (s == kNoSocket) return {IoStatus::Failed, 0};
  if (len == 0) return {IoStatus::Ok, 0};
  for (;;) {
    int n = send(Sock(s), static_cast<const char*>(data), ClampLen(len), 0);
    if (n >= 0) return {IoStatus::Ok, static_cast<std::size_t>(n)};
    switch (WSAGetLastError()) {
      case WSAEINTR:
        continue;
      case WSAECONNRESET:
      case WSAECONNABORTED:
      case WSAESHUTDOWN:
        return {IoStatus::Closed, 0};
      case WSAEWOULDBLOCK:
      case WSAETIMEDOUT:
        return {IoStatus::TimedOut, 0};
      default:
        return {IoStatus::Failed, 0};
    }
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
  SOCKET h = Sock(s);
  if (timeoutMs >= 0) {
    int w = WaitFor(h, false, timeoutMs);
    if (w < 0) return {IoStatus::Failed, 0};
    if (w == 0) {
      const Pending p = PeekPending(h);
      if (p == Pending::Ended) return {IoStatus::Closed, 0};
      if (p == Pending::Nothing) return {IoStatus::TimedOut, 0};
      // Data is there after all: the receive below takes it without waiting.
    }
  }
  for (;;) {
    int n = recv(h, static_cast<char*>(data), ClampLen(len), 0);
    if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::Closed, 0};
    switch (WSAGetLastError()) {
      case WSAEINTR:
        continue;
      case WSAESHUTDOWN:  // our own receive side was shut down: no more data
        return {IoStatus::Closed, 0};
      case WSAEWOULDBLOCK:
      case WSAETIMEDOUT:
        return {IoStatus::TimedOut, 0};
      default:
        return {IoStatus::Failed, 0};
    }
  }
}

bool SetSendTimeout(Socket s, int timeoutMs) {
  if (s == kNoSocket || timeoutMs < 0) return false;
  DWORD ms = static_cast<DWORD>(timeoutMs);
  return setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                    sizeof ms) == 0;
}

bool SetResetOnClose(Socket s) {
  if (s == kNoSocket) return false;
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  return setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) ==
         0;
}

bool SetNoDelay(Socket s) {
  if (s == kNoSocket) return false;
  int on = 1;
  return setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                    sizeof on) == 0;
}

bool ResolveIPv4(const std::string& host, std::uint32_t* ipNet) {
  if (host.empty() || host.find('\0') != std::string::npos) return false;
  if (!win32::EnsureWinsock()) return false;
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
