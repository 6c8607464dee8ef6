// The store of pushed answers.
#include "kernel/push_store.h"

#include <algorithm>

void PushStore::DropOld(std::uint32_t nowMs) {
  // Tick counts wrap: an age is a difference, never a comparison of stamps.
  while (!entries_.empty() && nowMs - entries_.front().at > maxMs_) {
    bytes_ -= entries_.front().answer.size();
    entries_.pop_front();
  }
}

void PushStore::Put(const std::string& url, std::string answer, std::uint32_t nowMs,
                    std::uint64_t exchange) {
  if (answer.size() > maxBytes_) {
    Withdraw(url, exchange);
    return;
  }
  std::lock_guard<std::mutex> lock(mu_);
  promised_.erase(std::remove(promised_.begin(), promised_.end(), std::make_pair(url, exchange)),
                  promised_.end());
  changed_.notify_all();
  DropOld(nowMs);
  auto same =
      std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.url == url; });
  if (same != entries_.end()) {
    bytes_ -= same->answer.size();
    entries_.erase(same);
  }
  while (!entries_.empty() && bytes_ + answer.size() > maxBytes_) {
    bytes_ -= entries_.front().answer.size();
    entries_.pop_front();
  }
  bytes_ += answer.size();
  entries_.push_back(Entry{url, std::move(answer), nowMs});
}

bool PushStore::Take(const std::string& url, std::uint32_t nowMs, std::string* answer) {
  std::lock_guard<std::mutex> lock(mu_);
  DropOld(nowMs);
  auto it =
      std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.url == url; });
  if (it == entries_.end()) return false;
  bytes_ -= it->answer.size();
  *answer = std::move(it->answer);
  entries_.erase(it);
  return true;
}

std::size_t PushStore::Bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bytes_;
}

void PushStore::Promise(const std::string& url, std::uint64_t exchange) {
  std::lock_guard<std::mutex> lock(mu_);
  promised_.emplace_back(url, exchange);
}

void PushStore::Withdraw(const std::string& url, std::uint64_t exchange) {
  std::lock_guard<std::mutex> lock(mu_);
  promised_.erase(std::remove(promised_.begin(), promised_.end(), std::make_pair(url, exchange)),
                  promised_.end());
  changed_.notify_all();
}

void PushStore::EndExchange(std::uint64_t exchange) {
  std::lock_guard<std::mutex> lock(mu_);
  promised_.erase(std::remove_if(promised_.begin(), promised_.end(),
                                 [&](const auto& p) { return p.second == exchange; }),
                  promised_.end());
  changed_.notify_all();
}

bool PushStore::Promised(const std::string& url) const {
  std::lock_guard<std::mutex> lock(mu_);
  return PromisedLocked(url);
}

bool PushStore::PromisedLocked(const std::string& url) const {
  return std::any_of(promised_.begin(), promised_.end(),
                     [&](const auto& p) { return p.first == url; });
}

bool PushStore::HeldLocked(const std::string& url) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return e.url == url; });
}
