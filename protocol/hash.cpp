// Request authentication code.
#include "protocol/hash.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/md5.h"
#include "protocol/trace.h"

int getAuthCode(const char* sHash, int iTime) {
  const char* hash = sHash ? sHash : "";
  if (std::strlen(hash) != 32) ProtocolTrace("hash getAuthCode() Warning: sHash is not a 32 bytes");
  // The digest covers the whole joined text, however long the stored hash is.
  const std::string buff = std::string(hash) + std::to_string(iTime);
  ProtocolTrace("getAuthCode(): buff=");
  ProtocolTrace(buff);
  char h[33];
  md5str(h, buff.c_str());
  std::uint16_t sum = 0;
  for (int i = 0; i < 32; i += 2) {
    const unsigned word =
        static_cast<unsigned char>(h[i]) * 256u + static_cast<unsigned char>(h[i + 1]);
    sum = static_cast<std::uint16_t>(sum + word);
  }
  return sum;
}
