// LRU cache of packing results.
#include "pack_cache.h"

#include <openssl/evp.h>

namespace nbsvc {

std::string PackKey(char variant, int parameter, const char* data, std::size_t len) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLen = 0;
  std::string key(1, variant);
  key += std::to_string(parameter);
  key += ':';
  if (!EVP_Digest(data, len, md, &mdLen, EVP_sha256(), nullptr)) {
    // Without a digest there is no safe key: an empty key is never cached.
    return std::string();
  }
  key.append(reinterpret_cast<const char*>(md), mdLen);
  return key;
}

bool PackCache::Get(const std::string& key, std::string* value) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = key.empty() ? index_.end() : index_.find(key);
  if (it == index_.end()) {
    ++misses_;
    return false;
  }
  lru_.splice(lru_.begin(), lru_, it->second);
  *value = it->second->second;
  ++hits_;
  return true;
}

void PackCache::Put(const std::string& key, std::string value) {
  if (key.empty()) return;
  Entry e(key, std::move(value));
  std::size_t cost = Cost(e);
  if (cost > maxBytes_) return;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = index_.find(key);
  if (it != index_.end()) {
    bytes_ -= Cost(*it->second);
    lru_.erase(it->second);
    index_.erase(it);
  }
  while (bytes_ + cost > maxBytes_ && !lru_.empty()) {
    bytes_ -= Cost(lru_.back());
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  lru_.push_front(std::move(e));
  index_.emplace(lru_.front().first, lru_.begin());
  bytes_ += cost;
}

std::uint64_t PackCache::Hits() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hits_;
}

std::uint64_t PackCache::Misses() const {
  std::lock_guard<std::mutex> lock(mu_);
  return misses_;
}

std::size_t PackCache::Bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bytes_;
}

}  // namespace nbsvc
