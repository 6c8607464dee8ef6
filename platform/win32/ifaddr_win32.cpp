// This machine's interface addresses, from the sockets library's interface
// list (SIO_GET_INTERFACE_LIST), which needs no library beyond ws2_32.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/platform.h"
#include "platform/win32/winsock_init.h"

namespace nbplat {
namespace {

// A machine with more interface addresses than this is told about the first ones.
constexpr int kMaxInterfaces = 64;

}  // namespace

std::vector<std::uint32_t> LocalIPv4Addresses() {
  std::vector<std::uint32_t> out;
  if (!win32::EnsureWinsock()) return out;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return out;
  std::vector<INTERFACE_INFO> list(kMaxInterfaces);
  DWORD bytes = 0;
  const DWORD size = static_cast<DWORD>(list.size() * sizeof(INTERFACE_INFO));
  if (WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, list.data(), size, &bytes, nullptr,
               nullptr) == 0) {
    const std::size_t n = bytes / sizeof(INTERFACE_INFO);
    for (std::size_t i = 0; i < n && i < list.size(); ++i) {
      const sockaddr* a = &list[i].iiAddress.Address;
      if (a->sa_family != AF_INET || (list[i].iiFlags & IFF_UP) == 0) continue;
      out.push_back(list[i].iiAddress.AddressIn.sin_addr.s_addr);
    }
  }
  closesocket(s);
  return out;
}

}  // namespace nbplat
