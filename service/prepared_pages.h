// Site pages prepared as dictionaries, kept for the requests that name the
// same page: the sub-resources of a page all name it, and preparing it once
// spares indexing it again for each of them.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

#include "protocol/site_pages.h"
#include "protocol/text_codec.h"

namespace nbsvc {

class PreparedPages {
 public:
  // At most count pages prepared at level; the least recently used go first.
  PreparedPages(std::size_t count, int level) : count_(count), level_(level) {}
  PreparedPages(const PreparedPages&) = delete;
  PreparedPages& operator=(const PreparedPages&) = delete;

  // page prepared (once, then kept), or null when page is null or the
  // library failed. Safe from many threads; preparing runs outside the lock.
  std::shared_ptr<const Text2Dictionary> For(const SitePage& page);
  // Pages held prepared now.
  std::size_t Count() const;

 private:
  const std::size_t count_;
  const int level_;
  mutable std::mutex mu_;                                  // guards lru_
  std::list<std::shared_ptr<const Text2Dictionary>> lru_;  // most recent first
};

}  // namespace nbsvc
