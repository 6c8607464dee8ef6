// Wire format of the compression service link: a 28-byte request header and
// 16-byte answer headers, little-endian, the request's IPv4 address in
// network order. Shared by the client and NimbrelService.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

enum nbPacketKind : std::uint16_t {
  NB_PACKET_EMPTY = 0,
  NB_PACKET_BZ2 = 2,
  NB_PACKET_NOCOMPRESS = 3,
  NB_PACKET_JPG = 4,
  NB_PACKET_TIMESHIFT = 5,
  NB_PACKET_AUTHFAILED = 6,
  NB_PACKET_NOMONEY = 7,
};

// The TCP port the service listens on unless told otherwise.
inline constexpr std::uint16_t kServiceTcpPort = 443;
inline constexpr std::size_t kClientHeaderSize = 28;
inline constexpr std::size_t kServiceHeaderSize = 16;
inline constexpr std::uint32_t kMaxBodySize = 200000;
inline constexpr std::uint32_t kBz2Slack = 2000;

struct nbClientHeader {
  std::int32_t login = 0;
  std::uint32_t ipNet = 0;  // as the resolver gives it: first octet first on the wire
  std::uint16_t port = 0;
  std::uint16_t authCode = 0;
  std::uint16_t jpegLevel = 0;
  std::uint16_t caps = 0;  // the client's capability bits (capabilities.h); 0 for today's client
  std::int32_t time = 0;
  std::uint32_t size = 0;
  std::uint32_t decompSize = 0;
};

struct nbServiceHeader {
  std::uint32_t size = 0;
  std::uint32_t decompSize = 0;
  std::uint16_t msg = 0;
  std::uint16_t caps = 0;  // the service's capability bits; 0 towards a client that set none
  std::int32_t money = 0;
};

// Two's-complement reinterpretation between the wire's 32-bit words and
// signed values, without implementation-defined casts.
inline std::int32_t AsSigned(std::uint32_t v) {
  std::int32_t s;
  std::memcpy(&s, &v, sizeof s);
  return s;
}
inline std::uint32_t AsUnsigned(std::int32_t v) {
  std::uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// Serialise / parse the fixed headers; caps travel in what was padding (request
// offset 14, answer offset 10), so zero caps give the historic bytes.
void EncodeClientHeader(const nbClientHeader& h, unsigned char out[kClientHeaderSize]);
nbClientHeader DecodeClientHeader(const unsigned char in[kClientHeaderSize]);
void EncodeServiceHeader(const nbServiceHeader& h, unsigned char out[kServiceHeaderSize]);
nbServiceHeader DecodeServiceHeader(const unsigned char in[kServiceHeaderSize]);

// bzip2 (block size 9) of len bytes; false on a library failure.
bool Bz2Compress(const char* data, std::size_t len, std::string& out);
// Decompresses into at most maxOut bytes; false on a damaged stream or more
// output than maxOut.
bool Bz2Decompress(const char* data, std::size_t len, std::size_t maxOut, std::string& out);

// JPEG quality code for the option iJpegLvl: 0 -> 2, 1 -> 1, 2 -> 4, else 2.
int JpegCodeForLevel(int iJpegLvl);
