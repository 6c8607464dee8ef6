// A web server's answer, as arbitrary bytes, through the service's reading
// of heads, chunked bodies and completeness, and the rebuilding around a body.
#include "http_response.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nbsvc::ResponseHead head = nbsvc::ParseResponseHead(text);
  if (head.complete && head.headLen > size) std::abort();
  nbsvc::ResponseComplete(text, false);
  nbsvc::ResponseComplete(text, true);
  if (nbsvc::FinalResponseOffset(text) > size) std::abort();
  nbsvc::IsRecodableJpeg(head);
  if (head.complete) {
    std::string body;
    std::size_t end = 0;
    if (nbsvc::Dechunk(text, head.headLen, &body, &end) == nbsvc::ChunkState::Complete &&
        (end > size || body.size() > size)) {
      std::abort();
    }
    nbsvc::RebuildWithBody(text, head, "body");
  }
  return 0;
}
