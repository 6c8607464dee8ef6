// Untrusted images from the Internet through the JPEG recoder and the EXIF
// reader.
#include "jpeg_recode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "jpeg_meta.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string jpeg(reinterpret_cast<const char*>(data), size);
  std::string out;
  if (!nbsvc::RecodeJpeg(jpeg, size > 0 ? 1 + data[0] % 100 : 40, &out) && !out.empty()) {
    std::abort();  // a refusal leaves nothing behind
  }
  const int orientation = nbsvc::ExifOrientation(data, size);
  if (orientation < 0 || orientation > 8) std::abort();
  return 0;
}
