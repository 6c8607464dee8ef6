// Wire format of the compression service link and its bzip2 helpers.
#include "protocol/packet.h"

#include <bzlib.h>

#include <climits>
#include <cstring>

namespace {

void PutU16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

std::uint16_t GetU16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t GetU32(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// libbz2 counts lengths in unsigned int; keep well inside that range.
constexpr std::size_t kBz2MaxInput = UINT_MAX / 2;

}  // namespace

void EncodeClientHeader(const nbClientHeader& h, unsigned char out[kClientHeaderSize]) {
  std::memset(out, 0, kClientHeaderSize);
  PutU32(out + 0, AsUnsigned(h.login));
  // The address is kept in network order in memory: copy its bytes as they lie.
  std::memcpy(out + 4, &h.ipNet, 4);
  PutU16(out + 8, h.port);
  PutU16(out + 10, h.authCode);
  PutU16(out + 12, h.jpegLevel);
  PutU16(out + 14, h.caps);
  PutU32(out + 16, AsUnsigned(h.time));
  PutU32(out + 20, h.size);
  PutU32(out + 24, h.decompSize);
}

nbClientHeader DecodeClientHeader(const unsigned char in[kClientHeaderSize]) {
  nbClientHeader h;
  h.login = AsSigned(GetU32(in + 0));
  std::memcpy(&h.ipNet, in + 4, 4);
  h.port = GetU16(in + 8);
  h.authCode = GetU16(in + 10);
  h.jpegLevel = GetU16(in + 12);
  h.caps = GetU16(in + 14);
  h.time = AsSigned(GetU32(in + 16));
  h.size = GetU32(in + 20);
  h.decompSize = GetU32(in + 24);
  return h;
}

void EncodeServiceHeader(const nbServiceHeader& h, unsigned char out[kServiceHeaderSize]) {
  std::memset(out, 0, kServiceHeaderSize);
  PutU32(out + 0, h.size);
  PutU32(out + 4, h.decompSize);
  PutU16(out + 8, h.msg);
  PutU16(out + 10, h.caps);
  PutU32(out + 12, AsUnsigned(h.money));
}

nbServiceHeader DecodeServiceHeader(const unsigned char in[kServiceHeaderSize]) {
  nbServiceHeader h;
  h.size = GetU32(in + 0);
  h.decompSize = GetU32(in + 4);
  h.msg = GetU16(in + 8);
  h.caps = GetU16(in + 10);
  h.money = AsSigned(GetU32(in + 12));
  return h;
}

bool Bz2Compress(const char* data, std::size_t len, std::string& out) {
  out.clear();
  if (len > kBz2MaxInput) return false;
  // bzip2 may grow incompressible input by 1% plus 600 bytes; the fixed 2000
  // bytes of slack alone are too little for inputs above about 140 KB.
  std::size_t cap = len + len / 100 + 600 + kBz2Slack;
  out.resize(cap);
  unsigned int destLen = static_cast<unsigned int>(cap);
  int rc = BZ2_bzBuffToBuffCompress(&out[0], &destLen, const_cast<char*>(len ? data : ""),
                                    static_cast<unsigned int>(len), 9, 0, 0);
  if (rc != BZ_OK) {
    out.clear();
    return false;
  }
  out.resize(destLen);
  return true;
}

bool Bz2Decompress(const char* data, std::size_t len, std::size_t maxOut, std::string& out) {
  out.clear();
  if (len == 0 || len > kBz2MaxInput || maxOut > kBz2MaxInput) return false;
  // One spare byte tells "exactly maxOut" apart from "more than maxOut".
  out.resize(maxOut + 1);
  bz_stream strm;
  std::memset(&strm, 0, sizeof strm);
  if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) {
    out.clear();
    return false;
  }
  strm.next_in = const_cast<char*>(data);
  strm.avail_in = static_cast<unsigned int>(len);
  strm.next_out = &out[0];
  strm.avail_out = static_cast<unsigned int>(maxOut + 1);
  int rc = BZ_OK;
  while (rc == BZ_OK) {
    rc = BZ2_bzDecompress(&strm);
    if (rc == BZ_OK && (strm.avail_in == 0 || strm.avail_out == 0)) break;
  }
  std::size_t produced = (maxOut + 1) - strm.avail_out;
  BZ2_bzDecompressEnd(&strm);
  if (rc != BZ_STREAM_END || produced > maxOut) {
    out.clear();
    return false;
  }
  out.resize(produced);
  return true;
}

int JpegCodeForLevel(int iJpegLvl) {
  switch (iJpegLvl) {
    case 0:
      return 2;
    case 1:
      return 1;
    case 2:
      return 4;
    default:
      return 2;
  }
}
