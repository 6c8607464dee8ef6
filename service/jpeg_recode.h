// Recodes JPEG images at a lower quality with libjpeg-turbo.
#pragma once

#include <string>

namespace nbsvc {

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;
};

// Reads the dimensions of a JPEG without decoding it; false when the data
// is not a readable JPEG.
bool ReadJpegInfo(const std::string& jpeg, JpegInfo* info);

// Decodes jpeg and encodes it again at quality (1..100), same size, optimised
// Huffman tables, progressive. False (and *out empty) when the input does
// not decode cleanly (damaged or truncated data, unusual colour spaces):
// the caller then keeps the original.
bool RecodeJpeg(const std::string& jpeg, int quality, std::string* out);

}  // namespace nbsvc
