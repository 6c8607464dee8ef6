// Base64 with the RFC 4648 alphabet and "=" padding; used for the Basic
// credentials sent to an upstream proxy.
#pragma once

#include <cstdint>
#include <string>

class Base64 {
 public:
  static std::string encode(const std::string& text);
  static std::string encodeFromArray(const unsigned char* bytes, std::uint32_t length);
  // Never fails: characters outside the alphabet count as zero values, and
  // each group's bytes end at its first zero byte.
  static std::string decode(const std::string& text);
};
