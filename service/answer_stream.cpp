// Packing an answer while it arrives.
#include "answer_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "http_response.h"
#include "pack_cache.h"
#include "protocol/site_pages.h"
#include "protocol/text_codec.h"
#include "service_limits.h"
#include "webp_recode.h"

namespace nbsvc {

namespace {

// Pieces packed at once in the whole process: the cores cannot pack more,
// and each packing takes a few MiB of working memory, so many connections
// wait here instead of holding that memory all at once.
class PackingGate {
 public:
  PackingGate() : free_(static_cast<int>(std::max(2u, std::thread::hardware_concurrency()))) {}
  void Enter() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return free_ > 0; });
    --free_;
  }
  void Leave() {
    {
      std::lock_guard<std::mutex> lock(m_);
      ++free_;
    }
    cv_.notify_one();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int free_;  // guarded by m_
};

PackingGate& Gate() {
  static PackingGate gate;
  return gate;
}

// Holds a place at the gate for its lifetime.
struct GatePass {
  GatePass() { Gate().Enter(); }
  ~GatePass() { Gate().Leave(); }
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;
};

// Packs one piece once the gate lets it in; before is the answer's content
// ahead of it, for a chained coding.
AnswerPacket PackThroughGate(const std::string& piece, const std::string& before, PackCache* cache,
                             bool head, const TextCoding& coding) {
  GatePass pass;
  AnswerPacket p = PackAnswerPiece(piece.data(), piece.size(), before, cache, coding);
  p.head = head;
  return p;
}

// Bytes reserved by answers held whole for recoding.
std::atomic<std::size_t> recodeHeld{0};

// Reserves bytes of kRecodeBudget; false when they do not fit.
bool ReserveRecode(std::size_t bytes) {
  std::size_t now = recodeHeld.load();
  do {
    if (bytes > kRecodeBudget - now) return false;
  } while (!recodeHeld.compare_exchange_weak(now, now + bytes));
  return true;
}

}  // namespace

AnswerStream::AnswerStream(int jpegCode, PackCache* cache, int parallel, const TextCoding& coding,
                           bool webp, bool early)
    : jpegCode_(jpegCode),
      webp_(webp),
      cache_(cache),
      parallel_(static_cast<std::size_t>(std::max(1, parallel))),
      coding_(coding),
      early_(early) {}

AnswerStream::~AnswerStream() {
  for (auto& p : pending_) {
    if (p.packet.valid()) p.packet.wait();
  }
  ReleaseRecode();
}

void AnswerStream::ReleaseRecode() {
  recodeHeld -= reserved_;
  reserved_ = 0;
}

void AnswerStream::Start(const char* data, std::size_t len, bool cacheable, bool head,
                         bool urgent) {
  // Keep at most parallel_ pieces packing: wait for the oldest beyond that.
  if (pending_.size() >= parallel_) pending_[pending_.size() - parallel_].packet.wait();
  PackCache* cache = cacheable ? cache_ : nullptr;
  auto work = [piece = std::string(data, len), before = chainTail_, cache, head, coding = coding_] {
    return PackThroughGate(piece, before, cache, head, coding);
  };
  if (coding_.text2 && coding_.chain) {
    // What a later piece is coded against: the last kChainWindow bytes.
    chainTail_.append(data, len);
    if (chainTail_.size() > kChainWindow) chainTail_.erase(0, chainTail_.size() - kChainWindow);
  }
  std::future<AnswerPacket> packet;
  try {
    packet = std::async(std::launch::async, std::move(work));
  } catch (const std::system_error&) {
    // No thread to spare: pack it here, when its turn comes.
    packet = std::async(std::launch::deferred, std::move(work));
  }
  pending_.push_back(Pending{std::move(packet), len, urgent});
  pendingBytes_ += len;
}

void AnswerStream::StartPieces() {
  std::size_t pos = 0;
  while (held_.size() - pos >= kMaxBodySize) {
    Start(held_.data() + pos, kMaxBodySize, true, false);
    pos += kMaxBodySize;
  }
  held_.erase(0, pos);
}

void AnswerStream::StartStreaming(std::size_t headEnd) {
  mode_ = Mode::Streaming;
  ReleaseRecode();
  for (std::size_t pos = 0; pos < headEnd; pos += kMaxBodySize) {
    Start(held_.data() + pos, std::min<std::size_t>(kMaxBodySize, headEnd - pos), false, true,
          earlyPage_);
  }
  held_.erase(0, headEnd);
}

