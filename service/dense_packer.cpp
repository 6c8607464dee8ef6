// Dense packing in the background.
#include "dense_packer.h"

#include <system_error>

#include "pack_cache.h"
#include "protocol/text_codec.h"
#include "service_limits.h"

namespace nbsvc {

DensePacker::DensePacker(PackCache* cache) : cache_(cache) {}

DensePacker::~DensePacker() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
    queue_.clear();
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool DensePacker::Offer(const std::string& key, std::string piece, std::size_t packedSize) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (key.empty() || queue_.size() >= kDenseQueuePieces || keys_.count(key)) return false;
    // Started by the first offer, from a serving thread: it inherits that
    // thread's signal mask, so the stop signals never land on it.
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        return false;
      }
    }
    keys_.insert(key);
    queue_.push_back(Job{key, std::move(piece), packedSize});
  }
  cv_.notify_all();
  return true;
}

void DensePacker::Drain() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return stop_ || (queue_.empty() && !busy_); });
}

std::size_t DensePacker::Done() const {
  std::lock_guard<std::mutex> lock(mu_);
  return done_;
}

void DensePacker::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string dense;
    if (Text2Compress(job.piece.data(), job.piece.size(), kText2DenseLevel, std::string(), dense) &&
        dense.size() < job.packedSize) {
      cache_->Put(job.key, std::move(dense));
    }
    lock.lock();
    keys_.erase(job.key);
    busy_ = false;
    ++done_;
    cv_.notify_all();
  }
}

}  // namespace nbsvc
