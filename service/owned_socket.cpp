// Socket helpers of the service.
#include "owned_socket.h"

namespace nbsvc {

nbplat::IoStatus RecvExact(nbplat::Socket s, void* data, std::size_t len, int idleMs) {
  return RecvExactBy(s, data, len, idleMs, Deadline::max());
}

nbplat::IoStatus RecvExactBy(nbplat::Socket s, void* data, std::size_t len, int idleMs,
                             Deadline deadline) {
  unsigned char* p = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  while (got < len) {
    int waitMs = idleMs;
    if (deadline != Deadline::max()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) return nbplat::IoStatus::TimedOut;
      if (left < waitMs) waitMs = static_cast<int>(left);
    }
    nbplat::IoResult r = nbplat::RecvSome(s, p + got, len - got, waitMs);
    if (!r.ok()) return r.status;
    if (r.bytes == 0) return nbplat::IoStatus::Closed;
    got += r.bytes;
  }
  return nbplat::IoStatus::Ok;
}

nbplat::IoStatus SendAllWithin(nbplat::Socket s, const char* data, std::size_t len, int idleMs,
                               std::size_t* sent) {
  std::size_t done = 0;
  auto progress = std::chrono::steady_clock::now();
  nbplat::IoStatus st = nbplat::IoStatus::Ok;
  while (done < len) {
    nbplat::IoResult r = nbplat::SendSome(s, data + done, len - done);
    if (r.ok()) {
      if (r.bytes > 0) progress = std::chrono::steady_clock::now();
      done += r.bytes;
      continue;
    }
    if (r.status != nbplat::IoStatus::TimedOut ||
        std::chrono::steady_clock::now() - progress >= std::chrono::milliseconds(idleMs)) {
      st = r.status;
      break;
    }
  }
  if (sent) *sent = done;
  return st;
}

}  // namespace nbsvc
