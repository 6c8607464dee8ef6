// The thread fetching promised resources.
#include "push_fetch.h"

#include "fetcher.h"
#include "push_scan.h"
#include "service_limits.h"

namespace nbsvc {

PushFetcher::PushFetcher(std::uint32_t ipNet, std::uint16_t port, const std::string& pageRequest,
                         std::vector<std::string> urls, Pack pack)
    : urls_(std::move(urls)),
      pack_(std::move(pack)),
      outcomes_(urls_.size()),
      thread_([this, ipNet, port, pageRequest] { Run(ipNet, port, pageRequest); }) {}

PushFetcher::~PushFetcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  thread_.join();
}

bool PushFetcher::Take(std::size_t i, AnswerPacket* out) {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [&] { return outcomes_[i].done; });
  if (!outcomes_[i].ok) return false;
  *out = std::move(outcomes_[i].packet);
  outcomes_[i].ok = false;
  return true;
}

void PushFetcher::Run(std::uint32_t ipNet, std::uint16_t port, std::string pageRequest) {
  auto stopped = [this] {
    std::lock_guard<std::mutex> lock(mu_);
    return stop_;
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPushBudgetMs);
  for (std::size_t i = 0; i < urls_.size(); ++i) {
    Outcome got;
    if (!stopped() && std::chrono::steady_clock::now() < until) {
      FetchLimits limits;
      limits.connectMs = kFetchConnectMs;
      limits.idleMs = kPushFetchIdleMs;
      limits.maxResponse = kMaxPushBytes;
      std::string answer;
      FetchResult f = Fetch(ipNet, port, PushRequest(pageRequest, urls_[i]), limits,
                            [&](const char* data, std::size_t len) {
                              answer.append(data, len);
                              return answer.size() <= kMaxPushBytes && !stopped();
                            });
      got.ok = f.status == FetchStatus::Complete && PushCacheable(answer) &&
               pack_(urls_[i], answer, &got.packet);
    }
    got.done = true;
    std::lock_guard<std::mutex> lock(mu_);
    outcomes_[i] = std::move(got);
    changed_.notify_all();
  }
}

}  // namespace nbsvc
