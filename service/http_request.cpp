// Request adjustments of the service.
#include "http_request.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace nbsvc {

namespace {

// True when the line at r[pos, end) is a field named kName (lower case).
template <std::size_t N>
bool IsFieldLine(const std::string& r, std::size_t pos, std::size_t end, const char (&kName)[N]) {
  std::size_t n = N - 1;
  if (end - pos < n + 1) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(r[pos + i])) != kName[i]) return false;
  }
  std::size_t i = pos + n;
  while (i < end && (r[i] == ' ' || r[i] == '\t')) ++i;
  return i < end && r[i] == ':';
}

bool IsAcceptEncodingLine(const std::string& r, std::size_t pos, std::size_t end) {
  return IsFieldLine(r, pos, end, "accept-encoding");
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// True when one Accept range names type (lower case) with a quality above
// zero.
bool RangeTakes(std::string range, const std::string& type) {
  range = Lower(range);
  range.erase(std::remove_if(range.begin(), range.end(),
                             [](char c) { return c == ' ' || c == '\t' || c == '\r'; }),
              range.end());
  const std::size_t n = type.size();
  if (range.compare(0, n, type) != 0 || (range.size() > n && range[n] != ';')) return false;
  std::size_t q = range.find(";q=");
  return q == std::string::npos || std::strtod(range.c_str() + q + 3, nullptr) > 0;
}

// True when an Accept field of the request's head names type.
bool AcceptsType(const std::string& request, const std::string& type) {
  std::size_t pos = request.find('\n');
  while (pos != std::string::npos && pos + 1 < request.size()) {
    std::size_t start = pos + 1;
    std::size_t nl = request.find('\n', start);
    std::size_t end = nl == std::string::npos ? request.size() : nl;
    if (end == start || (end == start + 1 && request[start] == '\r')) return false;  // head ends
    if (IsFieldLine(request, start, end, "accept")) {
      std::string value = request.substr(start, end - start);
      value = value.substr(value.find(':') + 1);
      std::size_t from = 0;
      while (from <= value.size()) {
        std::size_t comma = std::min(value.find(',', from), value.size());
        if (RangeTakes(value.substr(from, comma - from), type)) return true;
        from = comma + 1;
      }
    }
    pos = nl;
  }
  return false;
}

}  // namespace

bool AcceptsWebp(const std::string& request) { return AcceptsType(request, "image/webp"); }

bool AcceptsAvif(const std::string& request) { return AcceptsType(request, "image/avif"); }

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
