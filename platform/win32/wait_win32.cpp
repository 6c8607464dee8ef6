// Half-close and waiting on two sockets at once (tunnels relay both ways).
#include <winsock2.h>

#include "platform/platform.h"

namespace nbplat {

void ShutdownSend(Socket s) {
  if (s == kNoSocket) return;
  shutdown(static_cast<SOCKET>(s), SD_SEND);
}

int WaitReadable(Socket a, Socket b, int timeoutMs) {
  fd_set ready, except;
  FD_ZERO(&ready);
  FD_ZERO(&except);
  for (Socket s : {a, b}) {
    if (s == kNoSocket) continue;
    FD_SET(static_cast<SOCKET>(s), &ready);
    FD_SET(static_cast<SOCKET>(s), &except);
  }
  if (ready.fd_count == 0) return -1;
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  const int r = select(0, &ready, nullptr, &except, timeoutMs < 0 ? nullptr : &tv);
  if (r == SOCKET_ERROR) return -1;
  int mask = 0;
  if (a != kNoSocket &&
      (FD_ISSET(static_cast<SOCKET>(a), &ready) || FD_ISSET(static_cast<SOCKET>(a), &except)))
    mask |= 1;
  if (b != kNoSocket &&
      (FD_ISSET(static_cast<SOCKET>(b), &ready) || FD_ISSET(static_cast<SOCKET>(b), &except)))
    mask |= 2;
  return mask;
}

}  // namespace nbplat
