// The worker's choice of road for one request.
#include "kernel/road.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "http/http_text.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "support/debug.h"

bool ChooseDirectRoad(const RoadFacts& facts) {
  bool bDirect = false;
  if (facts.iNoMoneyLogin != 0) {
    dbgmsg("if: iNoMoneyLogin != 0");
    bDirect = true;
  }
  if (facts.iRequestSize > nb::kMaxPacketSize - 1) {
    dbgmsg("if: iRequestSize >= NB_CLIENT_MAX_PACKET_SIZE");
    bDirect = true;
  }
  if (!facts.bOnLine) {
    dbgmsg("if: !bOnLine");
    bDirect = true;
  }
  if (isFreeOfChargeIP(facts.ipHost)) {
    dbgmsg("if: isFreeOfChargeIP(ip)");
    bDirect = true;
  }
  if (isFileCantCompress(facts.sExt.c_str())) {
    dbgmsg("if: isFileCantCompress(sTmp)");
    bDirect = true;
  }
  if (facts.ipHost == nb::kLoopbackNet) {
    dbgmsg("ip != 16777343, ip = " + IpIntToStr(facts.ipHost));
    bDirect = true;
  }
  return bDirect;
}

bool IsOwnListener(std::uint32_t ipNet, int port, int listenPort) {
  if (listenPort <= 0 || port != listenPort) return false;
  unsigned char first = 0;
  std::memcpy(&first, &ipNet, 1);  // network order: the first byte is the first number
  if (first == 127 || ipNet == 0) return true;
  const std::vector<std::uint32_t> own = nbplat::LocalIPv4Addresses();
  return std::find(own.begin(), own.end(), ipNet) != own.end();
}
