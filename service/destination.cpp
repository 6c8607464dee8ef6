// Destination checks for the fetcher.
#include "destination.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/platform.h"
#include "service_limits.h"

namespace nbsvc {

namespace {

void Octets(std::uint32_t ipNet, unsigned char o[4]) { std::memcpy(o, &ipNet, 4); }

}  // namespace

bool IsInternalAddress(std::uint32_t ipNet) {
  unsigned char o[4];
  Octets(ipNet, o);
  if (o[0] == 0 || o[0] == 10 || o[0] == 127) return true;  // this net, private, loopback
  if (o[0] == 100 && (o[1] & 0xC0) == 64) return true;      // 100.64/10 shared space
  if (o[0] == 169 && o[1] == 254) return true;              // link-local
  if (o[0] == 172 && (o[1] & 0xF0) == 16) return true;      // 172.16/12
  if (o[0] == 192 && o[1] == 168) return true;              // 192.168/16
  if (o[0] == 192 && o[1] == 0 && o[2] == 0) return true;   // 192.0.0/24 protocol use
  if (o[0] == 198 && (o[1] & 0xFE) == 18) return true;      // 198.18/15 benchmarking
  if (o[0] >= 224) return true;                             // multicast, reserved, broadcast
  return false;
}

bool IsRefusedDestination(std::uint32_t ipNet, std::uint16_t port, bool allowPrivate) {
  if (port == 0) return true;
  if (allowPrivate) return false;
  return IsInternalAddress(ipNet);
}

OwnAddresses::OwnAddresses(Reader reader)
    : reader_(reader ? std::move(reader) : Reader(nbplat::LocalIPv4Addresses)) {}

bool OwnAddresses::Contains(std::uint32_t ipNet, std::int64_t now) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!read_ || now - readAt_ >= kOwnAddressesRefreshSec || now < readAt_) {
    addresses_ = reader_();
    readAt_ = now;
    read_ = true;
  }
  return std::find(addresses_.begin(), addresses_.end(), ipNet) != addresses_.end();
}

bool DestinationPolicy::Refused(std::uint32_t ipNet, std::uint16_t port, std::int64_t now) {
  if (port == 0 || port == ownPort_.load()) return true;
  if (allowPrivate_) return false;
  if (IsInternalAddress(ipNet)) return true;
  if (now < 0) {
    using namespace std::chrono;
    now = duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
  }
  return own_.Contains(ipNet, now);
}

std::string FormatIPv4(std::uint32_t ipNet) {
  unsigned char o[4];
  Octets(ipNet, o);
  std::string s;
  for (int i = 0; i < 4; ++i) {
    if (i) s += '.';
    s += std::to_string(o[i]);
  }
  return s;
}

}  // namespace nbsvc
