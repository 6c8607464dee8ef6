// Reading the service's answer packets and turning them into bytes for the
// browser.
#pragma once

#include "kernel/thread_args.h"
#include "platform/platform.h"
#include "protocol/packet.h"

// How reading an answer header ended.
enum class AnswerHead {
  Read,  // a whole header is in *h
  End,   // the service closed between packets: the answer is over
  Cut,   // a close inside the header, a reset or a silence of idleMs
};
AnswerHead ReadAnswerHeader(nbplat::Socket s, int idleMs, nbServiceHeader* h);

// Receives h.size body bytes into buff, each read waiting at most idleMs and
// showing network activity in the tray; true when all of them came.
bool ReadAnswerBody(nbplat::Socket s, const nbServiceHeader& h, char* buff, int idleMs);

// True when an answer's size and decompSize both stay within kMaxBodySize.
bool ServicePacketFits(const nbServiceHeader& h);

// Acts on one complete answer packet whose body lies in thArgs->buff:
// delivers content (kinds 2, 3, 4) unless a forbidden word is in it. False
// when the browser can no longer be written to.
bool HandlePacket(ThreadArgs* thArgs, const nbServiceHeader& h);

// Marks the browser's connection to end with a reset: the answer was cut,
// and what was delivered of it must not look whole.
void CutAnswer(ThreadArgs* thArgs);
