// The rewriting of a browser's proxy request into the request that is
// forwarded to the site.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Absolute URL to path, Proxy-Connection to "Connection: Close" (added as the
// last line when there is none), "/http:" form to a real host; the body
// follows unchanged. A text without a complete head of a known kind comes
// back as it is. "" when the result would be longer than iMaxSize bytes:
// nothing longer is ever built.
std::string CorrectingHeader(std::string_view sHttpRequest,
                             std::size_t iMaxSize = std::string::npos);
