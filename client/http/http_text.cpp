// Texts around HTTP.
#include "http/http_text.h"

#include <cstdlib>

std::string IpIntToStr(std::uint32_t ip) {
  return std::to_string(ip & 0xFFu) + "." + std::to_string((ip >> 8) & 0xFFu) + "." +
         std::to_string((ip >> 16) & 0xFFu) + "." + std::to_string((ip >> 24) & 0xFFu);
}

void UndecorateHttpString(std::string* dstr) {
  if (dstr == nullptr) return;
  // One pass: a character produced from an escape is never read again as the
  // start of another escape, so "%2541" decodes to "%41", not to "A".
  const std::string& in = *dstr;
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    if (in[i] != '%') {
      out += in[i++];
      continue;
    }
    const std::string hex = in.substr(i + 1, 2);
    const long code = std::strtol(hex.c_str(), nullptr, 16);
    if (code != 0) out += static_cast<char>(code);
    i += 1 + hex.size();
  }
  *dstr = out;
}

std::string HtmlEscape(const std::string& sText) {
  std::string out;
  out.reserve(sText.size());
  for (char c : sText) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HtmlAnswer(const std::string& status, const std::string& body) {
  return "HTTP/1.0 " + status +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}
