// Bytes and image quality of the service's image roads on a corpus of
// files: today's road (JPEG recoded as JPEG, PNG and GIF packed as any other
// content) against WebP, and against AVIF where that is smaller still, per
// content type and quality code, with the mean SSIM of each against the
// original. Prints figures; asserts nothing.
//
//   image_bench FILE...            the table
//   image_bench --sweep FILE...    mean SSIM of JPEG photos per WebP quality
//                                  and per AVIF quantizer
//   image_bench --cost FILE...     per image: bytes, SSIM and encode ms of
//                                  the JPEG road, WebP and AVIF under
//                                  several AV1 encoders and speeds
#include <avif/avif.h>
#include <webp/decode.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "avif_recode.h"
#include "image_decode.h"
#include "jpeg_recode.h"
#include "packer.h"
#include "protocol/packet.h"
#include "service_limits.h"
#include "webp_recode.h"

namespace {

using nbsvc::ImageType;
using nbsvc::Pixels;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

ImageType TypeOf(const std::string& path) {
  std::string ext = path.substr(path.rfind('.') + 1);
  if (ext == "jpg" || ext == "jpeg") return ImageType::Jpeg;
  if (ext == "png") return ImageType::Png;
  if (ext == "gif") return ImageType::Gif;
  return ImageType::None;
}

bool DecodeAvif(const std::string& data, Pixels* px) {
  avifDecoder* dec = avifDecoderCreate();
  avifImage* img = avifImageCreateEmpty();
  bool ok = avifDecoderReadMemory(dec, img, reinterpret_cast<const uint8_t*>(data.data()),
                                  data.size()) == AVIF_RESULT_OK;
  if (ok) {
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, img);
    rgb.format = AVIF_RGB_FORMAT_RGBA;
    rgb.depth = 8;
    px->w = static_cast<int>(img->width);
    px->h = static_cast<int>(img->height);
    px->rgba.resize(static_cast<std::size_t>(px->w) * px->h * 4);
    rgb.pixels = px->rgba.data();
    rgb.rowBytes = img->width * 4;
    ok = avifImageYUVToRGB(img, &rgb) == AVIF_RESULT_OK;
  }
  avifImageDestroy(img);
  avifDecoderDestroy(dec);
  return ok;
}

bool Decode(const std::string& data, ImageType type, Pixels* px) {
  if (data.compare(4, 8, "ftypavif") == 0) return DecodeAvif(data, px);
  if (data.compare(0, 4, "RIFF") == 0) {
    uint8_t* p =
        WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &px->w, &px->h);
    if (p == nullptr) return false;
    px->rgba.assign(p, p + static_cast<std::size_t>(px->w) * px->h * 4);
    WebPFree(p);
    return true;
  }
  std::string icc;
  int orientation;
  if (type == ImageType::Jpeg) {
    return nbsvc::DecodeJpegRgba(data, 1u << 28, &px->rgba, &px->w, &px->h, &icc, &orientation);
  }
  if (type == ImageType::Png) return nbsvc::DecodePng(data, 1u << 28, px);
  return nbsvc::DecodeStaticGif(data, 1u << 28, px);
}

// Luma over white (transparent pixels count as the page behind them).
std::vector<double> Luma(const Pixels& px) {
  std::vector<double> y(static_cast<std::size_t>(px.w) * px.h);
  for (std::size_t i = 0; i < y.size(); ++i) {
    const unsigned char* p = &px.rgba[i * 4];
    double a = p[3] / 255.0;
    double l = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
    y[i] = l * a + 255.0 * (1 - a);
  }
  return y;
}

// Mean SSIM over 8x8 windows with stride 4 (Wang et al. constants); -1
// when the images differ in size.
double Ssim(const Pixels& a, const Pixels& b) {
  if (a.w != b.w || a.h != b.h) return -1;
  std::vector<double> x = Luma(a), y = Luma(b);
  const double c1 = 6.5025, c2 = 58.5225;
  double sum = 0;
  int n = 0;
  for (int wy = 0; wy + 8 <= a.h; wy += 4) {
    for (int wx = 0; wx + 8 <= a.w; wx += 4) {
      double mx = 0, my = 0, sxx = 0, syy = 0, sxy = 0;
      for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
          std::size_t k = static_cast<std::size_t>(wy + j) * a.w + wx + i;
          mx += x[k];
          my += y[k];
          sxx += x[k] * x[k];
          syy += y[k] * y[k];
          sxy += x[k] * y[k];
        }
      }
      mx /= 64;
      my /= 64;
      double vx = sxx / 64 - mx * mx, vy = syy / 64 - my * my, cxy = sxy / 64 - mx * my;
      sum += ((2 * mx * my + c1) * (2 * cxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
      ++n;
    }
  }
  return n == 0 ? 1.0 : sum / n;
}

