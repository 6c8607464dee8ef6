// The denser text coder of the service link (zstd), for packets of kind
// NB_PACKET_TEXT2 and, coded against a page both sides hold, of kind
// NB_PACKET_TEXT2_DICT. Shared by the client and the service.
#pragma once

#include <cstddef>
#include <string>

// Level for text packed while the client waits.
inline constexpr int kText2Level = 9;
// Level for text packed once more in the background, kept in the cache.
inline constexpr int kText2DenseLevel = 19;
// Most answer content a chained piece (NB_PACKET_TEXT2_CHAIN) is coded
// against: the last this many bytes before it. Bounds what both sides hold
// per answer.
inline constexpr std::size_t kChainWindow = 1024 * 1024;
// The first body byte of a chained piece: whether its prefix starts with
// the site's page named for the exchange.
inline constexpr char kChainNoPage = '0';
inline constexpr char kChainWithPage = '1';

// Codes len bytes at level into out, against dict (a raw-content
// dictionary) when dict is not empty; false on a library failure.
bool Text2Compress(const char* data, std::size_t len, int level, const std::string& dict,
                   std::string& out);
// The prefix of a chained piece: page (when not null), then the last
// kChainWindow bytes of before (the answer's content ahead of the piece).
std::string ChainPrefix(const std::string* page, const std::string& before);
// Decodes one frame into at most maxOut bytes, against dict when not
// empty; false on a damaged stream, a frame needing another dictionary, or
// more output than maxOut.
bool Text2Decompress(const char* data, std::size_t len, std::size_t maxOut, const std::string& dict,
                     std::string& out);
