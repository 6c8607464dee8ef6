#include "protocol/base64.h"

#include <gtest/gtest.h>

#include <string>

TEST(Base64Encode, PadsShortGroups) {
  EXPECT_EQ(Base64::encode("abc"), "YWJj");
  EXPECT_EQ(Base64::encode("ab"), "YWI=");
  EXPECT_EQ(Base64::encode("a"), "YQ==");
  EXPECT_EQ(Base64::encode(""), "");
  EXPECT_EQ(Base64::encode("user:pass"), "dXNlcjpwYXNz");
}

TEST(Base64Encode, HighBytesAndBinaryInput) {
  EXPECT_EQ(Base64::encode("\xFF"), "/w==");
  EXPECT_EQ(Base64::encode(std::string("\xFB\xEF\xBE", 3)), "++++");
  EXPECT_EQ(Base64::encode(std::string("\0\0\0", 3)), "AAAA");
  const unsigned char bytes[] = {0x00, 0x10, 0x83, 0xFF};
  EXPECT_EQ(Base64::encodeFromArray(bytes, 4), "ABCD/w==");
  EXPECT_EQ(Base64::encodeFromArray(bytes, 0), "");
}

TEST(Base64Encode, LengthHasNoLineBreaks) {
  std::string in300(300, 'x');
  std::string out = Base64::encode(in300);
  EXPECT_EQ(out.size(), 400u);
  EXPECT_EQ(out.find('='), std::string::npos);
  EXPECT_EQ(out.find('\n'), std::string::npos);
  std::string out301 = Base64::encode(in300 + "y");
  EXPECT_EQ(out301.size(), 404u);
  EXPECT_EQ(out301.substr(402), "==");
}

TEST(Base64Decode, RoundTripsText) {
  EXPECT_EQ(Base64::decode("YWJj"), "abc");
  EXPECT_EQ(Base64::decode("YWI="), "ab");
  EXPECT_EQ(Base64::decode("QQ=="), "A");
  EXPECT_EQ(Base64::decode("YQ"), "a");
  EXPECT_EQ(Base64::decode(""), "");
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Base64::decode(Base64::encode(all)), all);
}

TEST(Base64Decode, ForeignCharactersCountAsZeroAndAreNotSkipped) {
  // "YW J" then "j": the blank shifts every later character.
  EXPECT_EQ(Base64::decode("YW Jj"), "a`\t");
  // Three zero bytes end the group's output at once.
  EXPECT_EQ(Base64::decode("AAAA"), "");
  // A zero byte inside a group ends that group only.
  EXPECT_EQ(Base64::decode("AGJjYWJj"), "abc");
  EXPECT_EQ(Base64::decode("YWJj\n"), "abc");
}
