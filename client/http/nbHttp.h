// String HTTP helpers and the rewriting of a browser's proxy request into the
// request that is forwarded.
#pragma once

#include <cstddef>
#include <string>

// The head (up to and including CR LF CR LF) of a GET/POST request or an
// answer, or "".
std::string GetHttpHeader(std::string sHttpRequest);
// Absolute URL to path, Proxy-Connection to "Connection: Close" (added as the
// last line when there is none), "/http:" form to a real host; the body
// follows unchanged. "" when the result would be longer than iMaxSize bytes:
// nothing longer is ever built.
std::string CorrectingHeader(std::string sHttpRequest, std::size_t iMaxSize = std::string::npos);
// Header value; "Host" gives the host without port, "Port" the Host header's
// port or "80".
std::string GetParameterFromHttpHeader(std::string sHttpRequest, std::string sName);
std::string GetUrlFromHttpRequest(std::string sHttpRequest);
std::string GetFileExtensionFromHttpRequest(std::string sHttpRequest);
// Dotted text of an address held in network byte order.
std::string IpIntToStr(unsigned int ip);
// sText with <, >, & and " written as character references, for a page.
std::string HtmlEscape(const std::string& sText);
