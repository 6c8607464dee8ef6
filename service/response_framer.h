// Follows a web server's response while its bytes arrive: where its head
// ends and whether its framing (Content-Length, chunked coding, or a status
// without body) is satisfied, without keeping the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http_response.h"

namespace nbsvc {

class ResponseFramer {
 public:
  // headRequest: the request was HEAD, so no body follows the head.
  explicit ResponseFramer(bool headRequest) : headRequest_(headRequest) {}

  // Takes the next bytes of the response. Only an incomplete head is kept
  // (at most kMaxResponseHeadBytes; a longer one is given up and the
  // response is then framed by the connection's end).
  void Feed(const char* data, std::size_t len);
  // True once the final head is parsed (interim 1xx heads skipped).
  bool HeadKnown() const { return headKnown_; }
  // The final head; meaningful when HeadKnown().
  const ResponseHead& Head() const { return head_; }
  // Bytes of interim heads before the final one.
  std::size_t HeadOffset() const { return headOffset_; }
  // True when the framing is satisfied: the response is whole.
  bool Complete() const { return state_ == State::Done; }
  // Whether a response whose bytes stopped here is whole: complete by its
  // framing, or framed by the connection's end and closed cleanly (then
  // also bytes that are not HTTP at all). False: it was cut.
  bool WholeAtEnd(bool cleanClose) const;

 private:
  enum class State { Head, Unframed, Length, ChunkSize, ChunkDataEnd, ChunkData, Trailer, Done };
  void FeedHead(const char* data, std::size_t len);
  void StartBody();
  void FeedBody(const char* data, std::size_t len);
  void EndChunkSizeLine();

  const bool headRequest_;
  State state_ = State::Head;
  bool headKnown_ = false;
  std::string start_;  // the first bytes, up to 5
  bool http_ = false;  // the bytes begin with "HTTP/"
  ResponseHead head_;
  std::size_t headOffset_ = 0;
  std::string held_;             // incomplete head, or the current chunk-size line
  std::uint64_t remaining_ = 0;  // body or chunk bytes still to come
  std::size_t lineLen_ = 0;      // trailer: bytes of the current line
  bool lineCr_ = false;          // trailer: the current line so far is one CR
};

}  // namespace nbsvc
