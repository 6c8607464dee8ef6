// The HTTP-head parser.
#include "http/http_head.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The pieces of the first header line whose trimmed name is `name` (in any
// case) and that has a value: the name, then the text between and after its
// colons. Empty when no line matches.
std::vector<std::string> HeaderLine(std::string_view msg, std::string_view name) {
  const int len = getHeaderLen(msg);
  if (len < 1) return {};
  const std::vector<std::string> lines =
      StrExplode(std::string(msg.substr(0, static_cast<std::size_t>(len))), "\r\n", true);
  const std::string wanted = StrLCase(std::string(name));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> pieces = StrExplode(lines[i], ":", true);
    if (pieces.size() >= 2 && StrLCase(StrTrim(pieces[0])) == wanted) return pieces;
  }
  return {};
}

}  // namespace

std::string_view BufferView(const char* data, int size) {
  if (data == nullptr || size <= 0) return {};
  return std::string_view(data, static_cast<std::size_t>(size));
}

bool isHttpHeaderExists(std::string_view msg) {
  if (msg.size() <= 10) return false;
  if (!StartsWith(msg, "GET") && !StartsWith(msg, "POST") && !StartsWith(msg, "HTTP/1.0") &&
      !StartsWith(msg, "HTTP/1.1")) {
    return false;
  }
  return msg.find(kHeadEnd) != std::string_view::npos;
}

int getHeaderLen(std::string_view msg) {
  const std::size_t p = msg.find(kHeadEnd);
  if (p == std::string_view::npos || p == 0 || p > INT_MAX - kHeadEnd.size()) return 0;
  return static_cast<int>(p + kHeadEnd.size());
}

std::string_view GetHttpHeader(std::string_view msg) {
  if (!isHttpHeaderExists(msg)) return {};
  return msg.substr(0, static_cast<std::size_t>(getHeaderLen(msg)));
}

std::optional<std::string> GetParameterFromHttpHeader(std::string_view msg, std::string_view name) {
  const std::vector<std::string> pieces = HeaderLine(msg, name);
  if (pieces.empty()) return std::nullopt;
  std::string value = StrTrim(pieces[1]);
  for (std::size_t k = 2; k < pieces.size(); ++k) value += ":" + StrTrim(pieces[k]);
  return value;
}

std::string GetHostFromHttpRequest(std::string_view msg) {
  const std::vector<std::string> pieces = HeaderLine(msg, "host");
  return pieces.empty() ? std::string() : StrTrim(pieces[1]);
}

std::string GetPortFromHttpRequest(std::string_view msg) {
  const std::vector<std::string> pieces = HeaderLine(msg, "host");
  if (pieces.empty()) return std::string();
  return pieces.size() == 3 ? pieces[2] : "80";
}

int getRequestSize(std::string_view msg) {
  if (!isHttpHeaderExists(msg)) return -1;
  const long long head = getHeaderLen(msg);
  const std::optional<std::string> sLength = GetParameterFromHttpHeader(msg, "Content-Length");
  if (!sLength) return static_cast<int>(head);
  // Decimal conversion of the leading digits; a value beyond int is capped
  // instead of overflowing.
  long long length = std::strtoll(sLength->c_str(), nullptr, 10);
  if (length > INT_MAX) length = INT_MAX;
  if (length < INT_MIN) length = INT_MIN;
  long long total;
  if (StartsWith(msg, "POST")) {
    total = head + length - 4;
    if (total < 0) return -1;
    total = std::max(total, static_cast<long long>(msg.size()));
  } else if (StartsWith(msg, "HTTP")) {
    total = head + length;
    if (total < 0) return -1;
  } else {
    dbgmsg("unknow request");
    return -1;
  }
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

std::string GetUrlFromHttpRequest(std::string_view msg) {
  const std::size_t p = msg.find("\r\n");
  if (p == std::string_view::npos || p == 0) return std::string();
  const std::vector<std::string> words = StrExplode(std::string(msg.substr(0, p)), " ", true);
  return words.size() == 3 ? words[1] : std::string();
}

std::string GetFileExtensionFromHttpRequest(std::string_view msg) {
  const std::string url = GetUrlFromHttpRequest(msg);
  std::string_view path(url);
  path = path.substr(0, path.find('?'));
  // An absolute URL: its path starts at the first slash after the host.
  const std::size_t scheme = path.find("://");
  if (scheme != std::string_view::npos && scheme < path.find('/')) {
    const std::size_t slash = path.find('/', scheme + 3);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  }
  const std::size_t segment = path.find_last_of("/\\");
  if (segment != std::string_view::npos) path = path.substr(segment + 1);
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::string();
  return std::string(path.substr(dot + 1));
}
