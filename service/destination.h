// Which web server addresses the service agrees to fetch from.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace nbsvc {

// True for addresses a public service must not reach on a client's behalf:
// "this" network, loopback, private ranges, shared address space, link-local,
// multicast, reserved and broadcast. ipNet is in network order (first octet
// first in memory).
bool IsInternalAddress(std::uint32_t ipNet);

// Whether a fetch to ipNet:port is refused; allowPrivate lifts the address
// check, port 0 is always refused.
bool IsRefusedDestination(std::uint32_t ipNet, std::uint16_t port, bool allowPrivate);

// The addresses of this machine's interfaces, read again when the last
// reading is older than kOwnAddressesRefreshSec (addresses come and go).
// Safe from many threads.
class OwnAddresses {
 public:
  using Reader = std::function<std::vector<std::uint32_t>()>;
  // reader lists the addresses in network order; by default the system's.
  explicit OwnAddresses(Reader reader = Reader());
  // True when ipNet is one of them at now (whole seconds of a clock that
  // never goes back). Locks mu_; reads the interfaces under it.
  bool Contains(std::uint32_t ipNet, std::int64_t now);

 private:
  const Reader reader_;
  std::mutex mu_;  // guards the fields below
  std::vector<std::uint32_t> addresses_;
  std::int64_t readAt_ = 0;
  bool read_ = false;
};

// Where one service refuses to fetch from: port 0, its own listening port on
// any address (a request to itself would be relayed through itself), and
// unless private destinations are allowed, internal addresses and every
// address of its own interfaces (what a host firewall keeps from outside).
// Safe from many threads.
class DestinationPolicy {
 public:
  DestinationPolicy(bool allowPrivate, std::uint16_t ownPort,
                    OwnAddresses::Reader reader = OwnAddresses::Reader())
      : allowPrivate_(allowPrivate), ownPort_(ownPort), own_(std::move(reader)) {}
  // The port actually bound, once known (the configured one may be 0).
  void SetOwnPort(std::uint16_t port) { ownPort_.store(port); }
  // Whether a fetch of ipNet:port is refused at now (whole seconds of the
  // steady clock; by default read here).
  bool Refused(std::uint32_t ipNet, std::uint16_t port, std::int64_t now = -1);

 private:
  const bool allowPrivate_;
  std::atomic<std::uint16_t> ownPort_;
  OwnAddresses own_;
};

// "a.b.c.d" of an address in network order.
std::string FormatIPv4(std::uint32_t ipNet);

}  // namespace nbsvc
