// Road choice and request reading of the worker.
#include "kernel/road.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "http/http.h"
#include "http/nbHttp.h"
#include "kernel/filters.h"
#include "kernel/limits.h"
#include "support/debug.h"

namespace {

// 127.0.0.1 in network byte order read as one 32-bit little-endian number.
constexpr std::uint32_t kLoopbackNet = 16777343u;

}  // namespace

bool ChooseDirectRoad(const RoadFacts& facts) {
  bool bDirect = false;
  if (facts.iNoMoneyLogin != 0) {
    dbgmsg("if: iNoMoneyLogin != 0");
    bDirect = true;
  }
  if (facts.iRequestSize > NB_CLIENT_MAX_PACKET_SIZE - 1) {
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
  if (facts.ipHost == kLoopbackNet) {
    dbgmsg("ip != 16777343, ip = " + IpIntToStr(facts.ipHost));
    bDirect = true;
  }
  return bDirect;
}

int RequestWireSize(const char* buff, int count) {
  if (!isHttpHeaderExists(buff, count)) return -1;
  const int iHead = getHeaderLen(buff);
  if (iHead <= 0) return -1;
  char sLen[32] = {0};
  long long total = iHead;
  if (getParameterFromHttpHeader("Content-Length", sLen, sizeof sLen, buff)) {
    const long long body = std::atoll(sLen);
    if (body > 0) total += body;
  }
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

RequestState ClassifyRequest(const char* buff, int count) {
  if (count <= 0) return RequestState::Incomplete;
  if (isHttpHeaderExists(buff, count)) {
    const int wire = RequestWireSize(buff, count);
    return (wire >= 0 && wire <= count) ? RequestState::Complete : RequestState::Incomplete;
  }
  // A complete head that is not a GET or POST will never become one.
  for (int i = 3; i < count; ++i) {
    if (buff[i - 3] == '\r' && buff[i - 2] == '\n' && buff[i - 1] == '\r' && buff[i] == '\n') {
      return RequestState::OtherMethod;
    }
  }
  return RequestState::Incomplete;
}

int ReadBrowserRequest(nbplat::Socket s, char* buff, int cap, int limit, int idleMs,
                       int headDeadlineMs) {
  if (cap <= 0) return 0;
  if (limit > cap - 1) limit = cap - 1;
  int count = 0;
  buff[0] = 0;
  const std::uint32_t start = nbplat::TickCountMs();
  while (count < limit && ClassifyRequest(buff, count) == RequestState::Incomplete) {
    // Until the head is complete, each read waits only for what is left of
    // the head's deadline: a browser sending a byte now and then is cut off.
    int wait = idleMs;
    if (headDeadlineMs >= 0 &&
        std::string_view(buff, static_cast<std::size_t>(count)).find("\r\n\r\n") ==
            std::string_view::npos) {
      const std::uint32_t spent = nbplat::TickCountMs() - start;
      if (spent >= static_cast<std::uint32_t>(headDeadlineMs)) {
        dbgmsg("request head deadline passed");
        break;
      }
      const int left = headDeadlineMs - static_cast<int>(spent);
      if (wait < 0 || left < wait) wait = left;
    }
    const nbplat::IoResult r =
        nbplat::RecvSome(s, buff + count, static_cast<std::size_t>(limit - count), wait);
    if (!r.ok()) break;
    count += static_cast<int>(r.bytes);
    buff[count] = 0;
    dbgmsg("accept http-header part from browser. iRecvDataSize=");
    dbgmsg(static_cast<double>(r.bytes));
  }
  return count;
}
