// Recent pages of sites on the client.
#include "kernel/site_dict.h"

#include "kernel/limits.h"
#include "protocol/capabilities.h"

namespace {

SitePageStore& Store() {
  static SitePageStore store(nb::kSitePagesPerSite, nb::kSitePagesBytes);
  return store;
}

}  // namespace

std::string RequestNamingPage(const std::string& service, const std::string& request,
                              SitePageUse* use) {
  std::string host = RequestSite(request);
  use->site = host.empty() ? std::string() : service + " " + host;
  use->named = nullptr;
  if (use->site.empty()) return std::string();
  std::string digest;
  use->named = Store().Latest(use->site, &digest);
  if (!use->named) return std::string();
  std::string named = WithSitePageField(request, digest);
  // The line never makes a request too big for the service.
  if (named.size() > kMaxBodySize) {
    use->named = nullptr;
    return std::string();
  }
  return named;
}

void KeepSitePage(const SitePageUse& use, std::uint16_t serviceCaps, std::string answer) {
  if (use.site.empty() || !(serviceCaps & NB_CAP_SITE_DICT) || !IsSitePage(answer)) return;
  Store().Keep(use.site, std::move(answer));
}
