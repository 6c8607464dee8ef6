// Recent pages per site.
#include "protocol/site_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "protocol/md5.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Calls on(name in lower case, value, line start, line end with its LF) for
// each field line of the head of message; stops at the empty line.
template <typename F>
void ForEachField(const std::string& message, F on) {
  std::size_t pos = message.find('\n');
  while (pos != std::string::npos && pos + 1 < message.size()) {
    std::size_t start = pos + 1;
    std::size_t end = message.find('\n', start);
    std::string line = message.substr(start, end == std::string::npos ? end : end - start);
    if (line.empty() || line == "\r") return;
    std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        !on(Lower(line.substr(0, colon)), Trim(line.substr(colon + 1)), start,
            end == std::string::npos ? message.size() : end + 1)) {
      return;
    }
    pos = end;
  }
}

}  // namespace

std::string SitePageDigest(const std::string& page) {
  my_MD5_CTX ctx;
  my_MD5Init(&ctx);
  my_MD5Update(&ctx, reinterpret_cast<const unsigned char*>(page.data()), page.size());
  unsigned char md[16];
  my_MD5Final(md, &ctx);
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);
  return std::string(hex, 32) + "-" + std::to_string(page.size());
}

bool IsSitePage(const std::string& response) {
  if (response.size() > kSitePageMaxBytes ||
      (response.compare(0, 9, "HTTP/1.1 ") != 0 && response.compare(0, 9, "HTTP/1.0 ") != 0)) {
    return false;
  }
  if (response.compare(9, 3, "200") != 0) return false;
  // Only pages: the next page of a site repeats their markup, while a style
  // sheet kept last would leave the next page nothing to be coded against.
  bool html = false;
  ForEachField(response,
               [&](const std::string& name, const std::string& value, std::size_t, std::size_t) {
                 if (name != "content-type") return true;
                 const std::string type = Lower(value);
                 html = type.compare(0, 9, "text/html") == 0 ||
                        type.compare(0, 21, "application/xhtml+xml") == 0;
                 return true;
               });
  return html;
}

std::string RequestSite(const std::string& request) {
  std::string site;
  ForEachField(request,
               [&](const std::string& name, const std::string& value, std::size_t, std::size_t) {
                 if (name != "host") return true;
                 site = Lower(value);
                 return false;
               });
  return site;
}

std::string WithSitePageField(const std::string& request, const std::string& digest) {
  std::size_t nl = request.find('\n');
  if (nl == std::string::npos) return request;
  return request.substr(0, nl + 1) + kSitePageField + ": " + digest + "\r\n" +
         request.substr(nl + 1);
}

std::string TakeSitePageField(std::string* request) {
  const std::string field = Lower(kSitePageField);
  std::string digest;
  bool named = false;
  for (;;) {
    std::size_t from = 0, to = 0;
    ForEachField(*request, [&](const std::string& name, const std::string& value, std::size_t start,
                               std::size_t end) {
      if (name != field) return true;
      if (!named) digest = value;
      named = true;
      from = start;
      to = end;
      return false;
    });
    if (to == 0) return digest;
    request->erase(from, to - from);
  }
}

void SitePageStore::DropOldest() {
  bytes_ -= lru_.back().page->size();
  lru_.pop_back();
}

void SitePageStore::Keep(const std::string& site, std::string page) {
  if (page.size() > maxBytes_ || perSite_ == 0) return;
  std::string digest = SitePageDigest(page);
  std::lock_guard<std::mutex> lock(mu_);
  std::size_t ofSite = 0;
  for (auto it = lru_.begin(); it != lru_.end();) {
    if (it->site != site) {
      ++it;
      continue;
    }
    // The same page again, or one beyond the site's share: dropped here.
    if (it->digest == digest || ofSite + 1 >= perSite_) {
      bytes_ -= it->page->size();
      it = lru_.erase(it);
    } else {
      ++ofSite;
      ++it;
    }
  }
  bytes_ += page.size();
  lru_.push_front(Entry{site, digest, std::make_shared<const std::string>(std::move(page))});
  while (bytes_ > maxBytes_) DropOldest();
}

SitePage SitePageStore::Find(const std::string& site, const std::string& digest) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = lru_.begin(); it != lru_.end(); ++it) {
    if (it->site == site && it->digest == digest) {
      lru_.splice(lru_.begin(), lru_, it);
      return lru_.front().page;
    }
  }
  return nullptr;
}

SitePage SitePageStore::Latest(const std::string& site, std::string* digest) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = lru_.begin(); it != lru_.end(); ++it) {
    if (it->site == site) {
      *digest = it->digest;
      return it->page;
    }
  }
  return nullptr;
}

std::size_t SitePageStore::Bytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bytes_;
}

std::size_t SitePageStore::Pages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lru_.size();
}
