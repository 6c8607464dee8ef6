// Resources the service sends after a page, unasked (NB_PACKET_PUSH, only to
// a client that set NB_CAP_PUSH and NB_CAP_KEEPALIVE). A push packet's body:
//   u16 (little-endian) length of the URL, then the URL itself, in the form
//   PushUrlOfRequest gives ("http://host[:port]/path?query");
//   then the resource's whole HTTP answer packed like any answer: one or
//   more inner packets, each a 16-byte service header and its body, of
//   kinds 2 (bzip2), 3 (plain), 4 (image as is) or 8 (zstd, no dictionary).
// The packet's own decompSize is the length of the decoded answer and its
// size the whole body, both within kMaxBodySize. A push with the URL alone
// (no inner packet) says that promised URL is not coming.
//
// A promise (NB_PACKET_PUSH_PROMISE) comes before the page's first content
// packet; its body is the promised URLs, each a u16 (little-endian) length
// and the URL in the same form.
//
// The client may add to a page's request one line "Nb-Held: h h ...", the
// UrlHash of URLs on the same host the browser got recently (at most
// kMaxHeldHashes); the service removes it before fetching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
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

// Decodes a push body into its URL and the answer's bytes (empty for a URL
// that is not coming); false when the body is malformed, an inner packet
// does not decode to its decompSize or the answer exceeds maxAnswer bytes.
bool DecodePush(const char* body, std::size_t len, std::size_t maxAnswer, std::string* url,
                std::string* answer);

// The absolute URL a GET asks for ("http://" + lower-case host + path),
// from an absolute request target or the Host field; empty for any other
// method or a request without a host.
std::string PushUrlOfRequest(const std::string& request);

// True when the request's head carries a Cookie or Authorization field.
bool RequestCarriesCredentials(const std::string& request);
// True when the request's head carries If-None-Match or If-Modified-Since.
bool RequestIsConditional(const std::string& request);

// The promise body naming urls, and back; Decode is false on a malformed
// body (a cut length or an empty URL).
std::string EncodePromise(const std::vector<std::string>& urls);
bool DecodePromise(const char* body, std::size_t len, std::vector<std::string>* urls);

// Name of the line naming held URLs, most hashes it carries, and the short
// hash of a URL (PushUrlOfRequest's form): 8 lower-case hex digits.
inline constexpr const char* kHeldField = "Nb-Held";
inline constexpr std::size_t kMaxHeldHashes = 48;
std::string UrlHash(const std::string& url);

// The request with a "Nb-Held" line of hashes after its request line (the
// request itself when hashes is empty).
std::string WithHeldField(const std::string& request, const std::vector<std::string>& hashes);
// Removes every "Nb-Held" line from the request's head; returns the hashes
// of the first (at most kMaxHeldHashes).
std::set<std::string> TakeHeldField(std::string* request);
