// Wire format of the service link: header layout and bzip2 helpers.
#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

TEST(PacketHeader, ClientHeaderRoundTripKeepsSignsAndPort) {
  nbClientHeader h;
  h.login = -7;
  h.ipNet = 0x04030201;
  h.port = 8080;
  h.authCode = 65535;
  h.jpegLevel = 4;
  h.time = -5;
  h.size = 0xFFFFFFFFu;
  h.decompSize = 200000;
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(h, out);
  EXPECT_EQ(out[8], 0x90);
  EXPECT_EQ(out[9], 0x1F);
  nbClientHeader d = DecodeClientHeader(out);
  EXPECT_EQ(d.login, -7);
  EXPECT_EQ(d.ipNet, h.ipNet);
  EXPECT_EQ(d.port, 8080);
  EXPECT_EQ(d.authCode, 65535);
  EXPECT_EQ(d.jpegLevel, 4);
  EXPECT_EQ(d.time, -5);
  EXPECT_EQ(d.size, 0xFFFFFFFFu);
  EXPECT_EQ(d.decompSize, 200000u);
}

TEST(PacketHeader, ServiceHeaderRoundTrip) {
  nbServiceHeader h;
  h.size = 7;
  h.decompSize = 200001;
  h.msg = NB_PACKET_BZ2;
  h.money = -250;
  unsigned char out[kServiceHeaderSize];
  EncodeServiceHeader(h, out);
  nbServiceHeader d = DecodeServiceHeader(out);
  EXPECT_EQ(d.size, 7u);
  EXPECT_EQ(d.decompSize, 200001u);
  EXPECT_EQ(d.msg, NB_PACKET_BZ2);
  EXPECT_EQ(d.money, -250);
}

TEST(PacketBz2, RoundTripsTextEmptyAndIncompressible) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "GET /index.html HTTP/1.1\r\nHost: example\r\n";
  std::string packed, unpacked;
  ASSERT_TRUE(Bz2Compress(text.data(), text.size(), packed));
  EXPECT_LT(packed.size(), text.size() / 10);
  ASSERT_TRUE(Bz2Decompress(packed.data(), packed.size(), text.size(), unpacked));
  EXPECT_EQ(unpacked, text);

  // An empty request still makes a valid stream.
  ASSERT_TRUE(Bz2Compress("", 0, packed));
  EXPECT_GT(packed.size(), 0u);
  ASSERT_TRUE(Bz2Decompress(packed.data(), packed.size(), 0, unpacked));
  EXPECT_TRUE(unpacked.empty());

  // Full-size random data grows past the fixed slack; it must still compress.
  std::string noise = RandomBytes(kMaxBodySize, 1);
  ASSERT_TRUE(Bz2Compress(noise.data(), noise.size(), packed));
  EXPECT_GT(packed.size(), noise.size());
  ASSERT_TRUE(Bz2Decompress(packed.data(), packed.size(), kMaxBodySize, unpacked));
  EXPECT_EQ(unpacked, noise);
}

TEST(PacketBz2, DecompressRespectsBoundAndRejectsDamage) {
  std::string data(5000, 'x');
  std::string packed, out;
  ASSERT_TRUE(Bz2Compress(data.data(), data.size(), packed));
  EXPECT_TRUE(Bz2Decompress(packed.data(), packed.size(), 5000, out));
  EXPECT_FALSE(Bz2Decompress(packed.data(), packed.size(), 4999, out));
  EXPECT_TRUE(out.empty());
  // A cut stream and plain garbage both fail.
  EXPECT_FALSE(Bz2Decompress(packed.data(), packed.size() / 2, 5000, out));
  EXPECT_FALSE(Bz2Decompress("hello world", 11, 100, out));
  EXPECT_FALSE(Bz2Decompress("", 0, 100, out));
}

TEST(PacketJpeg, CodeForLevel) {
  EXPECT_EQ(JpegCodeForLevel(0), 2);
  EXPECT_EQ(JpegCodeForLevel(1), 1);
  EXPECT_EQ(JpegCodeForLevel(2), 4);
  EXPECT_EQ(JpegCodeForLevel(3), 2);
  EXPECT_EQ(JpegCodeForLevel(-1), 2);
}

}  // namespace
