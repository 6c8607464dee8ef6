// Socket helpers of the service.
#include "owned_socket.h"

namespace nbsvc {

nbplat::IoStatus RecvExact(nbplat::Socket s, void* data, std::size_t len, int idleMs) {
  unsigned char* p = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  while (got < len) {
    nbplat::IoResult r = nbplat::RecvSome(s, p + got, len - got, idleMs);
    if (!r.ok()) return r.status;
    if (r.bytes == 0) return nbplat::IoStatus::Closed;
    got += r.bytes;
  }
  return nbplat::IoStatus::Ok;
}

}  // namespace nbsvc
