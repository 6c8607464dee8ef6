// Extensions of the service link, negotiated so that old peers never see
// them. The client announces what it can take in the request header's caps
// (offset 14, zero in every historic client); the service answers with what
// it will do in each answer header's caps (offset 10). A service sends a new
// packet kind only to a client that announced the matching bit, and a client
// that announced none gets exactly the historic bytes. A client still reads
// and drops any kind it does not know.
#pragma once

#include <cstdint>

enum nbCapability : std::uint16_t {
  // Images (JPEG, PNG, static GIF) may come back recoded as WebP when the
  // browser's Accept names image/webp. They travel as kind 4 pieces like a
  // recoded JPEG (the client passes kind 4 through untouched), so no new
  // kind is needed: only clients that set this bit ever get them. The
  // answer's head then says image/webp, carries "Vary: Accept" and a weak
  // ETag. The resent header after a time correction carries no bits; the
  // first header's bits count for the whole exchange.
  NB_CAP_WEBP = 0x0001,
  // Text may come as NB_PACKET_TEXT2: one zstd frame (with its checksum)
  // per packet, decompSize the bytes it decodes to. Bzip2 (kind 2) and
  // plain (kind 3) packets still come where they are smaller.
  NB_CAP_TEXT2 = 0x0002,
  // With NB_CAP_TEXT2: the client keeps recent pages of a site (whole HTML
  // answers as delivered) and names one by digest (site_pages.h) on a line
  // "Nb-Site-Page: <md5 hex>-<length>" right after the request line of the
  // request it sends; the service removes every such line before fetching.
  // Text may then come as NB_PACKET_TEXT2_DICT: a zstd frame coded with
  // that page as raw prefix. A service that does not hold the named page
  // sends NB_PACKET_TEXT2 instead. Every content packet of an answer
  // carries the bits the service acts on; a client takes kinds 8 and 9 only
  // from a packet whose caps carry their bits.
  NB_CAP_SITE_DICT = 0x0004,
  // Several exchanges on one connection. The service ends each whole
  // answer with NB_PACKET_END (no body, this bit in its caps) and then waits
  // for the next request header on the same connection; after a cut answer,
  // a refusal or a no-money answer it closes as ever. A client sends the
  // next request only after NB_PACKET_END, and sends a GET or HEAD again on
  // a fresh connection when a kept one closes before any byte of its
  // answer. With this bit, an HTML page's first piece may also leave early
  // (a few KiB), before the rest of the page is in.
  NB_CAP_KEEPALIVE = 0x0008,
  // With NB_CAP_KEEPALIVE: after a whole HTML page (a GET without Cookie
  // or Authorization) and before its NB_PACKET_END, the service may send
  // NB_PACKET_PUSH packets, each a same-host resource the page references
  // with its packed answer (layout in protocol/push.h). A client keeps them
  // briefly and answers one browser request for that URL from each.
  // Ahead of the page's content the service names what it will push
  // (NB_PACKET_PUSH_PROMISE); a promised URL that turns out not pushable
  // comes as a push without an answer, and the end packet settles any
  // other. The client may name, on a page's request, short hashes of URLs
  // the browser holds ("Nb-Held" line, protocol/push.h); the service takes
  // the line out before fetching and pushes none of those.
  NB_CAP_PUSH = 0x0010,
  // With NB_CAP_TEXT2: a piece of text after the first of an answer may
  // come as NB_PACKET_TEXT2_CHAIN, coded against what came before it in
  // the same answer. Its body is one byte, kChainWithPage or kChainNoPage
  // (text_codec.h), then a zstd frame (with its checksum) coded with a raw
  // prefix: the site page the client named for this exchange when that
  // byte says so (only a service announcing NB_CAP_SITE_DICT that holds the
  // page), followed by the last kChainWindow bytes of the answer's content
  // delivered before this packet (all content packets, decoded, in order).
  // decompSize is the bytes the frame decodes to. A client takes kind 12
  // only from a packet whose caps carry this bit and NB_CAP_TEXT2.
  NB_CAP_TEXT_CHAIN = 0x0020,
  // As NB_CAP_WEBP for AVIF: with the browser's Accept naming image/avif,
  // images may come recoded as AVIF in kind 4 pieces (head image/avif,
  // "Vary: Accept", weak ETag), only where that is smaller than what the
  // WebP and JPEG roads would send.
  NB_CAP_AVIF = 0x0040,
};

// Packet kinds beyond the historic 2-7; each goes only to a client that
// announced its capability.
enum nbExtendedKind : std::uint16_t {
  NB_PACKET_TEXT2 = 8,
  NB_PACKET_TEXT2_DICT = 9,
  NB_PACKET_END = 10,
  NB_PACKET_PUSH = 11,
  NB_PACKET_TEXT2_CHAIN = 12,
  // With NB_CAP_PUSH: the URLs the service will push after this page, sent
  // ahead of the page's content (layout in protocol/push.h).
  NB_PACKET_PUSH_PROMISE = 13,
};
