#include "protocol/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Md5(const std::string& text) {
  char out[40];
  std::memset(out, 'Z', sizeof out);
  md5str(out, text.c_str());
  EXPECT_EQ(out[32], '\0');
  EXPECT_EQ(out[33], 'Z');  // writes exactly 33 bytes
  return out;
}

std::string Hex(const unsigned char d[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < 16; ++i) {
    s += kHex[d[i] >> 4];
    s += kHex[d[i] & 15];
  }
  return s;
}

}  // namespace

TEST(Md5, ReferenceTestSuite) {
  EXPECT_EQ(Md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  EXPECT_EQ(Md5(digits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, MillionBytesAcrossManyBlocks) {
  EXPECT_EQ(Md5(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, PieceByPieceUpdatesMatchOneUpdate) {
  // Lengths around the 56- and 64-byte padding boundaries and split points
  // inside and across blocks.
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('!' + (i * 7) % 90);
  for (std::size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string piece = text.substr(0, len);
    const std::string whole = Md5(piece);
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, len / 3, len / 2, len - 1, len}) {
      my_MD5_CTX ctx;
      my_MD5Init(&ctx);
      const unsigned char* p = reinterpret_cast<const unsigned char*>(piece.data());
      my_MD5Update(&ctx, p, cut);
      my_MD5Update(&ctx, p + cut, len - cut);
      unsigned char digest[16];
      my_MD5Final(digest, &ctx);
      EXPECT_EQ(Hex(digest), whole) << "len " << len << " cut " << cut;
    }
  }
}

TEST(Md5, HighBytesAreHashedAsUnsigned) {
  // "\xcf\xf0\xe8\xe2\xe5\xf2" is a Russian greeting in Windows-1251.
  EXPECT_EQ(Md5("\xcf\xf0\xe8\xe2\xe5\xf2"), "43a3f987a7af93811b7682e43ed0752a");
}