// The image body of a packed answer (the head is ours, so it ends at the
// first empty line).
std::string BodyOf(const nbsvc::PackedAnswer& a) {
  std::string all;
  for (const auto& p : a.packets) {
    if (p.header.msg == NB_PACKET_BZ2) {
      std::string out;
      Bz2Decompress(p.body.data(), p.body.size(), p.header.decompSize + kBz2Slack, out);
      all += out;
    } else {
      all += p.body;
    }
  }
  return all.substr(all.find("\r\n\r\n") + 4);
}

struct Row {
  int files = 0;
  double original = 0;
  // [today, webp, avif (or what is smaller)][code 1, code 2]: link bytes
  double road[3][2] = {};
  double ssim[3][2] = {};
};

const char* Name(ImageType t) {
  return t == ImageType::Jpeg ? "JPEG" : t == ImageType::Png ? "PNG" : "GIF";
}
const char* Mime(ImageType t) {
  return t == ImageType::Jpeg ? "image/jpeg" : t == ImageType::Png ? "image/png" : "image/gif";
}

// Mean SSIM per WebP quality for each content type, beside that of the
// JPEG road's qualities on the photos.
int Sweep(int argc, char** argv) {
  std::map<ImageType, std::map<int, double>> webp, avif, avifBytes;
  std::map<ImageType, int> files;
  double jpeg[2] = {};
  for (int i = 2; i < argc; ++i) {
    ImageType type = TypeOf(argv[i]);
    std::string data = ReadFile(argv[i]);
    Pixels orig, out;
    if (type == ImageType::None || !Decode(data, type, &orig)) continue;
    ++files[type];
    for (int c = 0; c < 2 && type == ImageType::Jpeg; ++c) {
      std::string j;
      nbsvc::RecodeJpeg(data, c == 0 ? nbsvc::kJpegQualityMedium : nbsvc::kJpegQualityLow, &j);
      if (Decode(j, ImageType::Jpeg, &out)) jpeg[c] += Ssim(orig, out);
    }
    for (int q = 10; q <= 80; q += 5) {
      std::string w;
      if (nbsvc::RecodeToWebp(data, type, q, &w) && Decode(w, type, &out)) {
        webp[type][q] += Ssim(orig, out);
      }
    }
    for (int q = 20; q <= 60; q += 4) {
      std::string a;
      if (nbsvc::RecodeToAvif(data, type, q, nbsvc::ServiceAvifEncoding(), &a) &&
          Decode(a, type, &out)) {
        avif[type][q] += Ssim(orig, out);
        avifBytes[type][q] += static_cast<double>(a.size());
      }
    }
  }
  if (files[ImageType::Jpeg] > 0) {
    int n = files[ImageType::Jpeg];
    std::printf("%d photos; JPEG q%d (code 1) SSIM %.4f, q%d (code 2) SSIM %.4f\n", n,
                nbsvc::kJpegQualityMedium, jpeg[0] / n, nbsvc::kJpegQualityLow, jpeg[1] / n);
  }
  for (const auto& [type, byQuality] : webp) {
    std::printf("%s (%d files), mean SSIM per WebP quality:", Name(type), files[type]);
    for (const auto& w : byQuality) std::printf(" q%d %.4f", w.first, w.second / files[type]);
    std::printf("\n");
  }
  for (const auto& [type, byQuantizer] : avif) {
    std::printf("%s (%d files), mean SSIM (total B) per AVIF quantizer:", Name(type), files[type]);
    for (const auto& a : byQuantizer) {
      std::printf(" q%d %.4f (%.0f)", a.first, a.second / files[type], avifBytes[type][a.first]);
    }
    std::printf("\n");
  }
  return 0;
}

// One recoding's outcome: bytes, SSIM against the original, encode ms.
struct Cost {
  double bytes = 0, ssim = 0, ms = 0;
};

template <typename F>
Cost Measure(const Pixels& orig, ImageType type, F encode) {
  Cost c;
  std::string out;
  auto t0 = std::chrono::steady_clock::now();
  bool ok = encode(&out);
  c.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  Pixels px;
  if (!ok || !Decode(out, type, &px)) return Cost{-1, 0, c.ms};
  c.bytes = static_cast<double>(out.size());
  c.ssim = Ssim(orig, px);
  return c;
}