void AnswerStream::Decide() {
  std::size_t sure = std::min<std::size_t>(held_.size(), 5);
  if (held_.compare(0, sure, "HTTP/", sure) != 0) {
    StartStreaming(0);  // not HTTP: passed on in pieces as it comes
    return;
  }
  std::size_t headEnd = HeadEnd(held_);
  if (headEnd == 0) {
    // The head is still incomplete; one too long to follow is not waited for.
    if (held_.size() > kMaxResponseHeadBytes) StartStreaming(0);
    return;
  }
  std::size_t from = FinalResponseOffset(held_);
  ResponseHead head = ParseResponseHead(held_.substr(from, headEnd - from));
  mode_ = Mode::Whole;
  headEnd_ = headEnd;
  std::size_t image = head.hasContentLength && head.contentLength <= kMaxRecodedImage
                          ? static_cast<std::size_t>(head.contentLength)
                          : kMaxRecodedImage;
  const bool recodable = IsRecodableJpeg(head) || (webp_ && WebpSource(head) != ImageType::None);
  if (JpegQualityForCode(jpegCode_) != 0 && recodable &&
      (!head.hasContentLength || head.contentLength <= kMaxRecodedImage) && ReserveRecode(image)) {
    // Recoding needs the whole image.
    reserved_ = image;
    wholeLimit_ = headEnd + image;
  } else {
    // A small answer goes whole, as one charge; streaming starts with the
    // first whole piece of body.
    wholeLimit_ = headEnd + kMaxBodySize - 1;
    earlyPage_ = early_ && head.status == 200 && head.contentType == "text/html" && !head.encoded;
    if (earlyPage_) {
      headAt_ = std::chrono::steady_clock::now();
      copy_ = held_;
    }
  }
}

void AnswerStream::MaybeStartEarly() {
  const std::size_t body = held_.size() - headEnd_;
  if (body == 0) return;
  if (body < kEarlyPieceBytes &&
      std::chrono::steady_clock::now() - headAt_ < std::chrono::milliseconds(kEarlyPieceMs)) {
    return;
  }
  StartStreaming(headEnd_);
  const std::size_t first = std::min(held_.size(), kEarlyPieceBytes);
  Start(held_.data(), first, true, false, true);
  held_.erase(0, first);
}

void AnswerStream::Offer(const char* data, std::size_t len) {
  held_.append(data, len);
  const bool decided = mode_ != Mode::Undecided;
  if (!decided) Decide();
  if (earlyPage_ && !copyOver_) {
    // Decide copied what it saw; later bytes are added here.
    if (decided) copy_.append(data, len);
    copyOver_ = copy_.size() > kSitePageMaxBytes;
    if (copyOver_) std::string().swap(copy_);
  }
  if (mode_ == Mode::Whole && earlyPage_) MaybeStartEarly();
  if (mode_ == Mode::Whole && held_.size() > wholeLimit_) StartStreaming(headEnd_);
  if (mode_ == Mode::Streaming) StartPieces();
}

std::vector<AnswerPacket> AnswerStream::TakeReady() {
  std::vector<AnswerPacket> out;
  while (!pending_.empty() &&
         (pending_.front().urgent ||
          pending_.front().packet.wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
    out.push_back(pending_.front().packet.get());
    pendingBytes_ -= pending_.front().bytes;
    pending_.pop_front();
  }
  return out;
}

std::vector<AnswerPacket> AnswerStream::Finish(std::string* wholeAnswer) {
  if (mode_ != Mode::Streaming) {
    std::vector<AnswerPacket> whole;
    {
      GatePass pass;
      whole = std::move(PackResponse(held_, jpegCode_, cache_, coding_, webp_).packets);
    }
    if (wholeAnswer) wholeAnswer->swap(held_);
    std::string().swap(held_);
    ReleaseRecode();
    return whole;
  }
  StartPieces();
  if (!held_.empty()) {
    Start(held_.data(), held_.size(), true, false);
    held_.clear();
  }
  std::vector<AnswerPacket> out;
  while (!pending_.empty()) {
    out.push_back(pending_.front().packet.get());
    pendingBytes_ -= pending_.front().bytes;
    pending_.pop_front();
  }
  if (wholeAnswer && earlyPage_ && !copyOver_) wholeAnswer->swap(copy_);
  return out;
}

}  // namespace nbsvc
