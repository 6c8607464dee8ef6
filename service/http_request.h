// Adjusting a client's request before the service forwards it.
#pragma once

#include <string>

namespace nbsvc {

// The request without its Accept-Encoding fields, so the web server answers
// in identity coding: bzip2 over the plain content is smaller than over
// gzip output, and the browser always accepts an uncoded answer. Only the
// head is touched; the body and every other byte stay as they were.
std::string WithoutAcceptEncoding(const std::string& request);

// True when an Accept field of the request's head names image/webp with a
// quality above zero.
bool AcceptsWebp(const std::string& request);

// The same for image/avif.
bool AcceptsAvif(const std::string& request);

}  // namespace nbsvc
