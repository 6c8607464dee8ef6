#include "protocol/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/debug.h"

namespace {

// Folds a known digest the way the authentication code is defined: sixteen
// big-endian words of character codes, summed modulo 65536.
int Fold(const char* digest) {
  unsigned sum = 0;
  for (int i = 0; i < 32; i += 2)
    sum += static_cast<unsigned char>(digest[i]) * 256u + static_cast<unsigned char>(digest[i + 1]);
  return static_cast<int>(sum % 65536);
}

const char kStored[] = "0123456789abcdef0123456789abcdef";

std::vector<std::string> g_trace;
void Collect(const std::string& line) { g_trace.push_back(line); }

}  // namespace

TEST(AuthCode, DigestOfHashAndDecimalClock) {
  // md5("0123456789abcdef0123456789abcdef1234567890")
  EXPECT_EQ(getAuthCode(kStored, 1234567890), Fold("d3a1f5f9184d76ffa343129bb9b590a2"));
  // One second later the code is unrelated.
  EXPECT_EQ(getAuthCode(kStored, 1234567891), Fold("7ea44a2e3cb5e531986265bb1989f427"));
  EXPECT_EQ(getAuthCode(kStored, 1234567890), getAuthCode(kStored, 1234567890));
}

TEST(AuthCode, NegativeClockKeepsItsMinusSign) {
  // md5("0123456789abcdef0123456789abcdef-5")
  EXPECT_EQ(getAuthCode(kStored, -5), Fold("172d6eb1675200470636df7ef9a4f966"));
}

TEST(AuthCode, EmptyDigestHashesTheClockAlone) {
  EXPECT_EQ(getAuthCode("", 5), Fold("e4da3b7fbbce2345d7772b0674a318d5"));  // md5("5")
  EXPECT_EQ(getAuthCode("", 0), Fold("cfcd208495d565ef66e7dff9f98764da"));  // md5("0")
  // Every hex character code is at least 0x30, so the sixteen words add up
  // to at least 197376: the code only fits 16 bits by wrapping.
  EXPECT_EQ(getAuthCode("", 5), 35942);
}

TEST(AuthCode, OverlongStoredHashIsHashedWhole) {
  // A hand-edited options file may hold far more than a digest; the code
  // covers all of it: md5(200 * "x" + "-2147483648").
  std::string longHash(200, 'x');
  EXPECT_EQ(getAuthCode(longHash.c_str(), -2147483647 - 1),
            Fold("1e2555fd2d24a8e5b6b12796b14f30a8"));
}

TEST(AuthCode, WarnsOnlyWhenHashIsNot32Characters) {
  const std::string warning = "hash getAuthCode() Warning: sHash is not a 32 bytes";
  g_trace.clear();
  SetTraceSink(Collect);
  getAuthCode(kStored, 7);
  std::vector<std::string> good = g_trace;
  g_trace.clear();
  getAuthCode("abc", 7);
  std::vector<std::string> bad = g_trace;
  SetTraceSink(nullptr);
  EXPECT_EQ(std::count(good.begin(), good.end(), warning), 0);
  EXPECT_EQ(std::count(bad.begin(), bad.end(), warning), 1);
  EXPECT_EQ(std::count(good.begin(), good.end(), std::string(kStored) + "7"), 1);
}
