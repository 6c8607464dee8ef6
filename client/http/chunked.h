// Request bodies sent in chunks: how a head frames its body, and following a
// chunked body to its end as it passes, without holding it.
#pragma once

#include <cstddef>
#include <cstdint>

// Limits of a chunked body: its data in all, and the bytes of one size line
// or of all trailer lines together.
inline constexpr std::uint64_t kMaxChunkedBodySize = 1ull << 30;
inline constexpr std::size_t kMaxChunkMetaSize = 8192;

enum class BodyFraming {
  Length,   // Content-Length, or no body at all
  Chunked,  // Transfer-Encoding whose last coding is "chunked"
  Invalid,  // any other Transfer-Encoding, or one beside a Content-Length
};
// Framing of the body of the complete, zero-terminated request head `head`.
BodyFraming RequestBodyFraming(const char* head);

// Follows one chunked body: size lines, chunk data, trailers, the last empty
// line. Stops at the body's end: bytes beyond it are never counted in.
class ChunkedBodyScanner {
 public:
  // Takes the next len bytes of the stream; returns how many of them belong
  // to the body (fewer than len once the end or a fault is reached).
  std::size_t Feed(const char* data, std::size_t len);
  // True once the whole body, trailers included, has passed.
  bool done() const { return state_ == State::Done; }
  // True when the body is malformed or goes beyond the limits.
  bool failed() const { return state_ == State::Failed; }

 private:
  enum class State {
    Size,
    Extension,
    SizeEnd,
    Data,
    DataCr,
    DataLf,
    Trailer,
    TrailerEnd,
    Done,
    Failed
  };
  bool Step(char c);

  State state_ = State::Size;
  std::uint64_t chunk_ = 0;  // size of the chunk being read, then what is left of it
  std::uint64_t total_ = 0;  // data bytes so far
  std::size_t meta_ = 0;     // bytes of the current size line, or of the trailers
  bool digits_ = false;      // the size line has a digit
  bool lineEmpty_ = true;    // the trailer line so far is empty
};
