// Just enough HTTP/1.x response reading for the service: where the head
// ends, how the body is framed, and rebuilding a response around a new body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nbsvc {

struct ResponseHead {
  bool complete = false;    // the head up to the empty line is present
  int status = 0;           // 0 when the status line is not HTTP/1.x NNN
  std::size_t headLen = 0;  // bytes of status line, fields and empty line
  std::string contentType;  // media type, lower case, without parameters
  bool hasContentLength = false;
  std::uint64_t contentLength = 0;
  bool chunked = false;  // Transfer-Encoding ends in "chunked"
  bool encoded = false;  // a Content-Encoding other than identity
};

// Parses the head at the start of data (CR LF or bare LF line ends).
ResponseHead ParseResponseHead(const std::string& data);

enum class ChunkState { Complete, NeedMore, Bad };

// Decodes a chunked body starting at data[from]; on Complete, *out holds the
// payload and *end the offset just after the trailer.
ChunkState Dechunk(const std::string& data, std::size_t from, std::string* out, std::size_t* end);

// True when data holds a whole response (interim 1xx heads skipped), judged
// by Content-Length, chunked framing or a status without body; responses
// delimited by the end of the connection are never complete here.
// headRequest: the request was HEAD, so no body follows.
bool ResponseComplete(const std::string& data, bool headRequest);

// Offset of the final (non-1xx) response in data; 0 when there is no
// interim response or the head is incomplete.
std::size_t FinalResponseOffset(const std::string& data);

// The response with the same status line and fields but the given body:
// Content-Length and Transfer-Encoding fields dropped and one
// "Content-Length: <n>" added before the empty line.
std::string RebuildWithBody(const std::string& data, const ResponseHead& head,
                            const std::string& body);

// True when a head describes a JPEG image this service may recode.
bool IsRecodableJpeg(const ResponseHead& head);

}  // namespace nbsvc
