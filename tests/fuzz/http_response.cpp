// A web server's answer, as arbitrary bytes, through the service's reading
// of heads, chunked bodies and completeness, and the rebuilding around a body.
#include "http_response.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "response_framer.h"
#include "service_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nbsvc::ResponseHead head = nbsvc::ParseResponseHead(text);
  if (head.complete && head.headLen > size) std::abort();
  nbsvc::ResponseComplete(text, false);
  nbsvc::ResponseComplete(text, true);
  if (nbsvc::FinalResponseOffset(text) > size) std::abort();
  nbsvc::IsRecodableJpeg(head);
  if (size <= nbsvc::kMaxResponseHeadBytes) {
    // Followed in two parts while arriving, the framing agrees with the text.
    nbsvc::ResponseFramer framer(false);
    framer.Feed(text.data(), size / 2);
    framer.Feed(text.data() + size / 2, size - size / 2);
    if (framer.Complete() != nbsvc::ResponseComplete(text, false)) std::abort();
  }
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
