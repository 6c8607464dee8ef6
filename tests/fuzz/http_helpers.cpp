// Arbitrary bytes through the HTTP-head parser, the text helpers and the
// rewriting of a proxy request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/http_head.h"
#include "http/http_text.h"
#include "http/request_rewrite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int n = static_cast<int>(size);

  isHttpHeaderExists(text);
  const int headLen = getHeaderLen(BufferView(text.data(), n));
  if (headLen < 0 || headLen > n) std::abort();
  getRequestSize(text);
  GetHttpHeader(text);
  GetParameterFromHttpHeader(text, "Content-Length");
  GetHostFromHttpRequest(text);
  GetPortFromHttpRequest(text);
  GetUrlFromHttpRequest(text);
  GetFileExtensionFromHttpRequest(text);
  HtmlEscape(text);
  std::string decoded = text;
  UndecorateHttpString(&decoded);
  // A limit is never exceeded, whatever the request.
  const std::size_t limit = size / 2 + 16;
  if (CorrectingHeader(text, limit).size() > limit) std::abort();
  CorrectingHeader(text);
  return 0;
}
