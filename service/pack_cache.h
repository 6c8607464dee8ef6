// Memory-bounded cache of packing results, keyed by a SHA-256 digest of the
// content plus what changes how it is packed. Pages are still fetched every
// time; only compressing the same bytes again is saved. Safe from many
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace nbsvc {

// The key for len bytes at data packed as variant (a letter naming the
// packing) with parameter (e.g. the JPEG quality; 0 when unused).
std::string PackKey(char variant, int parameter, const char* data, std::size_t len);

class PackCache {
 public:
  // Holds at most maxBytes of keys and values; 0 keeps nothing.
  explicit PackCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}
  PackCache(const PackCache&) = delete;
  PackCache& operator=(const PackCache&) = delete;

  // True and *value set when key is held; it becomes the most recent entry.
  bool Get(const std::string& key, std::string* value);
  // Stores value under key, evicting the least recently used entries until
  // it fits; a value bigger than the whole cache is not stored.
  void Put(const std::string& key, std::string value);

  std::uint64_t Hits() const;
  std::uint64_t Misses() const;
  std::size_t Bytes() const;

 private:
  using Entry = std::pair<std::string, std::string>;
  static std::size_t Cost(const Entry& e) { return e.first.size() + e.second.size() + 64; }

  const std::size_t maxBytes_;
  mutable std::mutex mu_;  // guards everything below
  std::list<Entry> lru_;   // most recent first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
  std::size_t bytes_ = 0;
  std::uint64_t hits_ = 0, misses_ = 0;
};

}  // namespace nbsvc
