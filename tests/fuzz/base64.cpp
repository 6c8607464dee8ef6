// Base64 decoding of arbitrary text, and encode/decode of arbitrary bytes.
#include "protocol/base64.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Base64::decode(text);
  // Bytes without zeros come back whole (a zero byte ends its group).
  if (std::memchr(data, 0, size) == nullptr) {
    const std::string encoded = Base64::encodeFromArray(data, static_cast<std::uint32_t>(size));
    if (Base64::encode(text) != encoded) std::abort();
    if (Base64::decode(encoded) != text) std::abort();
  }
  return 0;
}
