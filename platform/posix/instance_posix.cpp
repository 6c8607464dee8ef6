// POSIX single-copy claim: a Unix socket bound to an abstract name, which
// belongs to the network namespace like a TCP port and goes with the process.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace nbplat {
namespace {

// Claims kept until the process ends; the system frees them with it.
std::mutex g_mtxClaims;
std::vector<int> g_claims;  // guarded by g_mtxClaims

}  // namespace

bool ClaimInstance(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // cannot tell: the caller's own checks decide
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // sun_path[0] stays 0: an abstract name, never a file.
  const std::size_t n = std::min(name.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
    std::lock_guard<std::mutex> lock(g_mtxClaims);
    g_claims.push_back(fd);
    return true;
  }
  const int err = errno;
  close(fd);
  return err != EADDRINUSE;
}

}  // namespace nbplat
