// WebP encoding of decoded pixels, the container's colour profile chunk, and
// the answer's head fields that change with the format.
#include "webp_recode.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "image_decode.h"
#include "jpeg_recode.h"
#include "service_limits.h"

namespace nbsvc {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// True when a Vary value already covers Accept ("*" or the name itself).
bool NamesAccept(const std::string& vary) {
  std::size_t pos = 0;
  while (pos <= vary.size()) {
    std::size_t comma = std::min(vary.find(',', pos), vary.size());
    std::string token = vary.substr(pos, comma - pos);
    token.erase(0, token.find_first_not_of(" \t"));
    token.erase(token.find_last_not_of(" \t") + 1);
    token = Lower(token);
    if (token == "accept" || token == "*") return true;
    pos = comma + 1;
  }
  return false;
}

// Encodes px lossy at quality, or lossless; false on an encoder failure.
bool Encode(const Pixels& px, bool alpha, bool lossless, int quality, std::string* out) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) return false;
  if (lossless) {
    if (!WebPConfigLosslessPreset(&config, kWebpLosslessLevel)) return false;
  } else {
    config.quality = static_cast<float>(quality);
    config.method = kWebpMethod;
    config.alpha_quality = 100;  // transparency edges stay exact
  }
  WebPPicture pic;
  if (!WebPPictureInit(&pic)) return false;
  pic.width = px.w;
  pic.height = px.h;
  pic.use_argb = lossless ? 1 : 0;
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  const int stride = px.w * 4;
  bool ok = alpha ? WebPPictureImportRGBA(&pic, px.rgba.data(), stride)
                  : WebPPictureImportRGBX(&pic, px.rgba.data(), stride);
  if (ok) {
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    ok = WebPEncode(&config, &pic) != 0;
  }
  if (ok) out->assign(reinterpret_cast<const char*>(writer.mem), writer.size);
  WebPPictureFree(&pic);
  WebPMemoryWriterClear(&writer);
  return ok;
}

// The WebP image with an ICCP chunk holding icc; false on a muxer failure.
bool AddProfile(const std::string& icc, std::string* webp) {
  WebPMux* mux = WebPMuxNew();
  if (mux == nullptr) return false;
  WebPData image{reinterpret_cast<const std::uint8_t*>(webp->data()), webp->size()};
  WebPData profile{reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size()};
  WebPData assembled;
  WebPDataInit(&assembled);
  bool ok = WebPMuxSetImage(mux, &image, 1) == WEBP_MUX_OK &&
            WebPMuxSetChunk(mux, "ICCP", &profile, 1) == WEBP_MUX_OK &&
            WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
  if (ok) webp->assign(reinterpret_cast<const char*>(assembled.bytes), assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return ok;
}

bool RecodeJpegToWebp(const std::string& jpeg, int quality, std::string* out) {
  Pixels px;
  std::string icc;
  int orientation = 0;
  if (!DecodeJpegRgba(jpeg, kMaxWebpPixels, &px.rgba, &px.w, &px.h, &icc, &orientation)) {
    return false;
  }
  // A rotated photo keeps today's road, where its orientation survives.
  if (orientation > 1) return false;
  if (!Encode(px, false, false, quality, out)) return false;
  return icc.empty() || AddProfile(icc, out);
}

}  // namespace

ImageType WebpSource(const ResponseHead& head) {
  if (!head.complete || head.status != 200 || head.encoded) return ImageType::None;
  if (IsRecodableJpeg(head)) return ImageType::Jpeg;
  if (head.contentType == "image/png" || head.contentType == "image/x-png") return ImageType::Png;
  if (head.contentType == "image/gif") return ImageType::Gif;
  return ImageType::None;
}

int WebpQualityForCode(int code, ImageType type) {
  if ((code != 1 && code != 2) || type == ImageType::None) return 0;
  const int* table = type == ImageType::Jpeg  ? kWebpQualityFromJpeg
                     : type == ImageType::Png ? kWebpQualityFromPng
                                              : kWebpQualityFromGif;
  return table[code - 1];
}

bool RecodeToWebp(const std::string& image, ImageType type, int quality, std::string* out) {
  out->clear();
  if (quality < 1 || quality > 100) return false;
  bool ok = false;
  if (type == ImageType::Jpeg) {
    ok = RecodeJpegToWebp(image, quality, out);
  } else if (type == ImageType::Png || type == ImageType::Gif) {
    Pixels px;
    ok = type == ImageType::Png ? DecodePng(image, kMaxWebpPixels, &px)
                                : DecodeStaticGif(image, kMaxWebpPixels, &px);
    // Drawings and screenshots often shrink most without loss.
    std::string lossy;
    const bool alpha = ok && px.HasAlpha();
    ok = ok && Encode(px, alpha, true, quality, out);
    if (ok && Encode(px, alpha, false, quality, &lossy) && lossy.size() < out->size()) {
      out->swap(lossy);
    }
  }
  if (!ok) out->clear();
  return ok;
}

std::string RebuildAsWebp(const std::string& data, const ResponseHead& head,
                          const std::string& body) {
  return RebuildAsImage(data, head, body, "image/webp");
}

std::string RebuildAsImage(const std::string& data, const ResponseHead& head,
                           const std::string& body, const std::string& mime) {
  std::string rebuilt = RebuildWithBody(data, head, body);
  std::size_t headEnd = rebuilt.size() - body.size();
  std::string out;
  bool vary = false;
  std::size_t pos = 0;
  bool first = true;
  while (pos < headEnd) {
    std::size_t nl = rebuilt.find("\r\n", pos);
    std::string line = rebuilt.substr(pos, nl - pos);
    pos = nl + 2;
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    std::string name = first || colon == std::string::npos ? "" : Lower(line.substr(0, colon));
    first = false;
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    if (name == "content-type") {
      line = "Content-Type: " + mime;
    } else if (name == "vary") {
      vary = true;
      if (!NamesAccept(value)) line += ", Accept";
    } else if (name == "etag" && value.compare(0, 2, "W/") != 0) {
      line = line.substr(0, colon + 1) + " W/" + value;
    }
    out += line;
    out += "\r\n";
  }
  if (!vary) out += "Vary: Accept\r\n";
  out += "\r\n";
  out += body;
  return out;
}

}  // namespace nbsvc
