// The choice between the direct road and the compression service for one
// request. Reading the request itself is request_reader.h's.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/limits.h"
#include "kernel/request_reader.h"
#include "platform/platform.h"

// What the road choice looks at for one request.
struct RoadFacts {
  std::int32_t iNoMoneyLogin = 0;  // non-zero: the account has no money
  int iRequestSize = 0;            // total request size announced
  bool bOnLine = true;             // the service link is usable
  std::uint32_t ipHost = 0;        // destination, network byte order
  std::string sExt;                // file extension (GetFileExtensionFromHttpRequest), or empty
};

// True when the request goes the direct road: no money, a request of
// nb::kMaxPacketSize bytes or more, off line, a free-of-charge
// destination, an incompressible file or the host 127.0.0.1. Every test is
// evaluated and traced, even after one has held.
bool ChooseDirectRoad(const RoadFacts& facts);

// True when ipNet:port reaches this client's own proxy listener, which
// listens on listenPort on every address: a loopback address (127.x.x.x),
// 0.0.0.0 or an address of one of this machine's interfaces. listenPort 0
// (not known) matches nothing. Reads the interface list only when the ports
// match.
bool IsOwnListener(std::uint32_t ipNet, int port, int listenPort);
