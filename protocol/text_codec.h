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

// Codes len bytes at level into out, against dict (a raw-content
// dictionary) when dict is not empty; false on a library failure.
bool Text2Compress(const char* data, std::size_t len, int level, const std::string& dict,
                   std::string& out);
// Decodes one frame into at most maxOut bytes, against dict when not
// empty; false on a damaged stream, a frame needing another dictionary, or
// more output than maxOut.
bool Text2Decompress(const char* data, std::size_t len, std::size_t maxOut, const std::string& dict,
                     std::string& out);
