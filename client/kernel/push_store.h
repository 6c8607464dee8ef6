// Answers the service pushed after a page, kept briefly so the browser's
// request for one of them is answered without a round trip. Each is handed
// out once, at most maxMs after it came, and the store holds at most
// maxBytes of answers (the oldest are dropped first). Safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class PushStore {
 public:
  PushStore(std::size_t maxBytes, std::uint32_t maxMs) : maxBytes_(maxBytes), maxMs_(maxMs) {}

  // Keeps answer for url (replacing an older one); an answer larger than
  // the whole store is not kept.
  void Put(const std::string& url, std::string answer, std::uint32_t nowMs);
  // Moves the answer for url into *answer and forgets it; false when none
  // is held or it is older than maxMs.
  bool Take(const std::string& url, std::uint32_t nowMs, std::string* answer);
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

  const std::size_t maxBytes_;
  const std::uint32_t maxMs_;
  mutable std::mutex mu_;
  std::deque<Entry> entries_;  // oldest first; guarded by mu_
  std::size_t bytes_ = 0;      // guarded by mu_
};
