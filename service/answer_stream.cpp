// Packing an answer while it arrives.
#include "answer_stream.h"

#include <algorithm>
#include <system_error>

#include "http_response.h"
#include "pack_cache.h"

namespace nbsvc {

AnswerStream::AnswerStream(int jpegCode, PackCache* cache, int parallel)
    : jpegCode_(jpegCode),
      cache_(cache),
      parallel_(static_cast<std::size_t>(std::max(1, parallel))) {}

AnswerStream::~AnswerStream() {
  for (auto& f : pending_) {
    if (f.valid()) f.wait();
  }
}

void AnswerStream::Start(const std::string& data, std::size_t from, std::size_t len,
                         bool cacheable) {
  // Keep at most parallel_ pieces packing: wait for the oldest beyond that.
  if (pending_.size() >= parallel_) pending_[pending_.size() - parallel_].wait();
  PackCache* cache = cacheable ? cache_ : nullptr;
  auto work = [piece = data.substr(from, len), cache] {
    return PackPiece(piece.data(), piece.size(), cache);
  };
  try {
    pending_.push_back(std::async(std::launch::async, std::move(work)));
  } catch (const std::system_error&) {
    // No thread to spare: pack it here, when its turn comes.
    pending_.push_back(std::async(std::launch::deferred, std::move(work)));
  }
}

void AnswerStream::StartPieces(const std::string& data, std::size_t to) {
  while (to - consumed_ >= kMaxBodySize) {
    Start(data, consumed_, kMaxBodySize, true);
    consumed_ += kMaxBodySize;
  }
}

void AnswerStream::Offer(const std::string& data) {
  if (mode_ == Mode::Undecided) {
    std::size_t headEnd = HeadEnd(data);
    if (headEnd == 0) {
      // Not HTTP, or its head is still incomplete: decide later.
      std::size_t from = FinalResponseOffset(data);
      if (data.compare(from, 5, "HTTP/") != 0 && data.size() >= 5) mode_ = Mode::Whole;
      return;
    }
    std::size_t from = FinalResponseOffset(data);
    ResponseHead head = ParseResponseHead(data.substr(from, headEnd - from));
    if (JpegQualityForCode(jpegCode_) != 0 && IsRecodableJpeg(head)) {
      mode_ = Mode::Whole;  // recoding needs the whole image
      return;
    }
    if (!head.hasContentLength && !head.chunked) {
      // Only the end of the connection ends this answer: a browser could
      // not tell a cut one from a whole one, so it goes out when complete.
      mode_ = Mode::Whole;
      return;
    }
    // A small answer goes whole, as one charge; streaming starts with the
    // first whole piece of body.
    if (data.size() - headEnd < kMaxBodySize) return;
    mode_ = Mode::Streaming;
    for (std::size_t pos = 0; pos < headEnd; pos += kMaxBodySize) {
      Start(data, pos, std::min<std::size_t>(kMaxBodySize, headEnd - pos), false);
    }
    consumed_ = headEnd;
  }
  if (mode_ == Mode::Streaming) StartPieces(data, data.size());
}

std::vector<AnswerPacket> AnswerStream::TakeReady() {
  std::vector<AnswerPacket> out;
  while (!pending_.empty() &&
         pending_.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
    out.push_back(pending_.front().get());
    pending_.pop_front();
  }
  return out;
}

std::vector<AnswerPacket> AnswerStream::Finish(const std::string& data) {
  if (mode_ != Mode::Streaming) {
    return std::move(PackResponse(data, jpegCode_, cache_).packets);
  }
  StartPieces(data, data.size());
  if (consumed_ < data.size()) {
    Start(data, consumed_, data.size() - consumed_, true);
    consumed_ = data.size();
  }
  std::vector<AnswerPacket> out;
  while (!pending_.empty()) {
    out.push_back(pending_.front().get());
    pending_.pop_front();
  }
  return out;
}

}  // namespace nbsvc
