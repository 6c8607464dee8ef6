// MD5 message digest following the reference algorithm of RFC 1321.
#include "protocol/md5.h"

#include <cstring>

namespace {

// T[i] = floor(2^32 * |sin(i + 1)|).
const std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts, four per round.
const unsigned kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

const unsigned char kPadding[64] = {0x80};

inline std::uint32_t RotateLeft(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// Words to little-endian bytes.
void Encode(unsigned char* output, const std::uint32_t* input, std::size_t len) {
  for (std::size_t i = 0, j = 0; j < len; ++i, j += 4) {
    output[j] = static_cast<unsigned char>(input[i] & 0xff);
    output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xff);
    output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xff);
    output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xff);
  }
}

// Little-endian bytes to words.
void Decode(std::uint32_t* output, const unsigned char* input, std::size_t len) {
  for (std::size_t i = 0, j = 0; j < len; ++i, j += 4) {
    output[i] = static_cast<std::uint32_t>(input[j]) |
                (static_cast<std::uint32_t>(input[j + 1]) << 8) |
                (static_cast<std::uint32_t>(input[j + 2]) << 16) |
                (static_cast<std::uint32_t>(input[j + 3]) << 24);
  }
}

// Processes one 64-byte block: four rounds of sixteen operations.
void Transform(std::uint32_t state[4], const unsigned char block[64]) {
  std::uint32_t x[16];
  Decode(x, block, 64);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (unsigned i = 0; i < 64; ++i) {
    const unsigned round = i / 16;
    std::uint32_t f;
    unsigned k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    std::uint32_t rotated = RotateLeft(a + f + x[k] + kSine[i], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b = b + rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  std::memset(x, 0, sizeof x);
}

}  // namespace

void my_MD5Init(my_MD5_CTX* context) {
  context->count[0] = context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

void my_MD5Update(my_MD5_CTX* context, const unsigned char* input, std::size_t inputLen) {
  std::size_t index = (context->count[0] >> 3) & 0x3F;
  // Bit count modulo 2^64, carried from the low into the high word.
  const std::uint64_t bits = static_cast<std::uint64_t>(inputLen) << 3;
  const std::uint32_t low = static_cast<std::uint32_t>(bits);
  context->count[0] += low;
  if (context->count[0] < low) ++context->count[1];
  context->count[1] += static_cast<std::uint32_t>(bits >> 32);

  const std::size_t partLen = 64 - index;
  std::size_t i = 0;
  if (inputLen >= partLen) {
    std::memcpy(&context->buffer[index], input, partLen);
    Transform(context->state, context->buffer);
    for (i = partLen; i + 63 < inputLen; i += 64) Transform(context->state, &input[i]);
    index = 0;
  }
  if (inputLen > i) std::memcpy(&context->buffer[index], &input[i], inputLen - i);
}

void my_MD5Final(unsigned char digest[16], my_MD5_CTX* context) {
  unsigned char bits[8];
  Encode(bits, context->count, 8);
  // Pad to 56 bytes modulo 64, then append the original length in bits.
  const std::size_t index = (context->count[0] >> 3) & 0x3f;
  const std::size_t padLen = index < 56 ? 56 - index : 120 - index;
  my_MD5Update(context, kPadding, padLen);
  my_MD5Update(context, bits, 8);
  Encode(digest, context->state, 16);
  std::memset(context, 0, sizeof *context);
}

void md5str(char* out, const char* in) {
  static const char kHex[] = "0123456789abcdef";
  my_MD5_CTX ctx;
  my_MD5Init(&ctx);
  my_MD5Update(&ctx, reinterpret_cast<const unsigned char*>(in), in ? std::strlen(in) : 0);
  unsigned char digest[16];
  my_MD5Final(digest, &ctx);
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0x0f];
  }
  out[32] = '\0';
}
