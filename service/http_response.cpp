// HTTP/1.x response framing for the fetcher and the answer packer.
#include "http_response.h"

#include <cctype>

namespace nbsvc {

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return s.substr(a, b - a);
}

// End of the head (just past the empty line) starting at from, or npos.
std::size_t HeadEnd(const std::string& data, std::size_t from) {
  std::size_t pos = from;
  while (pos < data.size()) {
    std::size_t nl = data.find('\n', pos);
    if (nl == std::string::npos) return std::string::npos;
    std::size_t lineLen = nl - pos;
    if (lineLen == 0 || (lineLen == 1 && data[pos] == '\r')) {
      return pos == from ? std::string::npos : nl + 1;
    }
    pos = nl + 1;
  }
  return std::string::npos;
}

bool ParseDecimal(const std::string& s, std::uint64_t* v) {
  if (s.empty()) return false;
  std::uint64_t r = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    if (r > (UINT64_MAX - 9) / 10) return false;
    r = r * 10 + static_cast<unsigned>(c - '0');
  }
  *v = r;
  return true;
}

ResponseHead ParseHeadAt(const std::string& data, std::size_t from) {
  ResponseHead h;
  std::size_t end = HeadEnd(data, from);
  if (end == std::string::npos) return h;
  h.complete = true;
  h.headLen = end - from;
  std::size_t pos = from;
  bool first = true;
  while (pos < end) {
    std::size_t nl = data.find('\n', pos);
    std::string line = data.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = nl + 1;
    if (first) {
      first = false;
      if (line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 && line[8] == ' ' &&
          std::isdigit(static_cast<unsigned char>(line[9])) &&
          std::isdigit(static_cast<unsigned char>(line[10])) &&
          std::isdigit(static_cast<unsigned char>(line[11]))) {
        h.status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
      }
      continue;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string value = Trim(line.substr(colon + 1));
    if (name == "content-length") {
      std::uint64_t v;
      if (ParseDecimal(value, &v)) {
        h.hasContentLength = true;
        h.contentLength = v;
      }
    } else if (name == "transfer-encoding") {
      std::string lv = Lower(value);
      h.chunked = lv.size() >= 7 && lv.compare(lv.size() - 7, 7, "chunked") == 0;
    } else if (name == "content-type") {
      std::string lv = Lower(value);
      std::size_t semi = lv.find(';');
      h.contentType = Trim(semi == std::string::npos ? lv : lv.substr(0, semi));
    } else if (name == "content-encoding") {
      std::string lv = Lower(value);
      if (!lv.empty() && lv != "identity") h.encoded = true;
    }
  }
  return h;
}

bool HexValue(char c, unsigned* v) {
  if (c >= '0' && c <= '9')
    *v = static_cast<unsigned>(c - '0');
  else if (c >= 'a' && c <= 'f')
    *v = static_cast<unsigned>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F')
    *v = static_cast<unsigned>(c - 'A' + 10);
  else
    return false;
  return true;
}

}  // namespace

ResponseHead ParseResponseHead(const std::string& data) { return ParseHeadAt(data, 0); }

std::size_t FinalResponseOffset(const std::string& data) {
  std::size_t from = 0;
  for (;;) {
    ResponseHead h = ParseHeadAt(data, from);
    if (!h.complete) return from;
    if (h.status < 100 || h.status >= 200 || h.status == 101) return from;
    from += h.headLen;
  }
}

ChunkState Dechunk(const std::string& data, std::size_t from, std::string* out, std::size_t* end) {
  out->clear();
  std::size_t pos = from;
  for (;;) {
    std::size_t nl = data.find('\n', pos);
    if (nl == std::string::npos)
      return data.size() - pos > 1024 ? ChunkState::Bad : ChunkState::NeedMore;
    std::uint64_t size = 0;
    std::size_t i = pos;
    int digits = 0;
    unsigned v;
    while (i < nl && HexValue(data[i], &v)) {
      if (++digits > 15) return ChunkState::Bad;
      size = size * 16 + v;
      ++i;
    }
    if (digits == 0) return ChunkState::Bad;
    pos = nl + 1;
    if (size == 0) {
      // Trailer fields until an empty line.
      for (;;) {
        std::size_t tl = data.find('\n', pos);
        if (tl == std::string::npos) return ChunkState::NeedMore;
        bool empty = tl == pos || (tl == pos + 1 && data[pos] == '\r');
        pos = tl + 1;
        if (empty) {
          *end = pos;
          return ChunkState::Complete;
        }
      }
    }
    if (data.size() - pos < size) return ChunkState::NeedMore;
    out->append(data, pos, static_cast<std::size_t>(size));
    pos += static_cast<std::size_t>(size);
    // CR LF (or LF) after the chunk data.
    if (pos < data.size() && data[pos] == '\r') ++pos;
    if (pos >= data.size()) return ChunkState::NeedMore;
    if (data[pos] != '\n') return ChunkState::Bad;
    ++pos;
  }
}

bool ResponseComplete(const std::string& data, bool headRequest) {
  std::size_t from = FinalResponseOffset(data);
  ResponseHead h = ParseHeadAt(data, from);
  if (!h.complete) return false;
  std::size_t bodyStart = from + h.headLen;
  if (headRequest || h.status == 204 || h.status == 304) return true;
  if (h.chunked) {
    std::string body;
    std::size_t end = 0;
    return Dechunk(data, bodyStart, &body, &end) != ChunkState::NeedMore;
  }
  if (h.hasContentLength) return data.size() - bodyStart >= h.contentLength;
  return false;
}

std::string RebuildWithBody(const std::string& data, const ResponseHead& head,
                            const std::string& body) {
  std::string out;
  std::size_t pos = 0;
  bool first = true;
  // Field lines of the head, without the empty line that ends it.
  while (pos < head.headLen) {
    std::size_t nl = data.find('\n', pos);
    std::string line = data.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    if (!first) {
      std::size_t colon = line.find(':');
      std::string name = colon == std::string::npos ? "" : Lower(Trim(line.substr(0, colon)));
      if (name == "content-length" || name == "transfer-encoding") continue;
    }
    first = false;
    out += line;
    out += "\r\n";
  }
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

bool IsRecodableJpeg(const ResponseHead& head) {
  if (!head.complete || head.status != 200 || head.encoded) return false;
  return head.contentType == "image/jpeg" || head.contentType == "image/jpg" ||
         head.contentType == "image/pjpeg";
}

}  // namespace nbsvc
