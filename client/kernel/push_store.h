// Answers the service pushed after a page, kept briefly so the browser's
// request for one of them is answered without a round trip. Each is handed
// out once, at most maxMs after it came, and the store holds at most
// maxBytes of answers (the oldest are dropped first). URLs the service
// promised are waited for until their push lands or their exchange ends.
// Safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class PushStore {
 public:
  PushStore(std::size_t maxBytes, std::uint32_t maxMs) : maxBytes_(maxBytes), maxMs_(maxMs) {}

  // Keeps answer for url (replacing an older one) and settles exchange's
  // promise of it; an answer larger than the whole store is not kept.
  void Put(const std::string& url, std::string answer, std::uint32_t nowMs,
           std::uint64_t exchange = 0);
  // Moves the answer for url into *answer and forgets it; false when none
  // is held or it is older than maxMs.
  bool Take(const std::string& url, std::uint32_t nowMs, std::string* answer);
  // As Take, but while url is promised and not yet here, waits for it (at
  // most waitMs); now gives the tick count after the wait.
  template <typename Now>
  bool TakeWaiting(const std::string& url, int waitMs, Now now, std::string* answer);

  // The service promised url on exchange (a number unique per exchange).
  void Promise(const std::string& url, std::uint64_t exchange);
  // Exchange's promise of url will not be kept.
  void Withdraw(const std::string& url, std::uint64_t exchange);
  // Exchange is over: none of its promises is waited for any more.
  void EndExchange(std::uint64_t exchange);
  // True while some exchange has promised url.
  bool Promised(const std::string& url) const;
  // Bytes of answers held now.
  std::size_t Bytes() const;

 private:
  struct Entry {
    std::string url;
    std::string answer;
    std::uint32_t at;
  };
  // Drops entries past maxMs_; mu_ held.
  void DropOld(std::uint32_t nowMs);
  bool PromisedLocked(const std::string& url) const;
  bool HeldLocked(const std::string& url) const;

  const std::size_t maxBytes_;
  const std::uint32_t maxMs_;
  mutable std::mutex mu_;
  std::deque<Entry> entries_;  // oldest first; guarded by mu_
  std::size_t bytes_ = 0;      // guarded by mu_
  // Promised URLs with their exchange; guarded by mu_, changes signalled.
  std::vector<std::pair<std::string, std::uint64_t>> promised_;
  std::condition_variable changed_;
};

template <typename Now>
bool PushStore::TakeWaiting(const std::string& url, int waitMs, Now now, std::string* answer) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [&] { return HeldLocked(url) || !PromisedLocked(url); });
  }
  return Take(url, now(), answer);
}
