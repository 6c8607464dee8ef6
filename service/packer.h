// Turns a web server's complete answer into service answer packets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/packet.h"
#include "protocol/site_pages.h"
#include "protocol/text_codec.h"

namespace nbsvc {

class DensePacker;
class PackCache;

// How the client takes text. Without text2, today's bzip2 (kind 2). With
// text2, each piece goes as whichever of zstd (NB_PACKET_TEXT2) and bzip2
// is smaller; with page too, as zstd coded against that page of the site
// (NB_PACKET_TEXT2_DICT). dense, when set, packs popular pieces once more
// in the background. With chain too, a piece after the first may go coded
// against the page and the answer's content before it
// (NB_PACKET_TEXT2_CHAIN).
struct TextCoding {
  bool text2 = false;
  bool chain = false;
  SitePage page;
  // page prepared for coding pieces against it (kind 9), when it is set.
  std::shared_ptr<const Text2Dictionary> prepared;
  DensePacker* dense = nullptr;
};

struct AnswerPacket {
  nbServiceHeader header;  // money is filled in by the caller before sending
  std::string body;
  // The answer's head, packed apart from its body: it leaves together with
  // the piece after it, under one balance check.
  bool head = false;
};

struct PackedAnswer {
  std::vector<AnswerPacket> packets;
  std::uint64_t before = 0;  // sum of decompSize: bytes the content had
  std::uint64_t after = 0;   // sum of size: body bytes on the link
  bool jpeg = false;         // sent as recoded-image packets
  bool recoded = false;      // the image was replaced by a smaller one
};

// Quality for a client's JPEG code: 1 medium, 2 low, 0 for "leave untouched".
int JpegQualityForCode(int code);

// Cuts response into packets of at most kMaxBodySize content bytes, in
// order, so that the concatenated contents are the exact HTTP response.
// Each piece goes as bzip2 (kind 2) when that is smaller, else plain
// (kind 3). A JPEG response under codes 1 and 2 is recoded (Content-Length
// corrected; the original kept when recoding does not shrink it) and sent
// as kind 4 pieces whose decompSize spreads the original size over them.
// With a cache, the head (up to the final response's empty line) is packed
// apart from the body, so pieces of a body seen before are taken from the
// cache although heads differ per fetch; recoded images are cached too.
// With webp (the client and the browser both take WebP), JPEG, PNG and
// static GIF answers are first recoded to WebP (kind 4 pieces; the cache key
// names the output format); a WebP that is not smaller than the original is
// not sent (a PNG or GIF then goes as any other content), and a JPEG goes
// as WebP only when that is smaller than the JPEG road's result. With avif
// (the client and the browser both take AVIF), the same images may go as
// AVIF, but only when that is smaller than the original and than what the
// WebP and JPEG roads would send.
PackedAnswer PackResponse(const std::string& response, int jpegCode, PackCache* cache = nullptr,
                          const TextCoding& coding = TextCoding(), bool webp = false,
                          bool avif = false);

// The bzip2/plain packets of content only, without any image handling.
PackedAnswer PackPlain(const std::string& content, const TextCoding& coding = TextCoding());

// One packet of len <= kMaxBodySize bytes coded as coding says, or plain
// (kind 3) when that is smallest; the outcome is looked up in and added to
// cache when cache is not null (never for pieces coded against a page).
AnswerPacket PackPiece(const char* data, std::size_t len, PackCache* cache,
                       const TextCoding& coding = TextCoding());

// One piece of an answer whose content before it is before (at least its
// last kChainWindow bytes; empty for the first piece): with coding.text2,
// coding.chain and before not empty (at least kChainMinBefore bytes when
// there is no page), the smaller of PackPiece's result and
// the piece coded against the page and before (kind 12, never cached: its
// bytes depend on the prefix); otherwise PackPiece.
AnswerPacket PackAnswerPiece(const char* data, std::size_t len, const std::string& before,
                             PackCache* cache, const TextCoding& coding);

// Where the head of response ends when it can be packed apart from its body:
// the final response's head is complete and not an interim one. 0 otherwise.
std::size_t HeadEnd(const std::string& response);

// A short HTTP/1.0 response the service makes itself (errors).
std::string MakeErrorResponse(int status, const std::string& reason, const std::string& text);

}  // namespace nbsvc
