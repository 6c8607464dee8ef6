// Request and content filters of the proxy core.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// True when the request is refused as a banner: its URL cannot be found, or
// an entry of vsBlockingUrls stands in it after the first character and
// bBlockBanners is set. Reads the options.
bool isBanner(const std::string& request);
// True when the requested file is an ActiveX control (.ocx) and
// bBlockActiveX is set, or a Flash film (.swf) and bBlockFlash is set.
bool isBlockFileExtension(const std::string& request);
// True when ip (network byte order) costs nothing: 192.168.x.x, or an
// address standing whole in the program's route table (gClient.proxy). No
// options read.
bool isFreeOfChargeIP(unsigned int ip);
// True when the file extension sExt names a file that does not
// compress (rar, zip, mp3, avi, mpg); false for nullptr. No options read.
bool isFileCantCompress(const char* sExt);
// True when the zero-terminated content holds a non-empty word of
// vsBlockingContent; false for nullptr. Reads the options.
bool BadKeywordsInContent(const char* content);

// Looks for the words of vsBlockingContent in an answer that arrives in
// pieces. The tail of each piece, one byte shorter than the longest word, is
// kept, so a word split across two pieces is found too. Each piece's text
// ends at its first zero byte, as for BadKeywordsInContent. The words are
// read from the options once, at construction. One answer per object.
class ContentScanner {
 public:
  ContentScanner();
  // True when a word stands in this piece or across its start.
  bool Found(const char* data, std::size_t len);

 private:
  std::vector<std::string> words_;  // the non-empty words
  std::size_t keep_ = 0;            // tail length kept: longest word - 1
  std::string tail_;                // end of the previous pieces' text
};
