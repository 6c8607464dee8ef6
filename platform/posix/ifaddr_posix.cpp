// This machine's interface addresses, from the system's interface list.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/platform.h"

namespace nbplat {

std::vector<std::uint32_t> LocalIPv4Addresses() {
  std::vector<std::uint32_t> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (const ifaddrs* p = list; p != nullptr; p = p->ifa_next) {
    // An interface that is down no longer receives for its address.
    if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET) continue;
    if ((p->ifa_flags & IFF_UP) == 0) continue;
    out.push_back(reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
  }
  freeifaddrs(list);
  return out;
}

}  // namespace nbplat
