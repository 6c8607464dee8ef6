// Recodes JPEG images at a lower quality with libjpeg-turbo.
#pragma once

#include <string>

namespace nbsvc {

// Decodes jpeg and encodes it again at quality (1..100), same size, optimised
// Huffman tables, progressive, keeping the ICC profile and the EXIF
// orientation (in an EXIF segment holding nothing else). False (and *out empty) when the input does
// not decode cleanly (damaged or truncated data, unusual colour spaces):
// the caller then keeps the original.
bool RecodeJpeg(const std::string& jpeg, int quality, std::string* out);

}  // namespace nbsvc
