// Buffer HTTP helpers over zero-terminated character buffers.
#include "http/http.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/debug.h"
#include "support/nbString.h"

namespace {

constexpr int kMaxRequestLine = 10000;  // longest request line examined

// Copies s with a terminating zero into dst of capacity cap. False (and dst
// untouched) when it does not fit.
bool CopyOut(const std::string& s, char* dst, std::size_t cap) {
  if (dst == nullptr || s.size() + 1 > cap) return false;
  std::memcpy(dst, s.data(), s.size());
  dst[s.size()] = '\0';
  return true;
}

bool StartsWith(const char* p, int size, const char* prefix) {
  int n = static_cast<int>(std::strlen(prefix));
  return size >= n && std::memcmp(p, prefix, n) == 0;
}

}  // namespace

bool isHttpHeaderExists(const char* request, int iSize) {
  dbgmsg("bool isHttpHeaderExists(char* request, int iSize)");
  bool found = false;
  if (request != nullptr && iSize > 10 &&
      (StartsWith(request, iSize, "GET") || StartsWith(request, iSize, "POST") ||
       StartsWith(request, iSize, "HTTP/1.0") || StartsWith(request, iSize, "HTTP/1.1"))) {
    for (int i = 3; i < iSize && !found; ++i) {
      found = request[i - 3] == '\r' && request[i - 2] == '\n' && request[i - 1] == '\r' &&
              request[i] == '\n';
    }
  }
  dbgmsg("RET bool isHttpHeaderExists(char* request, int iSize)");
  return found;
}

int getHeaderLen(const char* request) {
  dbgmsg("int getHeaderLen(char* request)");
  int len = 0;
  const char* p = request != nullptr ? std::strstr(request, "\r\n\r\n") : nullptr;
  if (p != nullptr && p > request) len = static_cast<int>(p - request) + 4;
  dbgmsg("RET int getHeaderLen(char* request)");
  return len;
}

bool getParameterFromHttpHeader(const char* name, char* value, std::size_t cap,
                                const char* request) {
  dbgmsg("bool getParameterFromHttpHeader(char* name, char* value, char* request)");
  int len = getHeaderLen(request);
  if (len < 1 || name == nullptr) {
    dbgmsg("RET bool getParameterFromHttpHeader(char* name, char* value, char* request)");
    return false;
  }
  std::vector<std::string> lines = StrExplode(std::string(request, len), "\r\n", true);
  dbgmsg("vsHttpHeaderLines.size=");
  dbgmsg(static_cast<double>(lines.size()));
  if (lines.size() < 2) {
    dbgmsg("vsHttpHeaderLines.size() < 2");
    dbgmsg("RET bool getParameterFromHttpHeader(char* name, char* value, char* request)");
    return false;
  }
  const std::string wanted = StrLCase(name);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> pieces = StrExplode(lines[i], ":", true);
    if (pieces.size() < 2) continue;
    if (StrLCase(StrTrim(pieces[0])) != wanted) continue;
    std::string v = StrTrim(pieces[1]);
    for (std::size_t k = 2; k < pieces.size(); ++k) v += ":" + StrTrim(pieces[k]);
    // A value longer than the caller's buffer is cut to fit.
    if (value != nullptr && cap > 0) {
      if (v.size() + 1 > cap) v.resize(cap - 1);
      CopyOut(v, value, cap);
    }
    dbgmsg("RET bool getParameterFromHttpHeader(char* name, char* value, char* request)");
    return true;
  }
  dbgmsg("RET bool getParameterFromHttpHeader(char* name, char* value, char* request)");
  return false;
}

