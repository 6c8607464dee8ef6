// Arbitrary bytes through the buffer and string HTTP helpers and the
// rewriting of a proxy request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/http.h"
#include "http/nbHttp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* buf = text.c_str();  // zero-terminated; may hold earlier zeros
  const int n = static_cast<int>(size);

  isHttpHeaderExists(buf, n);
  const int headLen = getHeaderLen(buf);
  if (headLen < 0 || headLen > n) std::abort();
  getRequestSize(buf, n);
  char small[8];
  char value[256];
  getParameterFromHttpHeader("Host", small, sizeof small, buf);
  getParameterFromHttpHeader("Content-Length", value, sizeof value, buf);
  getUrlFromRequest(small, sizeof small, buf);
  getUrlFromRequest(value, sizeof value, buf);
  getFileExtensionFromRequest(small, sizeof small, buf);
  instr(0, buf, "\r\n");

  GetHttpHeader(text);
  GetParameterFromHttpHeader(text, "Host");
  GetParameterFromHttpHeader(text, "Port");
  GetUrlFromHttpRequest(text);
  GetFileExtensionFromHttpRequest(text);
  HtmlEscape(text);
  // A limit is never exceeded, whatever the request.
  const std::size_t limit = size / 2 + 16;
  if (CorrectingHeader(text, limit).size() > limit) std::abort();
  CorrectingHeader(text);
  return 0;
}
