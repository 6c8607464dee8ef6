// Texts around HTTP: dotted addresses, percent escapes, page-safe text and
// the small HTML answers the client sends itself.
#pragma once

#include <cstdint>
#include <string>

// Dotted text of an address held in network byte order.
std::string IpIntToStr(std::uint32_t ip);
// Decodes percent escapes in place in one pass ("+" is left alone; "%00" and
// a lone "%" vanish; a produced "%" starts no new escape).
void UndecorateHttpString(std::string* dstr);
// sText with <, >, & and " written as character references, for a page.
std::string HtmlEscape(const std::string& sText);
// A whole HTML answer: "HTTP/1.0 " status, a text/html type, the body's
// length and a close, then the body.
std::string HtmlAnswer(const std::string& status, const std::string& body);
