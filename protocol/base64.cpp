// Base64 encoder and the lenient decoder.
#include "protocol/base64.h"

namespace {

const char cb64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table for '+' (0x2B) to 'z' (0x7A): a letter's 6-bit value plus
// 62, or '$' for a character that is not a Base64 letter.
const char cd64[] =
    "|$$$}rstuvwxyz{$$$$$$$>?@ABCDEFGHIJKLMNOPQRSTUVW$$$$$$XYZ[\\]^_`abcdefghijklmnopq";

// Value of one character; anything outside the alphabet counts as 0.
unsigned SixBits(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < '+' || u > 'z') return 0;
  char entry = cd64[u - '+'];
  return entry == '$' ? 0 : static_cast<unsigned>(entry - 62);
}

void decodeblock(const unsigned in[4], unsigned char out[3]) {
  out[0] = static_cast<unsigned char>(((in[0] << 2) | (in[1] >> 4)) & 0xFF);
  out[1] = static_cast<unsigned char>(((in[1] << 4) | (in[2] >> 2)) & 0xFF);
  out[2] = static_cast<unsigned char>(((in[2] << 6) | in[3]) & 0xFF);
}

}  // namespace

std::string Base64::encode(const std::string& text) {
  return encodeFromArray(reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<std::uint32_t>(text.size()));
}

std::string Base64::encodeFromArray(const unsigned char* bytes, std::uint32_t length) {
  std::string out;
  if (bytes == nullptr) return out;
  out.reserve((static_cast<std::size_t>(length) + 2) / 3 * 4);
  for (std::uint32_t i = 0; i < length; i += 3) {
    std::uint32_t left = length - i;
    unsigned b0 = bytes[i];
    unsigned b1 = left > 1 ? bytes[i + 1] : 0;
    unsigned b2 = left > 2 ? bytes[i + 2] : 0;
    out += cb64[b0 >> 2];
    out += cb64[((b0 & 0x03) << 4) | (b1 >> 4)];
    out += left < 2 ? '=' : cb64[((b1 & 0x0F) << 2) | (b2 >> 6)];
    out += left < 3 ? '=' : cb64[b2 & 0x3F];
  }
  return out;
}

std::string Base64::decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::size_t k = text.size() - i < 4 ? text.size() - i : 4;
    unsigned values[4] = {0, 0, 0, 0};
    for (std::size_t j = 0; j < k; ++j) values[j] = SixBits(text[i + j]);
    unsigned char bytes[3];
    decodeblock(values, bytes);
    // A group of k characters gives at most k - 1 bytes, ending at a zero byte.
    for (std::size_t j = 0; j + 1 < k && j < 3; ++j) {
      if (bytes[j] == 0) break;
      out += static_cast<char>(bytes[j]);
    }
  }
  return out;
}
