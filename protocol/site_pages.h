// Recent pages of each site, which the client and the service both keep so
// that a new page of the site can be coded against one they share
// (NB_CAP_SITE_DICT). The client names the page it holds by digest in the
// request it sends the service, on a line "Nb-Site-Page: <digest>" right
// after the request line; the service removes every such line before it
// fetches, so it never reaches the web server. Safe from many threads.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>

// The request line naming the client's page, without its CRLF.
inline constexpr char kSitePageField[] = "Nb-Site-Page";
// Longest answer kept as a site's page (head and body as delivered).
inline constexpr std::size_t kSitePageMaxBytes = 1024 * 1024;

using SitePage = std::shared_ptr<const std::string>;

// The name of page: MD5 in hex, '-', its length.
std::string SitePageDigest(const std::string& page);

// Whether response (a whole HTTP answer) is worth keeping as a site's page:
// a 200 answer that is an HTML page, at most kSitePageMaxBytes.
bool IsSitePage(const std::string& response);

// The Host field of an HTTP request in lower case, "" when it has none.
std::string RequestSite(const std::string& request);

// The request with a line naming digest added after its request line.
std::string WithSitePageField(const std::string& request, const std::string& digest);
// Removes every line naming a page from request; returns the digest of the
// first (the client's own, right after the request line), "" when none.
std::string TakeSitePageField(std::string* request);

class SitePageStore {
 public:
  // At most perSite pages per site and maxBytes of pages in all; the least
  // recently used go first.
  SitePageStore(std::size_t perSite, std::size_t maxBytes)
      : perSite_(perSite), maxBytes_(maxBytes) {}
  SitePageStore(const SitePageStore&) = delete;
  SitePageStore& operator=(const SitePageStore&) = delete;

  // Keeps page as the most recent of site (a page held already moves up).
  void Keep(const std::string& site, std::string page);
  // The page of site named digest, or null when it is not held.
  SitePage Find(const std::string& site, const std::string& digest);
  // The most recent page of site and its digest; null when none.
  SitePage Latest(const std::string& site, std::string* digest);
  std::size_t Bytes() const;
  std::size_t Pages() const;

 private:
  struct Entry {
    std::string site, digest;
    SitePage page;
  };
  void DropOldest();

  const std::size_t perSite_, maxBytes_;
  mutable std::mutex mu_;  // guards what follows
  std::list<Entry> lru_;   // most recent first
  std::size_t bytes_ = 0;  // page bytes held
};
