// Resources the service sends after a page, unasked (NB_PACKET_PUSH, only to
// a client that set NB_CAP_PUSH and NB_CAP_KEEPALIVE). A push packet's body:
//   u16 (little-endian) length of the URL, then the URL itself, in the form
//   PushUrlOfRequest gives ("http://host[:port]/path?query");
//   then the resource's whole HTTP answer packed like any answer: one or
//   more inner packets, each a 16-byte service header and its body, of
//   kinds 2 (bzip2), 3 (plain), 4 (image as is) or 8 (zstd, no dictionary).
// The packet's own decompSize is the length of the decoded answer and its
// size the whole body, both within kMaxBodySize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packet.h"

// One inner packet of a pushed answer.
struct PushPiece {
  nbServiceHeader header;  // msg, size and decompSize are what count
  std::string body;
};

// The push body for url and its packed answer.
std::string EncodePush(const std::string& url, const std::vector<PushPiece>& pieces);

// Decodes a push body into its URL and the answer's bytes; false when the
// body is malformed, an inner packet does not decode to its decompSize or
// the answer exceeds maxAnswer bytes.
bool DecodePush(const char* body, std::size_t len, std::size_t maxAnswer, std::string* url,
                std::string* answer);

// The absolute URL a GET asks for ("http://" + lower-case host + path),
// from an absolute request target or the Host field; empty for any other
// method or a request without a host.
std::string PushUrlOfRequest(const std::string& request);

// True when the request's head carries a Cookie or Authorization field.
bool RequestCarriesCredentials(const std::string& request);
