// MD5 message digest (RFC 1321 reference algorithm).
#pragma once

#include <cstddef>
#include <cstdint>

struct my_MD5_CTX {
  std::uint32_t state[4];
  std::uint32_t count[2];  // number of bits, modulo 2^64 (low word first)
  unsigned char buffer[64];
};

void my_MD5Init(my_MD5_CTX* context);
void my_MD5Update(my_MD5_CTX* context, const unsigned char* input, std::size_t inputLen);
void my_MD5Final(unsigned char digest[16], my_MD5_CTX* context);

// Digest of the strlen(in) bytes of `in` as 32 lowercase hex characters and a
// terminating zero; `out` must hold 33 bytes.
void md5str(char* out, const char* in);
