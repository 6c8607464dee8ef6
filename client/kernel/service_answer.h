// Reading the service's answer packets and turning them into bytes for the
// browser.
#pragma once

#include "kernel/filters.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"
#include "protocol/packet.h"
#include "protocol/site_pages.h"

// How reading an answer header ended.
enum class AnswerHead {
  Read,  // a whole header is in *h
  End,   // the service closed between packets: the answer is over
  Cut,   // a close inside the header, a reset or a silence of idleMs
};
// *got, when given, receives the header bytes that arrived.
AnswerHead ReadAnswerHeader(nbplat::Socket s, int idleMs, nbServiceHeader* h,
                            std::size_t* got = nullptr);

// Receives h.size body bytes into buff, each read waiting at most idleMs and
// showing network activity in the tray; true when all of them came.
bool ReadAnswerBody(nbplat::Socket s, const nbServiceHeader& h, char* buff, int idleMs);

// True when an answer's size and decompSize both stay within kMaxBodySize.
bool ServicePacketFits(const nbServiceHeader& h);

// What one answer has done so far: its forbidden-word scan across packets,
// and whether any of its bytes reached the browser.
struct AnswerProgress {
  ContentScanner words;
  bool delivered = false;
  SitePage named;                 // the page named to the service (kind 9 is coded against it)
  std::uint16_t serviceCaps = 0;  // the bits the service set on this answer's content
  // What was delivered, while it may be kept as the site's page; past that,
  // its last kChainWindow bytes when the service chains pieces.
  std::string answer;
  bool tooLong = false;        // more than a page worth keeping was delivered
  std::uint64_t exchange = 0;  // the number pushes and promises are kept under
};

// Acts on one complete answer packet whose body lies in thArgs->buff:
// delivers content (kinds 2, 3, 4, and 8, 9, 12 when the packet's caps say
// the service codes them; else they are dropped like any unknown kind). A
// kind 8, 9 or 12 packet that does not decode cuts the answer. Promises and
// pushes (kinds 13 and 11) go to the push store under progress->exchange.
// False when the answer must end: the browser can no longer be written to,
// or a forbidden word was found (after some of the answer went out, the
// browser's connection ends with a reset).
bool HandlePacket(ThreadArgs* thArgs, const nbServiceHeader& h, AnswerProgress* progress);

// Marks the browser's connection to end with a reset: the answer was cut,
// and what was delivered of it must not look whole.
void CutAnswer(ThreadArgs* thArgs);
