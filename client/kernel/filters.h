// Request and content filters of the proxy core.
#pragma once

#include <string>

// True when the request is refused as a banner: its URL cannot be found, or
// an entry of vsBlockingUrls stands in it after the first character and
// bBlockBanners is set. Reads the options.
bool isBanner(const std::string& request);
// True when the requested file is an ActiveX control (.ocx) and
// bBlockActiveX is set, or a Flash film (.swf) and bBlockFlash is set.
bool isBlockFileExtension(const std::string& request);
// True when ip (network byte order) costs nothing: 192.168.x.x, or an
// address standing whole in the route table sRouteTable. No options read.
bool isFreeOfChargeIP(unsigned int ip);
// True when the three-letter extension sExt names a file that does not
// compress (rar, zip, mp3, avi, mpg); false for nullptr. No options read.
bool isFileCantCompress(const char* sExt);
// True when the zero-terminated content holds a non-empty word of
// vsBlockingContent; false for nullptr. Reads the options.
bool BadKeywordsInContent(const char* content);
