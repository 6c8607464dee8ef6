// The URLs the browser holds.
#include "kernel/held_urls.h"

#include <algorithm>

#include "protocol/push.h"

namespace {

std::string HostOf(const std::string& url) { return url.substr(0, url.find('/', 7)); }

}  // namespace

void HeldUrls::DropOld(std::uint32_t nowMs) {
  while (!entries_.empty() && nowMs - entries_.front().at > maxMs_) entries_.pop_front();
}

void HeldUrls::Note(const std::string& url, std::uint32_t nowMs, bool conditional) {
  if (url.empty() || maxCount_ == 0) return;
  Entry e{HostOf(url), UrlHash(url), nowMs, false};
  std::lock_guard<std::mutex> lock(mu_);
  DropOld(nowMs);
  auto same = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& o) { return o.hash == e.hash && o.host == e.host; });
  if (same != entries_.end()) {
    e.notKept = same->notKept || !conditional;
    entries_.erase(same);
  }
  if (entries_.size() >= maxCount_) entries_.pop_front();
  entries_.push_back(std::move(e));
}

std::vector<std::string> HeldUrls::HashesOnHost(const std::string& url, std::uint32_t nowMs,
                                                std::size_t max) {
  std::vector<std::string> out;
  const std::string host = HostOf(url);
  std::lock_guard<std::mutex> lock(mu_);
  DropOld(nowMs);
  for (auto it = entries_.rbegin(); it != entries_.rend() && out.size() < max; ++it)
    if (it->host == host && !it->notKept) out.push_back(it->hash);
  return out;
}
