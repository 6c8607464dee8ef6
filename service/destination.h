// Which web server addresses the service agrees to fetch from.
#pragma once

#include <cstdint>
#include <string>

namespace nbsvc {

// True for addresses a public service must not reach on a client's behalf:
// "this" network, loopback, private ranges, shared address space, link-local,
// multicast, reserved and broadcast. ipNet is in network order (first octet
// first in memory).
bool IsInternalAddress(std::uint32_t ipNet);

// Whether a fetch to ipNet:port is refused; allowPrivate lifts the address
// check, port 0 is always refused.
bool IsRefusedDestination(std::uint32_t ipNet, std::uint16_t port, bool allowPrivate);

// "a.b.c.d" of an address in network order.
std::string FormatIPv4(std::uint32_t ipNet);

}  // namespace nbsvc
