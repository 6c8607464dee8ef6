// URLs the browser got from the service road lately (fetched or pushed), so
// that a page's request can tell the service not to push them again. A URL
// the browser asks for again without a condition it evidently does not
// keep: it is no longer named. Holds at most maxCount URLs in all, each for
// maxMs after it was last got. Safe from any thread.
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

  // The browser got url (PushUrlOfRequest's form) at nowMs; conditional
  // when it asked with If-None-Match or If-Modified-Since (it holds a copy).
  void Note(const std::string& url, std::uint32_t nowMs, bool conditional = false);
  // UrlHash of the URLs on url's host got within maxMs and kept by the
  // browser, newest first, at most max of them.
  std::vector<std::string> HashesOnHost(const std::string& url, std::uint32_t nowMs,
                                        std::size_t max);

 private:
  struct Entry {
    std::string host;  // "http://host[:port]"
    std::string hash;
    std::uint32_t at;
    bool notKept;  // asked for again without a condition
  };
  // Drops entries past maxMs_; mu_ held.
  void DropOld(std::uint32_t nowMs);

  const std::size_t maxCount_;
  const std::uint32_t maxMs_;
  std::mutex mu_;
  std::deque<Entry> entries_;  // oldest first; guarded by mu_
};