// Per image and quality code: the JPEG road (photos only), WebP, and AVIF at
// the service's quantizer under each AV1 encoder and speed; then the sums.
int CostTable(int argc, char** argv) {
  struct Way {
    const char* name;
    nbsvc::AvifEncoding::Codec codec;
    int speed;
  };
  const std::vector<Way> ways = {{"aom s6", nbsvc::AvifEncoding::Aom, 6},
                                 {"aom s8", nbsvc::AvifEncoding::Aom, 8},
                                 {"aom s9", nbsvc::AvifEncoding::Aom, 9},
                                 {"rav1e s10", nbsvc::AvifEncoding::Rav1e, 10},
                                 {"svt s10", nbsvc::AvifEncoding::Svt, 10}};
  std::vector<std::string> names = {"JPEG road", "WebP"};
  for (const auto& w : ways) names.push_back(std::string("AVIF ") + w.name);
  // [code][way]: sums over all files, and the pixel count for ms per MP.
  std::vector<std::vector<Cost>> sum(2, std::vector<Cost>(names.size()));
  std::vector<std::vector<int>> count(2, std::vector<int>(names.size()));
  double megapixels = 0;
  std::printf("%-28s %5s %4s %-14s %9s %7s %8s\n", "file", "MP", "code", "road", "bytes", "SSIM",
              "enc ms");
  for (int i = 2; i < argc; ++i) {
    ImageType type = TypeOf(argv[i]);
    std::string data = ReadFile(argv[i]);
    Pixels orig;
    if (type == ImageType::None || !Decode(data, type, &orig)) continue;
    double mp = orig.w * static_cast<double>(orig.h) / 1e6;
    megapixels += mp;
    std::string base = argv[i];
    base = base.substr(base.rfind('/') + 1);
    for (int code = 1; code <= 2; ++code) {
      for (std::size_t k = 0; k < names.size(); ++k) {
        Cost c;
        if (k == 0) {
          if (type != ImageType::Jpeg) continue;
          int q = nbsvc::JpegQualityForCode(code);
          c = Measure(orig, type, [&](std::string* o) { return nbsvc::RecodeJpeg(data, q, o); });
        } else if (k == 1) {
          int q = nbsvc::WebpQualityForCode(code, type);
          c = Measure(orig, type,
                      [&](std::string* o) { return nbsvc::RecodeToWebp(data, type, q, o); });
        } else {
          nbsvc::AvifEncoding e;
          e.codec = ways[k - 2].codec;
          e.speed = ways[k - 2].speed;
          int q = nbsvc::AvifQuantizerForCode(code, type);
          c = Measure(orig, type,
                      [&](std::string* o) { return nbsvc::RecodeToAvif(data, type, q, e, o); });
        }
        std::printf("%-28s %5.2f %4d %-14s %9.0f %7.4f %8.1f\n", base.c_str(), mp, code,
                    names[k].c_str(), c.bytes, c.ssim, c.ms);
        if (c.bytes < 0) continue;
        Cost& s = sum[code - 1][k];
        s.bytes += c.bytes;
        s.ssim += c.ssim;
        s.ms += c.ms;
        ++count[code - 1][k];
      }
    }
  }
  std::printf("\nsums over %.2f MP: road, code, files, bytes, mean SSIM, ms per MP\n", megapixels);
  for (int code = 0; code < 2; ++code) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      const Cost& s = sum[code][k];
      int n = count[code][k];
      if (n == 0) continue;
      std::printf("%-14s %d %4d %10.0f %7.4f %8.1f\n", names[k].c_str(), code + 1, n, s.bytes,
                  s.ssim / n, s.ms / megapixels);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--sweep") == 0) return Sweep(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "--cost") == 0) return CostTable(argc, argv);
  std::map<ImageType, Row> rows;
  for (int i = 1; i < argc; ++i) {
    ImageType type = TypeOf(argv[i]);
    std::string data = ReadFile(argv[i]);
    Pixels orig;
    if (type == ImageType::None || !Decode(data, type, &orig)) continue;
    std::string response = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + Mime(type) +
                           "\r\nContent-Length: " + std::to_string(data.size()) + "\r\n\r\n" + data;
    Row& r = rows[type];
    ++r.files;
    r.original += static_cast<double>(data.size());
    for (int road = 0; road < 3; ++road) {
      for (int code = 1; code <= 2; ++code) {
        nbsvc::PackedAnswer a =
            nbsvc::PackResponse(response, code, nullptr, {}, road >= 1, road == 2);
        r.road[road][code - 1] += static_cast<double>(a.after) - (response.size() - data.size());
        Pixels out;
        std::string body = BodyOf(a);
        r.ssim[road][code - 1] += Decode(body, type, &out) ? Ssim(orig, out) : 0;
      }
    }
  }
  std::printf("%-5s %5s %11s | %-22s | %-22s | %-22s | %-22s | %-22s | %-22s\n", "type", "files",
              "origin B", "today code 1 (B, SSIM)", "WebP code 1 (B, SSIM)",
              "+AVIF code 1 (B, SSIM)", "today code 2 (B, SSIM)", "WebP code 2 (B, SSIM)",
              "+AVIF code 2 (B, SSIM)");
  for (const auto& [type, r] : rows) {
    std::printf("%-5s %5d %11.0f", Name(type), r.files, r.original);
    for (int code = 0; code < 2; ++code) {
      for (int road = 0; road < 3; ++road) {
        std::printf(" | %9.0f %4.2f %6.4f", r.road[road][code], r.road[road][code] / r.original,
                    r.ssim[road][code] / r.files);
      }
    }
    std::printf("\n");
  }
  return 0;
}
