// Recodes JPEG images at a lower quality with libjpeg-turbo.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nbsvc {

// Decodes jpeg and encodes it again at quality (1..100), same size, optimised
// Huffman tables, progressive, keeping the ICC profile and the EXIF
// orientation (in an EXIF segment holding nothing else). False (and *out empty) when the input does
// not decode cleanly (damaged or truncated data, unusual colour spaces):
// the caller then keeps the original.
bool RecodeJpeg(const std::string& jpeg, int quality, std::string* out);

// Decodes jpeg into 8-bit RGBA pixels (alpha 255), rows top to bottom, for
// another encoder; *icc receives its colour profile (empty when none) and
// *orientation its EXIF orientation (0 when none). False on damaged data,
// warnings, CMYK or more than maxPixels pixels.
bool DecodeJpegRgba(const std::string& jpeg, std::size_t maxPixels,
                    std::vector<unsigned char>* rgba, int* w, int* h, std::string* icc,
                    int* orientation);

}  // namespace nbsvc
