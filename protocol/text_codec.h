// The denser text coder of the service link (zstd), for packets of kind
// NB_PACKET_TEXT2 and, coded against a page both sides hold, of kind
// NB_PACKET_TEXT2_DICT. Shared by the client and the service.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct ZSTD_CDict_s;  // the library's prepared dictionary

// Level for text packed while the client waits.
inline constexpr int kText2Level = 9;
// Level for text packed once more in the background, kept in the cache.
inline constexpr int kText2DenseLevel = 19;
// Most answer content a chained piece (NB_PACKET_TEXT2_CHAIN) is coded
// against: the last this many bytes before it. Bounds what both sides hold
// per answer.
inline constexpr std::size_t kChainWindow = 1024 * 1024;
// The first body byte of a chained piece: whether its prefix starts with
// the site's page named for the exchange.
inline constexpr char kChainNoPage = '0';
inline constexpr char kChainWithPage = '1';

// Codes len bytes at level into out, against dict (a raw-content
// dictionary) when dict is not empty; false on a library failure.
bool Text2Compress(const char* data, std::size_t len, int level, const std::string& dict,
                   std::string& out);
// The prefix of a chained piece: page (when not null), then the last
// kChainWindow bytes of before (the answer's content ahead of the piece).
std::string ChainPrefix(const std::string* page, const std::string& before);
// A page prepared once as a raw-content dictionary for coding at one level,
// so that coding many pieces against it does not index the page again for
// each (for a page of 700 KB, about 18 ms a piece). Its frames decode with
// the page as dict, like those of Text2Compress. Immutable once made: safe
// to share between threads.
class Text2Dictionary {
 public:
  // Holds page for its own lifetime; ok() is false when the library failed.
  Text2Dictionary(std::shared_ptr<const std::string> page, int level);
  ~Text2Dictionary();
  Text2Dictionary(const Text2Dictionary&) = delete;
  Text2Dictionary& operator=(const Text2Dictionary&) = delete;
  bool ok() const { return cdict_ != nullptr; }
  const std::shared_ptr<const std::string>& page() const { return page_; }
  // Codes len bytes against the page into out; false on a library failure.
  bool Compress(const char* data, std::size_t len, std::string& out) const;

 private:
  std::shared_ptr<const std::string> page_;
  ZSTD_CDict_s* cdict_ = nullptr;
};

// Decodes one frame into at most maxOut bytes, against dict when not
// empty; false on a damaged stream, a frame needing another dictionary, or
// more output than maxOut.
bool Text2Decompress(const char* data, std::size_t len, std::size_t maxOut, const std::string& dict,
                     std::string& out);
