// AVIF encoding of decoded pixels with libavif.
#include "avif_recode.h"

#include <avif/avif.h>

#include <memory>
#include <vector>

#include "image_decode.h"
#include "jpeg_recode.h"
#include "service_limits.h"

namespace nbsvc {

namespace {

struct ImageFree {
  void operator()(avifImage* p) const { avifImageDestroy(p); }
};
struct EncoderFree {
  void operator()(avifEncoder* p) const { avifEncoderDestroy(p); }
};
struct RWDataFree {
  void operator()(avifRWData* p) const { avifRWDataFree(p); }
};

avifCodecChoice Choice(AvifEncoding::Codec c) {
  return c == AvifEncoding::Rav1e ? AVIF_CODEC_CHOICE_RAV1E
         : c == AvifEncoding::Svt ? AVIF_CODEC_CHOICE_SVT
                                  : AVIF_CODEC_CHOICE_AOM;
}

// Encodes px (with its alpha when alpha) at quantizer; alpha is lossless.
// False on an encoder failure.
bool Encode(const Pixels& px, bool alpha, const std::string& icc, int quantizer,
            const AvifEncoding& encoding, std::string* out) {
  std::unique_ptr<avifImage, ImageFree> image(avifImageCreate(static_cast<std::uint32_t>(px.w),
                                                              static_cast<std::uint32_t>(px.h), 8,
                                                              AVIF_PIXEL_FORMAT_YUV420));
  if (!image) return false;
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image.get());
  rgb.format = AVIF_RGB_FORMAT_RGBA;
  rgb.depth = 8;
  rgb.ignoreAlpha = alpha ? AVIF_FALSE : AVIF_TRUE;
  rgb.pixels = const_cast<std::uint8_t*>(px.rgba.data());
  rgb.rowBytes = static_cast<std::uint32_t>(px.w) * 4;
  if (avifImageRGBToYUV(image.get(), &rgb) != AVIF_RESULT_OK) return false;
  if (!icc.empty()) {
    avifImageSetProfileICC(image.get(), reinterpret_cast<const std::uint8_t*>(icc.data()),
                           icc.size());
  }
  std::unique_ptr<avifEncoder, EncoderFree> encoder(avifEncoderCreate());
  if (!encoder) return false;
  encoder->codecChoice = Choice(encoding.codec);
  encoder->speed = encoding.speed;
  encoder->maxThreads = 1;  // requests recode side by side, one core each
  encoder->minQuantizer = quantizer;
  encoder->maxQuantizer = quantizer;
  encoder->minQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
  encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
  avifRWData data = AVIF_DATA_EMPTY;
  std::unique_ptr<avifRWData, RWDataFree> owned(&data);
  if (avifEncoderWrite(encoder.get(), image.get(), &data) != AVIF_RESULT_OK) return false;
  out->assign(reinterpret_cast<const char*>(data.data), data.size);
  return true;
}

}  // namespace

int AvifQuantizerForCode(int code, ImageType type) {
  if ((code != 1 && code != 2) || type == ImageType::None) return -1;
  const int* table = type == ImageType::Jpeg  ? kAvifQuantizerFromJpeg
                     : type == ImageType::Png ? kAvifQuantizerFromPng
                                              : kAvifQuantizerFromGif;
  return table[code - 1];
}

AvifEncoding ServiceAvifEncoding() {
  AvifEncoding e;
  e.codec = AvifEncoding::Aom;
  e.speed = kAvifSpeed;
  return e;
}

bool RecodeToAvif(const std::string& image, ImageType type, int quantizer,
                  const AvifEncoding& encoding, std::string* out) {
  out->clear();
  if (quantizer < 0 || quantizer > AVIF_QUANTIZER_WORST_QUALITY) return false;
  Pixels px;
  std::string icc;
  bool ok = false;
  if (type == ImageType::Jpeg) {
    int orientation = 0;
    ok = DecodeJpegRgba(image, kMaxAvifPixels, &px.rgba, &px.w, &px.h, &icc, &orientation);
    // A rotated photo keeps today's road, where its orientation survives.
    ok = ok && orientation <= 1;
  } else if (type == ImageType::Png) {
    ok = DecodePng(image, kMaxAvifPixels, &px);
  } else if (type == ImageType::Gif) {
    ok = DecodeStaticGif(image, kMaxAvifPixels, &px);
  }
  ok = ok && Encode(px, type != ImageType::Jpeg && px.HasAlpha(), icc, quantizer, encoding, out);
  if (!ok) out->clear();
  return ok;
}

}  // namespace nbsvc
