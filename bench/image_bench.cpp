// Bytes and image quality of the service's image roads on a corpus of
// files: today's road (JPEG recoded as JPEG, PNG and GIF packed as any other
// content) against WebP, per content type and quality code, with the mean
// SSIM of each against the original. Prints figures; asserts nothing.
//
//   image_bench FILE...            the table
//   image_bench --sweep FILE...    mean SSIM of JPEG photos per WebP quality
#include <webp/decode.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

bool Decode(const std::string& data, ImageType type, Pixels* px) {
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
  double road[2][2] = {};  // [today, webp][code 1, code 2]: bytes on the link
  double ssim[2][2] = {};
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
  std::map<ImageType, std::map<int, double>> webp;
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
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--sweep") == 0) return Sweep(argc, argv);
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
    for (int road = 0; road < 2; ++road) {
      for (int code = 1; code <= 2; ++code) {
        nbsvc::PackedAnswer a = nbsvc::PackResponse(response, code, nullptr, {}, road == 1);
        r.road[road][code - 1] += static_cast<double>(a.after) - (response.size() - data.size());
        Pixels out;
        std::string body = BodyOf(a);
        r.ssim[road][code - 1] += Decode(body, type, &out) ? Ssim(orig, out) : 0;
      }
    }
  }
  std::printf("%-5s %5s %11s | %-22s | %-22s | %-22s | %-22s\n", "type", "files", "origin B",
              "today code 1 (B, SSIM)", "WebP code 1 (B, SSIM)", "today code 2 (B, SSIM)",
              "WebP code 2 (B, SSIM)");
  for (const auto& [type, r] : rows) {
    std::printf("%-5s %5d %11.0f", Name(type), r.files, r.original);
    for (int code = 0; code < 2; ++code) {
      for (int road = 0; road < 2; ++road) {
        std::printf(" | %9.0f %4.2f %6.4f", r.road[road][code], r.road[road][code] / r.original,
                    r.ssim[road][code] / r.files);
      }
    }
    std::printf("\n");
  }
  return 0;
}
