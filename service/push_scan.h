// Choosing what to push after a page: the same-site style sheets, scripts
// and images it references, and whether their answers may be kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nbsvc {

// Absolute URLs (PushUrlOfRequest's form) of <link rel=stylesheet href>,
// <script src> and <img src> in html that lie on pageUrl's own host, in
// page order, without repeats or the page itself, at most max of them.
std::vector<std::string> FindPushUrls(const std::string& html, const std::string& pageUrl,
                                      std::size_t max);

// The request the service sends for url on behalf of pageRequest: a plain
// GET with the page's User-Agent and Accept-Language, no credentials.
std::string PushRequest(const std::string& pageRequest, const std::string& url);

// True when a whole answer may be kept by its own head: status 200, no
// Set-Cookie, no Vary beyond Accept-Encoding, no Cache-Control no-store,
// no-cache or private, and fresh by Cache-Control max-age (> 0) or public,
// by an Expires field, or heuristically by Last-Modified.
bool PushCacheable(const std::string& response);

}  // namespace nbsvc
