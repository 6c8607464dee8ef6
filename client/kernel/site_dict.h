// The client's recent pages of each site, named to the service so that a
// new page of the site can come coded against one both hold
// (NB_PACKET_TEXT2_DICT). Pages are kept per service, so a service is only
// told of a page it sent itself while announcing NB_CAP_SITE_DICT.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/site_pages.h"

// One request's part in it: where its answer is kept and the page it named.
struct SitePageUse {
  std::string site;  // service and Host; empty when the request has no Host
  SitePage named;    // the page named to the service, null when none
};

// request with the site's latest page named, when one is held for service
// (use->named set); otherwise empty, and request goes as it stands,
// uncopied. *use tells what was named.
std::string RequestNamingPage(const std::string& service, const std::string& request,
                              SitePageUse* use);
// Keeps answer (delivered whole, from a service that announced serviceCaps)
// as the site's latest page when it is one worth keeping.
void KeepSitePage(const SitePageUse& use, std::uint16_t serviceCaps, std::string answer);
