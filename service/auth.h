// Clock and authentication decisions for one request.
#pragma once

#include <cstdint>
#include <string>

namespace nbsvc {

// The service clock: Unix time in whole seconds.
std::int64_t ServiceClock();

// True when the client's clock estimate is more than the tolerance away from
// ours, so the client must get a time correction before it is served.
bool ClockNeedsCorrection(std::int32_t clientTime, std::int64_t serviceNow);

// True when authCode is the low 16 bits of getAuthCode(passwordDigest, time).
bool AuthCodeMatches(const std::string& passwordDigest, std::int32_t time, std::uint16_t authCode);

}  // namespace nbsvc
