// Packs a web server's answer while it still arrives: once the head and a
// whole piece of body are in, the head and every whole piece are packed at
// once, on helper threads, so fetching, compressing and sending overlap and
// a large answer uses more than one core. Images to recode, answers ended
// only by the connection's end and small answers are packed whole at the end.
// One AnswerStream serves one answer and is used from one thread.
#pragma once

#include <cstddef>
#include <deque>
#include <future>
#include <string>
#include <vector>

#include "packer.h"

namespace nbsvc {

class PackCache;

class AnswerStream {
 public:
  // jpegCode as for PackResponse; cache may be null; at most parallel
  // pieces are packed at once.
  AnswerStream(int jpegCode, PackCache* cache, int parallel);
  // Waits for packing still under way.
  ~AnswerStream();
  AnswerStream(const AnswerStream&) = delete;
  AnswerStream& operator=(const AnswerStream&) = delete;

  // data: all of the answer received so far (it only grows). Starts packing
  // what is now whole; waits only when parallel pieces are still packing.
  void Offer(const std::string& data);
  // The packets packed so far and not yet taken, in order; never waits.
  std::vector<AnswerPacket> TakeReady();
  // True once packing started before the end, so the answer's first
  // packets may already be out.
  bool Streaming() const { return mode_ == Mode::Streaming; }
  // data is the whole answer: the remaining packets in order (waits for
  // them). When packing never started, packs the whole as PackResponse.
  std::vector<AnswerPacket> Finish(const std::string& data);

 private:
  enum class Mode { Undecided, Streaming, Whole };
  // Starts packing data[from, from+len) on a helper thread.
  void Start(const std::string& data, std::size_t from, std::size_t len, bool cacheable);
  void StartPieces(const std::string& data, std::size_t to);

  const int jpegCode_;
  PackCache* const cache_;
  const std::size_t parallel_;
  Mode mode_ = Mode::Undecided;
  std::size_t consumed_ = 0;  // bytes of the answer handed to packing
  std::deque<std::future<AnswerPacket>> pending_;
};

}  // namespace nbsvc
