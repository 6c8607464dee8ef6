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
  // Text may come as NB_PACKET_TEXT2 (a denser coder than bzip2).
  NB_CAP_TEXT2 = 0x0002,
  // The client keeps recent pages of a site and names one by digest; text
  // may come coded against it (NB_PACKET_TEXT2_DICT).
  NB_CAP_SITE_DICT = 0x0004,
  // Reserved: several exchanges on one connection, each answer ended by
  // NB_PACKET_END.
  NB_CAP_KEEPALIVE = 0x0008,
  // Reserved: resources pushed after a page (NB_PACKET_PUSH).
  NB_CAP_PUSH = 0x0010,
};

// Packet kinds beyond the historic 2-7; each goes only to a client that
// announced its capability.
enum nbExtendedKind : std::uint16_t {
  NB_PACKET_TEXT2 = 8,
  NB_PACKET_TEXT2_DICT = 9,
  NB_PACKET_END = 10,
  NB_PACKET_PUSH = 11,
};
