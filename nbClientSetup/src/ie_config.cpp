#include "ie_config.h"

#include <cstring>

#include "modSintax.h"

namespace {

constexpr char kBypass[] = "localhost;127;192.168;<local>";

void PutU32(ConnectionBlob& b, std::size_t& at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at++] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutText(ConnectionBlob& b, std::size_t& at, const char* text) {
  std::size_t n = std::strlen(text);
  PutU32(b, at, static_cast<std::uint32_t>(n));
  std::memcpy(b.data() + at, text, n);
  at += n;
}

}  // namespace

ConnectionBlob MakeConnectionBlob() {
  ConnectionBlob b{};
  std::size_t at = 0;
  PutU32(b, at, 0x3C);  // format marker
  PutU32(b, at, 10);    // change counter
  PutU32(b, at, 3);     // direct connection + use the proxy
  PutText(b, at, kIeProxyServer);
  PutText(b, at, kBypass);
  PutU32(b, at, 0);  // no automatic-configuration script; the rest stays zero
  return b;
}

std::vector<std::string> PhoneBookConnections(const std::string& text) {
  std::vector<std::string> names;
  for (const std::string& line : SplitText(text, "\r\n"))
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
      names.push_back(line.substr(1, line.size() - 2));
  return names;
}

std::vector<IeValue> IeValues(const std::vector<std::string>& connections) {
  const ConnectionBlob blob = MakeConnectionBlob();
  const std::string blobData(blob.begin(), blob.end());
  const std::string zero(4, '\0');
  std::vector<IeValue> v = {
      {true, "", RegType::Sz, ""},
      {false, "ProxyOverride", RegType::Sz, "<local>"},
      {false, "ProxyServer", RegType::Sz, kIeProxyServer},
      // Without it WinINet ignores ProxyServer and goes direct.
      {false, "ProxyEnable", RegType::Dword, std::string("\1\0\0\0", 4)},
  };
  for (const std::string& name : connections) v.push_back({true, name, RegType::Binary, blobData});
  v.push_back({true, "DefaultConnectionSettings", RegType::Binary, blobData});
  v.push_back({true, "SavedLegacySettings", RegType::Binary, blobData});
  v.push_back({false, "ProxyHttp1.1", RegType::Dword, zero});
  v.push_back({false, "EnableHttp1_1", RegType::Dword, zero});
  return v;
}
