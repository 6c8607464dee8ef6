// The service's prepared site pages.
#include "prepared_pages.h"

namespace nbsvc {

std::shared_ptr<const Text2Dictionary> PreparedPages::For(const SitePage& page) {
  if (!page || count_ == 0) return nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = lru_.begin(); it != lru_.end(); ++it) {
      // The same bytes: each entry holds its page, so the address is not reused.
      if ((*it)->page() == page) {
        lru_.splice(lru_.begin(), lru_, it);
        return lru_.front();
      }
    }
  }
  auto made = std::make_shared<const Text2Dictionary>(page, level_);
  if (!made->ok()) return nullptr;
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& d : lru_) {
    if (d->page() == page) return d;  // prepared meanwhile by another request
  }
  lru_.push_front(made);
  if (lru_.size() > count_) lru_.pop_back();
  return made;
}

std::size_t PreparedPages::Count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lru_.size();
}

}  // namespace nbsvc