int getRequestSize(const char* request, int iSize) {
  dbgmsg("int getRequestSize(char* request, int iSize)");
  if (iSize <= 4) {
    dbgmsg("iSize < 5! exit");
    return -1;
  }
  if (!isHttpHeaderExists(request, iSize)) {
    dbgmsg("isHttpHeaderExists(request, iSize) == false! exit");
    return -1;
  }
  long long head = getHeaderLen(request);
  char szLength[32];
  if (!getParameterFromHttpHeader("Content-Length", szLength, sizeof szLength, request)) {
    dbgmsg("its GET req");
    return static_cast<int>(head);
  }
  // Decimal conversion of the leading digits; a value beyond int is capped
  // instead of overflowing.
  long long length = std::strtoll(szLength, nullptr, 10);
  if (length > INT_MAX) length = INT_MAX;
  if (length < INT_MIN) length = INT_MIN;
  long long total;
  if (StartsWith(request, iSize, "POST")) {
    dbgmsg("its POST req");
    total = head + length - 4;
    if (total < 0) return -1;
    if (total < iSize) total = iSize;
  } else if (StartsWith(request, iSize, "HTTP")) {
    dbgmsg("HTTP answ");
    total = head + length;
    if (total < 0) return -1;
  } else {
    dbgmsg("unknow request");
    dbgmsg(request);
    return -1;
  }
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

bool getUrlFromRequest(char* url, std::size_t cap, const char* request) {
  dbgmsg("bool getUrlFromRequest(char* url, char* request)");
  int p = instr(0, request, "\r");
  if (p <= 3 || p >= kMaxRequestLine) {
    dbgmsg("RET bool getUrlFromRequest(char* url, char* request)");
    return false;
  }
  std::string line(request, p);
  dbgmsg("szLine");
  dbgmsg(line);
  std::vector<char> w1(kMaxRequestLine), w2(kMaxRequestLine), w3(kMaxRequestLine);
  int words = std::sscanf(line.c_str(), "%[^ ] %[^ ] %[^ ]", w1.data(), w2.data(), w3.data());
  bool ok = words >= 3 && CopyOut(w2.data(), url, cap);
  if (ok) {
    dbgmsg("url=");
    dbgmsg(w2.data());
  }
  dbgmsg("RET bool getUrlFromRequest(char* url, char* request)");
  return ok;
}

bool getFileExtensionFromRequest(char* ext, std::size_t cap, const char* request) {
  dbgmsg("bool getFileExtensionFromUrl(char* ext, char* request)");
  std::vector<char> buf(kMaxRequestLine);
  bool ok = false;
  std::string e;
  if (getUrlFromRequest(buf.data(), buf.size(), request)) {
    std::string url(buf.data());
    std::size_t q = url.find('?');
    if (q != std::string::npos) {
      dbgmsg("hP=");
      dbgmsg(url.substr(q));
      if (q > 3) {
        e = StrLCase(url.substr(q - 3, 3));
        ok = true;
      }
    } else if (url.size() > 4) {
      e = url.substr(url.size() - 3);
      ok = true;
    }
  }
  if (ok) ok = CopyOut(e, ext, cap);
  if (ok) {
    dbgmsg("ext=");
    dbgmsg(e);
  }
  dbgmsg("RET bool getFileExtensionFromUrl(char* ext, char* request)");
  return ok;
}

char* ip_int2str(unsigned int iip, char* sip) {
  dbgmsg("char* ip_int2str(int iip, char* sip)");
  std::snprintf(sip, 16, "%u.%u.%u.%u", iip & 0xFFu, (iip >> 8) & 0xFFu, (iip >> 16) & 0xFFu,
                (iip >> 24) & 0xFFu);
  dbgmsg("RET char* ip_int2str(int iip, char* sip)");
  return sip;
}

void UndecorateHttpString(std::string* dstr) {
  dbgmsg("void UndecorateHttpString(string *dstr)");
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
    std::string hex = in.substr(i + 1, 2);
    long code = std::strtol(hex.c_str(), nullptr, 16);
    dbgmsg(hex);
    if (code != 0) out += static_cast<char>(code);
    i += 1 + hex.size();
  }
  *dstr = out;
  dbgmsg("RET void UndecorateHttpString(string *dstr)");
}

int instr(int pos, const char* src, const char* find) {
  if (src == nullptr || find == nullptr || pos < 0) return -1;
  std::size_t len = std::strlen(src);
  if (static_cast<std::size_t>(pos) > len) return -1;
  const char* p = std::strstr(src + pos, find);
  if (p == nullptr) return -1;
  dbgmsg("find OK");
  dbgmsg("iPos=");
  dbgmsg(static_cast<double>(p - src));
  return static_cast<int>(p - src);
}
