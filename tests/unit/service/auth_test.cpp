// Clock and authentication decisions.
#include "auth.h"

#include <gtest/gtest.h>

#include "protocol/hash.h"
#include "protocol/md5.h"

namespace {

TEST(ServiceClock, ToleranceIsTenSecondsEitherWay) {
  const std::int64_t now = 1800000000;
  EXPECT_FALSE(nbsvc::ClockNeedsCorrection(1800000000, now));
  EXPECT_FALSE(nbsvc::ClockNeedsCorrection(1800000010, now));
  EXPECT_FALSE(nbsvc::ClockNeedsCorrection(1799999990, now));
  EXPECT_TRUE(nbsvc::ClockNeedsCorrection(1800000011, now));
  EXPECT_TRUE(nbsvc::ClockNeedsCorrection(1799999989, now));
  // A fresh client sends seconds since boot: far off.
  EXPECT_TRUE(nbsvc::ClockNeedsCorrection(3600, now));
  EXPECT_TRUE(nbsvc::ClockNeedsCorrection(-2147483647 - 1, now));
}

TEST(ServiceClock, IsUnixTime) {
  // Later than 2026-01-01 and earlier than 2100.
  EXPECT_GT(nbsvc::ServiceClock(), 1767225600);
  EXPECT_LT(nbsvc::ServiceClock(), 4102444800);
}

TEST(ServiceAuth, CodeOverStoredDigestAndTime) {
  char digest[33];
  md5str(digest, "secret");
  const std::int32_t t = 1800000000;
  std::uint16_t good = static_cast<std::uint16_t>(getAuthCode(digest, t));
  EXPECT_TRUE(nbsvc::AuthCodeMatches(digest, t, good));
  EXPECT_FALSE(nbsvc::AuthCodeMatches(digest, t, static_cast<std::uint16_t>(good + 1)));
  // The same code does not hold for another second or another password.
  char other[33];
  md5str(other, "Secret");
  EXPECT_FALSE(nbsvc::AuthCodeMatches(other, t, good));
  std::uint16_t next = static_cast<std::uint16_t>(getAuthCode(digest, t + 1));
  if (next != good) {
    EXPECT_FALSE(nbsvc::AuthCodeMatches(digest, t + 1, good));
  }
  // An empty digest (fresh client) still has a well-defined code.
  std::uint16_t empty = static_cast<std::uint16_t>(getAuthCode("", t));
  EXPECT_TRUE(nbsvc::AuthCodeMatches("", t, empty));
}

}  // namespace
