// Push packet bodies and the URLs they are kept under.
#include "protocol/push.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "protocol/capabilities.h"
#include "protocol/text_codec.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The head of a request: up to its empty line (or all of it).
std::string HeadOf(const std::string& request) {
  std::size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? request : request.substr(0, end + 2);
}

// The value of the first field called name (lower case) in head, trimmed;
// found tells whether there was one.
std::string FieldValue(const std::string& head, const char* name, bool* found) {
  *found = false;
  std::size_t pos = head.find('\n');
  const std::size_t n = std::strlen(name);
  while (pos != std::string::npos && pos + 1 < head.size()) {
    std::size_t start = pos + 1;
    std::size_t end = head.find('\n', start);
    std::string line =
        head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t colon = line.find(':');
    if (colon == n && Lower(line.substr(0, colon)) == name) {
      *found = true;
      std::size_t b = line.find_first_not_of(" \t", colon + 1);
      std::size_t e = line.find_last_not_of(" \t");
      return b == std::string::npos ? std::string() : line.substr(b, e - b + 1);
    }
    pos = end;
  }
  return std::string();
}

}  // namespace

std::string EncodePush(const std::string& url, const std::vector<PushPiece>& pieces) {
  std::string out;
  const std::size_t n = std::min<std::size_t>(url.size(), 0xffff);
  out += static_cast<char>(n & 0xff);
  out += static_cast<char>(n >> 8);
  out.append(url, 0, n);
  for (const PushPiece& p : pieces) {
    unsigned char raw[kServiceHeaderSize];
    EncodeServiceHeader(p.header, raw);
    out.append(reinterpret_cast<const char*>(raw), sizeof raw);
    out += p.body;
  }
  return out;
}

bool DecodePush(const char* body, std::size_t len, std::size_t maxAnswer, std::string* url,
                std::string* answer) {
  if (len < 2) return false;
  const std::size_t n = static_cast<unsigned char>(body[0]) |
                        (static_cast<std::size_t>(static_cast<unsigned char>(body[1])) << 8);
  if (n == 0 || n > len - 2) return false;
  url->assign(body + 2, n);
  answer->clear();
  std::size_t pos = 2 + n;
  while (pos < len) {
    if (len - pos < kServiceHeaderSize) return false;
    nbServiceHeader h = DecodeServiceHeader(reinterpret_cast<const unsigned char*>(body + pos));
    pos += kServiceHeaderSize;
    if (h.size > len - pos || h.decompSize > maxAnswer - answer->size()) return false;
    const char* data = body + pos;
    pos += h.size;
    std::string piece;
    switch (h.msg) {
      case NB_PACKET_BZ2:
        if (!Bz2Decompress(data, h.size, h.decompSize, piece)) return false;
        break;
      case NB_PACKET_TEXT2:
        if (!Text2Decompress(data, h.size, h.decompSize, std::string(), piece)) return false;
        break;
      case NB_PACKET_NOCOMPRESS:
      case NB_PACKET_JPG:
        piece.assign(data, h.size);
        break;
      default:
        return false;
    }
    if (h.msg != NB_PACKET_JPG && piece.size() != h.decompSize) return false;
    if (piece.size() > maxAnswer - answer->size()) return false;
    *answer += piece;
  }
  return true;
}

std::string PushUrlOfRequest(const std::string& request) {
  if (request.compare(0, 4, "GET ") != 0) return std::string();
  std::size_t end = request.find(' ', 4);
  std::size_t eol = request.find_first_of("\r\n");
  if (end == std::string::npos || end > eol) return std::string();
  std::string target = request.substr(4, end - 4);
  std::string host, path;
  if (Lower(target.substr(0, 7)) == "http://") {
    std::size_t slash = target.find('/', 7);
    host = target.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    path = slash == std::string::npos ? "/" : target.substr(slash);
  } else if (!target.empty() && target[0] == '/') {
    bool found = false;
    host = FieldValue(HeadOf(request), "host", &found);
    path = target;
  }
  if (host.empty() || host.find_first_of(" \t@") != std::string::npos) return std::string();
  return "http://" + Lower(host) + path;
}

bool RequestCarriesCredentials(const std::string& request) {
  const std::string head = HeadOf(request);
  bool cookie = false, auth = false;
  FieldValue(head, "cookie", &cookie);
  FieldValue(head, "authorization", &auth);
  return cookie || auth;
}

bool RequestIsConditional(const std::string& request) {
  const std::string head = HeadOf(request);
  bool etag = false, since = false;
  FieldValue(head, "if-none-match", &etag);
  FieldValue(head, "if-modified-since", &since);
  return etag || since;
}

std::string EncodePromise(const std::vector<std::string>& urls) {
  std::string out;
  for (const std::string& url : urls) {
    const std::size_t n = std::min<std::size_t>(url.size(), 0xffff);
    out += static_cast<char>(n & 0xff);
    out += static_cast<char>(n >> 8);
    out.append(url, 0, n);
  }
  return out;
}

bool DecodePromise(const char* body, std::size_t len, std::vector<std::string>* urls) {
  urls->clear();
  for (std::size_t pos = 0; pos < len;) {
    if (len - pos < 2) return false;
    const std::size_t n =
        static_cast<unsigned char>(body[pos]) |
        (static_cast<std::size_t>(static_cast<unsigned char>(body[pos + 1])) << 8);
    pos += 2;
    if (n == 0 || n > len - pos) return false;
    urls->emplace_back(body + pos, n);
    pos += n;
  }
  return true;
}

std::string UrlHash(const std::string& url) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : url) {
    h ^= c;
    h *= 16777619u;
  }
  char out[9];
  std::snprintf(out, sizeof out, "%08x", static_cast<unsigned>(h));
  return out;
}

std::string WithHeldField(const std::string& request, const std::vector<std::string>& hashes) {
  const std::size_t nl = request.find('\n');
  if (hashes.empty() || nl == std::string::npos) return request;
  std::string line = std::string(kHeldField) + ":";
  for (std::size_t i = 0; i < hashes.size() && i < kMaxHeldHashes; ++i) line += " " + hashes[i];
  return request.substr(0, nl + 1) + line + "\r\n" + request.substr(nl + 1);
}

std::set<std::string> TakeHeldField(std::string* request) {
  std::set<std::string> hashes;
  bool first = true;
  const std::string name = Lower(kHeldField) + ":";
  for (;;) {
    const std::string head = Lower(HeadOf(*request));
    std::size_t at = head.find("\n" + name);
    if (at == std::string::npos) return hashes;
    const std::size_t from = at + 1;
    std::size_t end = request->find('\n', from);
    end = end == std::string::npos ? request->size() : end + 1;
    if (first) {
      std::string value = request->substr(from + name.size(), end - from - name.size());
      for (std::size_t b = 0; hashes.size() < kMaxHeldHashes;) {
        b = value.find_first_not_of(" \t\r\n", b);
        if (b == std::string::npos) break;
        std::size_t e = std::min(value.find_first_of(" \t\r\n", b), value.size());
        hashes.insert(value.substr(b, e - b));
        b = e;
      }
    }
    first = false;
    request->erase(from, end - from);
  }
}
