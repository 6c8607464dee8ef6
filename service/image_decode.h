// Decoding of the web's still images (PNG, static GIF) into pixels for
// recoding; JPEG decoding is jpeg_recode.h's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nbsvc {

// Decoded image: w x h pixels of 8-bit RGBA, rows top to bottom.
struct Pixels {
  int w = 0, h = 0;
  std::vector<unsigned char> rgba;
  // True when some pixel is not fully opaque.
  bool HasAlpha() const;
};

// Decodes a PNG. False on damaged data, more than maxPixels pixels, an
// animated PNG (only its first frame would survive) or an embedded colour
// profile (the colours would shift without it).
bool DecodePng(const std::string& png, std::size_t maxPixels, Pixels* out);

// Decodes a GIF of exactly one frame (animations are left alone) onto its
// canvas, transparent where the frame does not cover it or its transparent
// colour stands. False on damaged data or more than maxPixels pixels.
bool DecodeStaticGif(const std::string& gif, std::size_t maxPixels, Pixels* out);

}  // namespace nbsvc
