// Request packets as the service link builds them from the options and the
// connection: known byte vectors, the clock, and what goes on the wire.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernel/context.h"
#include "kernel/options.h"
#include "kernel/service_link.h"
#include "platform/platform.h"
#include "protocol/hash.h"
#include "protocol/packet.h"
#include "test_support.h"

namespace {

std::string Hex(const unsigned char* p, std::size_t n) {
  static const char* kDigits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

using nbtest::Ip;

// Account 0 with an empty stored digest: the authentication code of clock
// 1262304000 is the 16-bit sum over md5("1262304000"), 0xc3ce.
TEST(RequestPacketVector, HeaderBuiltFromOptionsMatchesKnownBytes) {
  Program_Options po;
  po.iLogin = 0;
  po.iJpegLvl = 1;  // medium quality: code 1
  nbClientHeader h = MakeRequestHeader(po, Ip(10, 0, 0, 1), 80, 1262304000, 100, 200);
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(h, out);
  // The former padding carries the client's capability bits (WebP, zstd
  // text, site pages, kept connections, pushed resources, chained text,
  // AVIF).
  EXPECT_EQ(Hex(out, sizeof out),
            "00 00 00 00 0a 00 00 01 50 00 ce c3 01 00 7f 00 00 3b 3d 4b 64 00 00 00 c8 00 00 00");

  po.iLogin = -2;
  po.iJpegLvl = 2;  // no recompression: code 4
  h = MakeRequestHeader(po, Ip(10, 0, 0, 1), 65536 + 8080, 1262304000, 100, 200);
  EncodeClientHeader(h, out);
  EXPECT_EQ(Hex(out, 14), "fe ff ff ff 0a 00 00 01 90 1f ce c3 04 00");
}

TEST(RequestPacketVector, TimeShiftAnswerAndItsReply) {
  const unsigned char answer[kServiceHeaderSize] = {0x00, 0x3b, 0x3d, 0x4b, 0, 0, 0, 0,
                                                    0x05, 0,    0,    0,    0, 0, 0, 0};
  nbServiceHeader a = DecodeServiceHeader(answer);
  EXPECT_EQ(a.msg, NB_PACKET_TIMESHIFT);
  EXPECT_EQ(a.size, 1262304000u);
  EXPECT_EQ(a.money, 0);

  Program_Options po;
  po.iLogin = 5;
  po.iJpegLvl = 1;
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(MakeTimeShiftReply(po, static_cast<std::int32_t>(a.size)), out);
  // Only login, the code over the new clock and the clock itself carry values.
  EXPECT_EQ(Hex(out, sizeof out),
            "05 00 00 00 00 00 00 00 00 00 ce c3 00 00 00 00 00 3b 3d 4b 00 00 00 00 00 00 00 00");
}

TEST(RequestPacketVector, AnswerSizeLimits) {
  nbServiceHeader h;
  h.size = 200000;
  h.decompSize = 200000;
  EXPECT_TRUE(ServicePacketFits(h));
  h.size = 200001;
  EXPECT_FALSE(ServicePacketFits(h));
  h.size = 0;
  h.decompSize = 200001;
  EXPECT_FALSE(ServicePacketFits(h));
  h.decompSize = 0xFFFFFFFFu;  // would be negative as a signed number
  EXPECT_FALSE(ServicePacketFits(h));
}

TEST(RequestPacketVector, MoneyDropsTheCentsTowardZero) {
  EXPECT_EQ(MoneyFromService(12345), 123.0);
  EXPECT_EQ(MoneyFromService(-199), -1.0);
  EXPECT_EQ(MoneyFromService(199), 1.0);
  EXPECT_EQ(MoneyFromService(-250), -2.0);
  EXPECT_EQ(MoneyFromService(INT32_MIN), -21474836.0);
}

TEST(ServiceClockTest, OffsetFollowsTheServiceAcrossTickWrap) {
  EXPECT_EQ(ServiceClock(5999, 0), 5);
  const std::int32_t T = 1262304000;
  const std::uint32_t t0 = 4000000000u;
  const std::int32_t shift = ServiceTimeShift(t0, T);
  EXPECT_EQ(ServiceClock(t0, shift), T);
  EXPECT_EQ(ServiceClock(t0 + 10000u, shift), T + 10);
  // Near the end of the 32-bit tick count: after the wrap the estimate jumps
  // back as the system's own seconds do, without overflow.
  const std::uint32_t t1 = 0xFFFFFFFFu - 1500u;  // 4294965 s since start
  const std::int32_t shift1 = ServiceTimeShift(t1, T);
  EXPECT_EQ(ServiceClock(t1, shift1), T);
  EXPECT_EQ(ServiceClock(static_cast<std::uint32_t>(t1 + 3000u), shift1), T - 4294965 + 1);
  EXPECT_EQ(ServiceClock(0, ServiceTimeShift(0, -5)), -5);
}

TEST(SendDataToServerTest, WireCarriesHeaderAndCompressedRequest) {
  Program_Options saved = GetProgramOptions();
  Program_Options po = saved;
  po.iLogin = 4242;
  po.sPassword = "5ebe2294ecd0e0f08eab7690d2a6ee69";
  po.iJpegLvl = 0;
  SetProgramOptions(po);
  gClient.link.iServTimeShift.store(1000);

  for (const std::string& request :
       {std::string("GET http://10.0.0.1:8080/ HTTP/1.0\r\nHost: 10.0.0.1:8080\r\n\r\n"),
        std::string(), std::string(150000, 'x')}) {
    nbtest::SocketPair pair = nbtest::MakePair();
    ASSERT_NE(pair.far.get(), nbplat::kNoSocket);
    const std::int32_t before = ServiceClock(nbplat::TickCountMs(), 1000);
    ASSERT_TRUE(sendDataToServer(gClient, pair.near.get(), Ip(10, 0, 0, 1), 8080, request.data(),
                                 static_cast<int>(request.size())));
    const std::int32_t after = ServiceClock(nbplat::TickCountMs(), 1000);

    std::string raw = nbtest::ReadExactly(pair.far.get(), kClientHeaderSize);
    ASSERT_EQ(raw.size(), kClientHeaderSize);
    nbClientHeader h = DecodeClientHeader(reinterpret_cast<const unsigned char*>(raw.data()));
    EXPECT_EQ(h.login, 4242);
    EXPECT_EQ(h.ipNet, Ip(10, 0, 0, 1));
    EXPECT_EQ(h.port, 8080);
    EXPECT_EQ(h.jpegLevel, 2);
    EXPECT_GE(h.time, before);
    EXPECT_LE(h.time, after);
    EXPECT_EQ(h.authCode, getAuthCode(po.sPassword.c_str(), h.time));
    EXPECT_EQ(h.decompSize, request.size());
    std::string body = nbtest::ReadExactly(pair.far.get(), h.size);
    ASSERT_EQ(body.size(), h.size);
    std::string plain;
    ASSERT_TRUE(Bz2Decompress(body.data(), body.size(), 200000, plain));
    EXPECT_EQ(plain, request);
  }
  gClient.link.iServTimeShift.store(0);
  SetProgramOptions(saved);
}

// Capability bits travel in what used to be padding, and only there: a
// header without them is byte for byte the historic one.
TEST(CapabilityBits, OccupyTheFormerPaddingOnly) {
  nbClientHeader c;
  c.login = -1;
  c.caps = 0xA55A;
  unsigned char out[kClientHeaderSize];
  EncodeClientHeader(c, out);
  EXPECT_EQ(Hex(out + 14, 2), "5a a5");
  EXPECT_EQ(DecodeClientHeader(out).caps, 0xA55A);
  c.caps = 0;
  EncodeClientHeader(c, out);
  EXPECT_EQ(Hex(out + 12, 4), "00 00 00 00");

  nbServiceHeader a;
  a.money = -1;
  a.caps = 0x0102;
  unsigned char ans[kServiceHeaderSize];
  EncodeServiceHeader(a, ans);
  EXPECT_EQ(Hex(ans + 8, 8), "00 00 02 01 ff ff ff ff");
  EXPECT_EQ(DecodeServiceHeader(ans).caps, 0x0102);
}

}  // namespace
