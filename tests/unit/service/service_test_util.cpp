// Helpers of the service's unit tests.
#include "service_test_util.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "protocol/hash.h"

namespace nbtest {

std::string MakePhotoJpeg(int w, int h, int quality, unsigned seed, int amplitude) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> noise(-amplitude, amplitude);
  std::vector<unsigned char> px(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &px[(static_cast<std::size_t>(y) * w + x) * 3];
      int r = 80 + 120 * x / w + ((x / 7 + y / 5) % 9) * 3 + noise(gen);
      int g = 60 + 150 * y / h + ((x * y / 97) % 13) * 2 + noise(gen);
      int b =
          120 + ((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2)) / (w + h) % 90 + noise(gen);
      p[0] = static_cast<unsigned char>(std::min(255, std::max(0, r)));
      p[1] = static_cast<unsigned char>(std::min(255, std::max(0, g)));
      p[2] = static_cast<unsigned char>(std::min(255, std::max(0, b)));
    }
  }
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &px[static_cast<std::size_t>(c.next_scanline) * w * 3];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  std::free(mem);
  return out;
}

namespace {

struct Err {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int warnings;
};

void ErrExit(j_common_ptr c) { std::longjmp(reinterpret_cast<Err*>(c->err)->jump, 1); }
void ErrMsg(j_common_ptr c, int level) {
  if (level < 0) reinterpret_cast<Err*>(c->err)->warnings++;
}

}  // namespace

bool DecodeJpeg(const std::string& jpeg, int* w, int* h) {
  jpeg_decompress_struct d;
  Err err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrExit;
  err.pub.emit_message = ErrMsg;
  err.warnings = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  std::vector<unsigned char> row(static_cast<std::size_t>(d.output_width) * d.output_components);
  while (d.output_scanline < d.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&d, &r, 1);
  }
  *w = static_cast<int>(d.output_width);
  *h = static_cast<int>(d.output_height);
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return err.warnings == 0;
}

bool SendRequest(nbplat::Socket s, nbClientHeader h, const std::string& request) {
  std::string body;
  if (!Bz2Compress(request.data(), request.size(), body)) return false;
  h.size = static_cast<std::uint32_t>(body.size());
  h.decompSize = static_cast<std::uint32_t>(request.size());
  unsigned char raw[kClientHeaderSize];
  EncodeClientHeader(h, raw);
  return nbplat::SendAll(s, raw, sizeof raw).ok() &&
         nbplat::SendAll(s, body.data(), body.size()).ok();
}

namespace {

bool RecvAll(nbplat::Socket s, void* data, std::size_t len) {
  unsigned char* p = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  while (got < len) {
    nbplat::IoResult r = nbplat::RecvSome(s, p + got, len - got, 10000);
    if (!r.ok() || r.bytes == 0) return false;
    got += r.bytes;
  }
  return true;
}

}  // namespace

std::vector<ClientPacket> ReadAnswers(nbplat::Socket s, const nbClientHeader* resend,
                                      const std::string& digest) {
  std::vector<ClientPacket> out;
  for (;;) {
    unsigned char raw[kServiceHeaderSize];
    if (!RecvAll(s, raw, sizeof raw)) return out;
    ClientPacket p;
    p.header = DecodeServiceHeader(raw);
    if (p.header.msg == NB_PACKET_TIMESHIFT) {
      if (resend) {
        nbClientHeader h;
        h.login = resend->login;
        h.time = static_cast<std::int32_t>(p.header.size);
        h.authCode = static_cast<std::uint16_t>(getAuthCode(digest.c_str(), h.time));
        unsigned char req[kClientHeaderSize];
        EncodeClientHeader(h, req);
        nbplat::SendAll(s, req, sizeof req);
      }
      out.push_back(p);
      continue;
    }
    if (p.header.msg != NB_PACKET_NOMONEY && p.header.size > 0) {
      if (p.header.size > kMaxBodySize) return out;
      p.body.resize(p.header.size);
      if (!RecvAll(s, &p.body[0], p.body.size())) return out;
    }
    out.push_back(std::move(p));
  }
}

std::string Contents(const std::vector<ClientPacket>& packets) {
  std::string all;
  for (const auto& p : packets) {
    if (p.header.msg == NB_PACKET_BZ2) {
      std::string plain;
      if (Bz2Decompress(p.body.data(), p.body.size(), kMaxBodySize, plain)) all += plain;
    } else if (p.header.msg == NB_PACKET_NOCOMPRESS || p.header.msg == NB_PACKET_JPG) {
      all += p.body;
    }
  }
  return all;
}

}  // namespace nbtest
