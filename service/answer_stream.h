// Packs a web server's answer while it arrives: once the head and a whole
// piece of body are in, the head and every whole piece are packed at once,
// on helper threads, so fetching, compressing and sending overlap and a
// large answer uses more than one core. Only small answers and JPEG images
// to recode (up to kMaxRecodedImage each, kRecodeBudget for all answers
// together) are held and packed whole at the end; otherwise at most one
// piece waits here besides those packing, whatever the answer's size (and,
// for a chained coding, the last kChainWindow bytes handed to packing). In
// the whole process, at most one piece per core is packed at once. One
// AnswerStream serves one answer and is used from one thread.
#pragma once

#include <chrono>
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
  // jpegCode, coding and webp as for PackResponse; cache may be null; at
  // most parallel pieces are packed at once. early: an HTML page starts
  // leaving once its head and kEarlyPieceBytes of body are in, or some body
  // and kEarlyPieceMs after the head (checked as bytes arrive), so the
  // browser sees its style sheets and scripts while the rest comes.
  AnswerStream(int jpegCode, PackCache* cache, int parallel,
               const TextCoding& coding = TextCoding(), bool webp = false, bool early = false);
  // Waits for packing still under way.
  ~AnswerStream();
  AnswerStream(const AnswerStream&) = delete;
  AnswerStream& operator=(const AnswerStream&) = delete;

  // The next bytes of the answer. Starts packing what is now whole; waits
  // only when parallel pieces are still packing.
  void Offer(const char* data, std::size_t len);
  void Offer(const std::string& data) { Offer(data.data(), data.size()); }
  // The packets packed so far and not yet taken, in order; waits only for
  // an early page's head and small first piece.
  std::vector<AnswerPacket> TakeReady();
  // True once packing started before the end, so the answer's first
  // packets may already be out.
  bool Streaming() const { return mode_ == Mode::Streaming; }
  // Everything was offered: the remaining packets in order (waits for
  // them). When packing never started, packs the whole as PackResponse.
  // whole, when not null, receives the complete answer when it was packed
  // whole, or an HTML page that started early and stayed within
  // kSitePageMaxBytes (else it is left empty).
  std::vector<AnswerPacket> Finish(std::string* whole = nullptr);
  // Answer bytes held here: offered but not yet packed, and the pieces
  // packing or packed but not taken.
  std::size_t HeldBytes() const { return held_.size() + pendingBytes_; }

 private:
  enum class Mode { Undecided, Whole, Streaming };
  // Decides how to pack once the head is in (or is known never to come).
  void Decide();
  // Streams from here on: held_[0, headEnd) is packed apart as the head.
  void StartStreaming(std::size_t headEnd);
  // Starts packing one piece on a helper thread.
  void Start(const char* data, std::size_t len, bool cacheable, bool head, bool urgent = false);
  // Starts every whole piece of held_ and drops it from held_.
  void StartPieces();
  // Gives back the share of kRecodeBudget this answer reserved.
  void ReleaseRecode();
  // Starts an early page once enough of its body is in: the head, then a
  // small first piece.
  void MaybeStartEarly();

  const int jpegCode_;
  const bool webp_;
  PackCache* const cache_;
  const std::size_t parallel_;
  const TextCoding coding_;
  const bool early_;
  Mode mode_ = Mode::Undecided;
  // An HTML page that may start early: when its head was in, and its bytes
  // so far while they may still be kept as the site's page.
  bool earlyPage_ = false;
  std::chrono::steady_clock::time_point headAt_;
  std::string copy_;
  bool copyOver_ = false;
  std::string held_;              // offered, not yet handed to packing
  std::size_t wholeLimit_ = 0;    // Whole mode: more than this held starts streaming
  std::size_t headEnd_ = 0;       // Whole mode: end of the head in held_
  std::size_t reserved_ = 0;      // bytes of kRecodeBudget reserved
  std::size_t pendingBytes_ = 0;  // content bytes of pending_
  std::string chainTail_;         // with a chained coding: the end of what went to packing
  struct Pending {
    std::future<AnswerPacket> packet;
    std::size_t bytes;
    bool urgent;  // an early page's head or first piece: TakeReady waits for it
  };
  std::deque<Pending> pending_;
};

}  // namespace nbsvc
