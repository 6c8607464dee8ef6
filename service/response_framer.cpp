// Response framing followed while the bytes arrive.
#include "response_framer.h"

#include <algorithm>
#include <cstring>

#include "service_limits.h"

namespace nbsvc {

namespace {

// Longest chunk-size line accepted (extensions included).
constexpr std::size_t kMaxChunkLine = 1024;

bool HexValue(char c, unsigned* v) {
  if (c >= '0' && c <= '9') {
    *v = static_cast<unsigned>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    *v = static_cast<unsigned>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    *v = static_cast<unsigned>(c - 'A' + 10);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void ResponseFramer::Feed(const char* data, std::size_t len) {
  if (state_ == State::Head) {
    FeedHead(data, len);
  } else {
    FeedBody(data, len);
  }
}

void ResponseFramer::FeedHead(const char* data, std::size_t len) {
  if (start_.size() < 5) {
    std::size_t first = std::min<std::size_t>(5 - start_.size(), len);
    start_.append(data, first);
    http_ = start_ == "HTTP/";
  }
  held_.append(data, len);
  for (;;) {
    ResponseHead h = ParseResponseHead(held_);
    if (!h.complete) {
      // No head within the bound: passed on as it comes, until the end.
      if (held_.size() > kMaxResponseHeadBytes) {
        state_ = State::Unframed;
        std::string().swap(held_);
      }
      return;
    }
    if (h.status >= 100 && h.status < 200 && h.status != 101) {
      headOffset_ += h.headLen;
      held_.erase(0, h.headLen);
      continue;
    }
    head_ = h;
    headKnown_ = true;
    std::string rest = held_.substr(h.headLen);
    std::string().swap(held_);
    StartBody();
    if (!rest.empty()) FeedBody(rest.data(), rest.size());
    return;
  }
}

void ResponseFramer::StartBody() {
  if (headRequest_ || head_.status == 204 || head_.status == 304) {
    state_ = State::Done;
  } else if (head_.chunked) {
    state_ = State::ChunkSize;
  } else if (head_.hasContentLength) {
    remaining_ = head_.contentLength;
    state_ = remaining_ == 0 ? State::Done : State::Length;
  } else {
    state_ = State::Unframed;
  }
}

void ResponseFramer::EndChunkSizeLine() {
  std::uint64_t size = 0;
  int digits = 0;
  unsigned v;
  for (char c : held_) {
    if (!HexValue(c, &v)) break;
    if (++digits > 15) break;
    size = size * 16 + v;
  }
  held_.clear();
  if (digits == 0 || digits > 15) {
    state_ = State::Done;  // malformed: nothing more to wait for
  } else if (size == 0) {
    state_ = State::Trailer;
    lineLen_ = 0;
    lineCr_ = false;
  } else {
    remaining_ = size;
    state_ = State::ChunkData;
  }
}

void ResponseFramer::FeedBody(const char* data, std::size_t len) {
  std::size_t pos = 0;
  while (pos < len) {
    switch (state_) {
      case State::Head:  // not reached: heads go through FeedHead
      case State::Unframed:
      case State::Done:
        return;
      case State::Length: {
        std::uint64_t take = std::min<std::uint64_t>(remaining_, len - pos);
        remaining_ -= take;
        pos += static_cast<std::size_t>(take);
        if (remaining_ == 0) state_ = State::Done;
        break;
      }
      case State::ChunkSize: {
        const char* nl = static_cast<const char*>(std::memchr(data + pos, '\n', len - pos));
        std::size_t end = nl ? static_cast<std::size_t>(nl - data) : len;
        held_.append(data + pos, end - pos);
        pos = nl ? end + 1 : len;
        if (nl) {
          EndChunkSizeLine();
        } else if (held_.size() > kMaxChunkLine) {
          state_ = State::Done;  // malformed
        }
        break;
      }
      case State::ChunkData: {
        std::uint64_t take = std::min<std::uint64_t>(remaining_, len - pos);
        remaining_ -= take;
        pos += static_cast<std::size_t>(take);
        if (remaining_ == 0) {
          state_ = State::ChunkDataEnd;
          lineCr_ = false;
        }
        break;
      }
      case State::ChunkDataEnd: {
        // CR LF, or a bare LF, after the chunk's data.
        char c = data[pos++];
        if (c == '\r' && !lineCr_) {
          lineCr_ = true;
        } else if (c == '\n') {
          state_ = State::ChunkSize;
        } else {
          state_ = State::Done;  // malformed
        }
        break;
      }
      case State::Trailer: {
        // Trailer fields until an empty line.
        char c = data[pos++];
        if (c == '\n') {
          if (lineLen_ == 0 || (lineLen_ == 1 && lineCr_)) {
            state_ = State::Done;
            return;
          }
          lineLen_ = 0;
          lineCr_ = false;
        } else {
          if (lineLen_ == 0) lineCr_ = c == '\r';
          ++lineLen_;
        }
        break;
      }
    }
  }
}

bool ResponseFramer::WholeAtEnd(bool cleanClose) const {
  switch (state_) {
    case State::Done:
      return true;
    case State::Head:
      // Part of an HTTP head is cut; a few bytes that never became HTTP
      // pass as they came.
      return cleanClose && !http_;
    case State::Unframed:
      return cleanClose;
    default:
      return false;
  }
}

}  // namespace nbsvc
