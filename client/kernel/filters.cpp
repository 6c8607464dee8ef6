// Request and content filters: banners and blocked file types are refused,
// free-of-charge destinations and incompressible files go the direct road,
// answers holding a forbidden word are withheld.
#include "kernel/filters.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "http/http_head.h"
#include "http/http_text.h"
#include "kernel/context.h"
#include "kernel/options.h"
#include "support/debug.h"

namespace {

bool IsAddressChar(char c) { return (c >= '0' && c <= '9') || c == '.'; }

// True when `needle` stands in `text` as a whole dotted address: neither
// preceded nor followed by a digit or a point, so 1.2.3.4 is not found
// inside 11.2.3.45.
bool ContainsWholeAddress(const std::string& text, const std::string& needle) {
  if (needle.empty()) return false;
  for (std::size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + 1)) {
    const std::size_t end = pos + needle.size();
    const bool startOk = pos == 0 || !IsAddressChar(text[pos - 1]);
    const bool endOk = end >= text.size() || !IsAddressChar(text[end]);
    if (startOk && endOk) return true;
  }
  return false;
}

}  // namespace

bool isBanner(const std::string& request) {
  nbTraceScope trace("bool isBanner(char* request)");
  const Program_Options po = GetProgramOptions();
  const std::string sUrl = GetUrlFromHttpRequest(request);
  // A request whose URL cannot be found is refused whatever the options say.
  if (sUrl.empty()) return true;
  for (const std::string& fragment : po.vsBlockingUrls) {
    if (fragment.empty()) continue;
    const std::size_t pos = sUrl.find(fragment);
    // A match at the very start of the URL does not count.
    if (pos != std::string::npos && pos > 0) return po.bBlockBanners;
  }
  return false;
}

bool isBlockFileExtension(const std::string& request) {
  nbTraceScope trace("bool isBlockFileExtension(char* request)");
  const Program_Options po = GetProgramOptions();
  const std::string sExt = GetFileExtensionFromHttpRequest(request);
  if (sExt.empty()) {
    dbgmsg("unknow http request");
    return false;
  }
  if (po.bBlockActiveX && sExt == "ocx") {
    dbgmsg("blockActiveX=true ext=ocx");
    return true;
  }
  if (po.bBlockFlash && sExt == "swf") {
    dbgmsg("blockFlash=true ext=swf");
    return true;
  }
  return false;
}

bool isFreeOfChargeIP(unsigned int ip) {
  nbTraceScope trace("bool isFreeOfChargeIP(unsigned int ip)");
  // The address is in network byte order: its first byte is the lowest.
  const unsigned b0 = ip & 0xFFu;
  const unsigned b1 = (ip >> 8) & 0xFFu;
  if (b0 == 192 && b1 == 168) {
    dbgmsg("local cite ip free of charge");
    return true;
  }
  return ContainsWholeAddress(gClient.proxy.sRouteTable, IpIntToStr(ip));
}

bool isFileCantCompress(const char* sExt) {
  nbTraceScope trace("bool isFileCantCompress(char* sExt)");
  if (sExt == nullptr) return false;
  static const char* const kNoCompress[] = {"rar", "zip", "mp3", "avi", "mpg"};
  for (const char* ext : kNoCompress) {
    if (std::strcmp(sExt, ext) == 0) return true;
  }
  return false;
}

bool BadKeywordsInContent(const char* content) {
  nbTraceScope trace("bool BadKeywordsInContent(char* content)");
  if (content == nullptr) return false;
  const Program_Options po = GetProgramOptions();
  for (const std::string& word : po.vsBlockingContent) {
    // An empty entry would match every text and block every page.
    if (word.empty()) continue;
    if (std::strstr(content, word.c_str()) != nullptr) {
      dbgmsg("found badkeyword=");
      dbgmsg(word);
      return true;
    }
  }
  return false;
}

namespace {

bool HoldsWord(std::string_view text, const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (text.find(word) != std::string_view::npos) {
      dbgmsg("found badkeyword=");
      dbgmsg(word);
      return true;
    }
  }
  return false;
}

}  // namespace

ContentScanner::ContentScanner() {
  for (const std::string& word : GetProgramOptions().vsBlockingContent) {
    if (word.empty()) continue;
    words_.push_back(word);
    keep_ = std::max(keep_, word.size() - 1);
  }
}

bool ContentScanner::Found(const char* data, std::size_t len) {
  if (words_.empty() || data == nullptr) return false;
  const std::string_view text(data, strnlen(data, len));
  if (!tail_.empty()) {
    // A word across the seam starts in the tail and ends in the first
    // keep_ bytes of this piece.
    std::string seam = tail_;
    seam.append(text.substr(0, keep_));
    if (HoldsWord(seam, words_)) return true;
  }
  if (HoldsWord(text, words_)) return true;
  if (text.size() < len) {
    tail_.clear();  // the text ended inside this piece
  } else if (text.size() >= keep_) {
    tail_.assign(text.substr(text.size() - keep_));
  } else {
    tail_.append(text);
    if (tail_.size() > keep_) tail_.erase(0, tail_.size() - keep_);
  }
  return false;
}
