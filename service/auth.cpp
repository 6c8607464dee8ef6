// Clock and authentication decisions.
#include "auth.h"

#include <chrono>

#include "protocol/hash.h"
#include "service_limits.h"

namespace nbsvc {

std::int64_t ServiceClock() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

bool ClockNeedsCorrection(std::int32_t clientTime, std::int64_t serviceNow) {
  std::int64_t diff = serviceNow - static_cast<std::int64_t>(clientTime);
  if (diff < 0) diff = -diff;
  return diff > kClockToleranceSec;
}

bool AuthCodeMatches(const std::string& passwordDigest, std::int32_t time, std::uint16_t authCode) {
  int code = getAuthCode(passwordDigest.c_str(), time);
  return static_cast<std::uint16_t>(code & 0xFFFF) == authCode;
}

}  // namespace nbsvc
