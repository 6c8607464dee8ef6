// Request and content filters of the proxy core.
#pragma once

#include <string>

bool isBanner(const std::string& request);
bool isBlockFileExtension(const std::string& request);
bool isFreeOfChargeIP(unsigned int ip);
bool isFileCantCompress(const char* sExt);
bool BadKeywordsInContent(const char* content);
