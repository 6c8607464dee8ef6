// URLs the browser got from the service road lately (fetched or pushed), so
// that a page's request can tell the service not to push them again. Holds
// at most maxCount URLs in all, each for maxMs. Safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class HeldUrls {
 public:
  HeldUrls(std::size_t maxCount, std::uint32_t maxMs) : maxCount_(maxCount), maxMs_(maxMs) {}

  // The browser got url (PushUrlOfRequest's form) at nowMs.
  void Note(const std::string& url, std::uint32_t nowMs);
  // UrlHash of the URLs on url's host got within maxMs, newest first, at
  // most max of them.
  std::vector<std::string> HashesOnHost(const std::string& url, std::uint32_t nowMs,
                                        std::size_t max);

 private:
  struct Entry {
    std::string host;  // "http://host[:port]"
    std::string hash;
    std::uint32_t at;
  };
  // Drops entries past maxMs_; mu_ held.
  void DropOld(std::uint32_t nowMs);

  const std::size_t maxCount_;
  const std::uint32_t maxMs_;
  std::mutex mu_;
  std::deque<Entry> entries_;  // oldest first; guarded by mu_
};
