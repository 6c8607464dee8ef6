// Fetching a page's promised resources on a thread of its own, while the
// page itself is still being fetched and sent. Each URL is fetched in turn
// and packed by the caller's function; the session takes the outcomes in
// order once the page is out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "packer.h"

namespace nbsvc {

class PushFetcher {
 public:
  // Packs a whole fetched answer for url into *out; false when it may not
  // be pushed. Called on the fetcher's thread.
  using Pack =
      std::function<bool(const std::string& url, const std::string& answer, AnswerPacket* out)>;
  // Starts fetching urls from ipNet:port with requests made from
  // pageRequest; no new fetch starts kPushBudgetMs after the first.
  PushFetcher(std::uint32_t ipNet, std::uint16_t port, const std::string& pageRequest,
              std::vector<std::string> urls, Pack pack);
  // Stops the fetch under way and waits for the thread.
  ~PushFetcher();
  PushFetcher(const PushFetcher&) = delete;
  PushFetcher& operator=(const PushFetcher&) = delete;

  const std::vector<std::string>& urls() const { return urls_; }
  // Waits for urls()[i]'s outcome; true with its push packet in *out, false
  // when it is not coming.
  bool Take(std::size_t i, AnswerPacket* out);

 private:
  struct Outcome {
    bool done = false;
    bool ok = false;
    AnswerPacket packet;
  };
  void Run(std::uint32_t ipNet, std::uint16_t port, std::string pageRequest);

  const std::vector<std::string> urls_;
  const Pack pack_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<Outcome> outcomes_;  // one per URL; guarded by mu_
  bool stop_ = false;              // guarded by mu_
  std::thread thread_;             // last: starts once the rest is built
};

}  // namespace nbsvc
