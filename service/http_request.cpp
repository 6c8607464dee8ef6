// Request adjustments of the service.
#include "http_request.h"

#include <cctype>

namespace nbsvc {

namespace {

bool IsAcceptEncodingLine(const std::string& r, std::size_t pos, std::size_t end) {
  static const char kName[] = "accept-encoding";
  std::size_t n = sizeof kName - 1;
  if (end - pos < n + 1) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(r[pos + i])) != kName[i]) return false;
  }
  std::size_t i = pos + n;
  while (i < end && (r[i] == ' ' || r[i] == '\t')) ++i;
  return i < end && r[i] == ':';
}

}  // namespace

std::string WithoutAcceptEncoding(const std::string& request) {
  std::string out;
  out.reserve(request.size());
  std::size_t pos = 0;
  bool first = true;
  while (pos < request.size()) {
    std::size_t nl = request.find('\n', pos);
    if (nl == std::string::npos) break;  // no complete head: rest copied below
    std::size_t lineEnd = nl + 1;
    bool blank = nl == pos || (nl == pos + 1 && request[pos] == '\r');
    if (!first && !blank && IsAcceptEncodingLine(request, pos, nl)) {
      pos = lineEnd;
      continue;
    }
    out.append(request, pos, lineEnd - pos);
    pos = lineEnd;
    first = false;
    if (blank) break;
  }
  out.append(request, pos, std::string::npos);
  return out;
}

}  // namespace nbsvc
