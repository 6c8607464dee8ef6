// Recodes the web's still images (JPEG, PNG, static GIF) into AVIF with
// libavif, for clients and browsers that take it.
#pragma once

#include <string>

#include "webp_recode.h"

namespace nbsvc {

// The AV1 encoder and its effort; the service's own choice comes from
// service_limits.h, the image bench tries others.
struct AvifEncoding {
  enum Codec { Aom, Rav1e, Svt } codec = Aom;
  int speed = 6;  // 0 slowest and densest .. 10 fastest
};

// AV1 quantizer (0 best .. 63 worst) for a client's quality code and the
// source's format; -1 for "leave untouched" or no image.
int AvifQuantizerForCode(int code, ImageType type);

// The encoding the service uses (service_limits.h).
AvifEncoding ServiceAvifEncoding();

// Decodes image and encodes it as 8-bit 4:2:0 AVIF at quantizer with
// encoding: JPEG keeps its colour profile, transparency is kept losslessly.
// False (and *out empty) when the image does not decode cleanly or is left
// alone (an EXIF-rotated JPEG, an animation, more than kMaxAvifPixels).
bool RecodeToAvif(const std::string& image, ImageType type, int quantizer,
                  const AvifEncoding& encoding, std::string* out);

}  // namespace nbsvc
