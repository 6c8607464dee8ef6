// Packs popular text once more at the densest level, on one background
// thread, and keeps the result in the packing cache: a file asked for again
// is then packed hard once and sent dense from then on. The work is
// bounded: at most kDenseQueuePieces wait, more offers are dropped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace nbsvc {

class PackCache;

class DensePacker {
 public:
  // Results go into cache, which must outlive this object.
  explicit DensePacker(PackCache* cache);
  // Drops what waits and joins the thread.
  ~DensePacker();
  DensePacker(const DensePacker&) = delete;
  DensePacker& operator=(const DensePacker&) = delete;

  // Queues piece to be coded densely and kept under key when its frame is
  // smaller than packedSize; false when the queue is full or key waits.
  bool Offer(const std::string& key, std::string piece, std::size_t packedSize);
  // Blocks until nothing waits or is being packed (for tests and benches).
  void Drain();
  std::size_t Done() const;

 private:
  struct Job {
    std::string key, piece;
    std::size_t packedSize;
  };
  void Run();

  PackCache* const cache_;
  mutable std::mutex mu_;  // guards what follows
  std::condition_variable cv_;
  std::deque<Job> queue_;
  std::set<std::string> keys_;  // keys queued or being packed
  bool busy_ = false, stop_ = false;
  std::size_t done_ = 0;
  std::thread thread_;  // started by the first Offer
};

}  // namespace nbsvc
