// Chunked request bodies: the framing of a request head and the scanner.
#include "http/chunked.h"

#include <algorithm>
#include <string>

#include "http/http_head.h"
#include "support/nbString.h"

BodyFraming RequestBodyFraming(const char* head) {
  const std::optional<std::string> sCoding = GetParameterFromHttpHeader(head, "Transfer-Encoding");
  if (!sCoding) return BodyFraming::Length;
  if (GetParameterFromHttpHeader(head, "Content-Length")) return BodyFraming::Invalid;
  std::string last = *sCoding;
  const std::size_t comma = last.rfind(',');
  if (comma != std::string::npos) last = last.substr(comma + 1);
  return StrLCase(StrTrim(last)) == "chunked" ? BodyFraming::Chunked : BodyFraming::Invalid;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// One byte outside chunk data; false when it breaks the framing or a limit.
bool ChunkedBodyScanner::Step(char c) {
  if (state_ != State::Data && ++meta_ > kMaxChunkMetaSize) return false;
  switch (state_) {
    case State::Size:
      if (HexValue(c) >= 0) {
        chunk_ = chunk_ * 16 + static_cast<std::uint64_t>(HexValue(c));
        digits_ = true;
        return chunk_ <= kMaxChunkedBodySize;
      }
      if (!digits_) return false;
      if (c == '\r') {
        state_ = State::SizeEnd;
      } else if (c == ';' || c == ' ' || c == '\t') {
        state_ = State::Extension;
      } else {
        return false;
      }
      return true;
    case State::Extension:
      if (c == '\r') state_ = State::SizeEnd;
      return c != '\n';
    case State::SizeEnd:
      if (c != '\n') return false;
      total_ += chunk_;
      if (total_ > kMaxChunkedBodySize) return false;
      meta_ = 0;
      lineEmpty_ = true;
      state_ = chunk_ == 0 ? State::Trailer : State::Data;
      return true;
    case State::DataCr:
      state_ = State::DataLf;
      return c == '\r';
    case State::DataLf:
      state_ = State::Size;
      chunk_ = 0;
      digits_ = false;
      meta_ = 0;
      return c == '\n';
    case State::Trailer:
      if (c == '\r') {
        state_ = State::TrailerEnd;
        return true;
      }
      lineEmpty_ = false;
      return c != '\n';
    case State::TrailerEnd:
      if (c != '\n') return false;
      state_ = lineEmpty_ ? State::Done : State::Trailer;
      lineEmpty_ = true;
      return true;
    default:
      return false;
  }
}

std::size_t ChunkedBodyScanner::Feed(const char* data, std::size_t len) {
  std::size_t used = 0;
  while (used < len && !done() && !failed()) {
    if (state_ == State::Data) {
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, len - used));
      chunk_ -= take;
      used += take;
      if (chunk_ == 0) state_ = State::DataCr;
      continue;
    }
    if (!Step(data[used])) {
      state_ = State::Failed;
      break;
    }
    ++used;
  }
  return used;
}
