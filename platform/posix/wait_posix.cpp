// Half-close and waiting on two sockets at once (tunnels relay both ways).
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/platform.h"

namespace nbplat {

void ShutdownSend(Socket s) {
  if (s == kNoSocket) return;
  shutdown(static_cast<int>(s), SHUT_WR);
}

int WaitReadable(Socket a, Socket b, int timeoutMs) {
  pollfd p[2] = {};
  p[0].fd = a == kNoSocket ? -1 : static_cast<int>(a);
  p[1].fd = b == kNoSocket ? -1 : static_cast<int>(b);
  p[0].events = p[1].events = POLLIN;
  for (;;) {
    const int r = poll(p, 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    const short ready = POLLIN | POLLHUP | POLLERR | POLLNVAL;
    return ((p[0].revents & ready) ? 1 : 0) | ((p[1].revents & ready) ? 2 : 0);
  }
}

}  // namespace nbplat
