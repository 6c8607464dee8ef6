// The client's side of the compression service exchange.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernel/options.h"
#include "protocol/packet.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"

void processRequestWithService(ThreadArgs* thArgs);
// Builds and sends the request header and compressed body; true when both
// went out whole.
bool sendDataToServer(nbplat::Socket ssocket, unsigned int ip, int port, const char* buff,
                      int iSize);
// Stores money / 100 (integer division) as dMoney.
void saveMoneyInfo(int money);
int getJPEGCompressLevel();

// Port of the service host (443). Tests point the link at a scripted peer.
extern std::atomic<int> iServicePort;
// Idle time-out of every read from the service or the tunnelling proxy, in
// milliseconds (nb::kServiceIdleMs); tests shorten it.
extern std::atomic<int> iServiceIdleMs;

// The service clock estimate: tick count in whole seconds plus the offset,
// wrapping in 32 bits.
std::int32_t ServiceClock(std::uint32_t tickMs, std::int32_t shift);
// The offset that makes ServiceClock(tickMs, offset) equal serviceTime.
std::int32_t ServiceTimeShift(std::uint32_t tickMs, std::int32_t serviceTime);
// Request header for a body of compSize bytes that holds iSize request bytes,
// sent at clock value `time`.
nbClientHeader MakeRequestHeader(const Program_Options& po, std::uint32_t ip, int port,
                                 std::int32_t time, std::uint32_t compSize, std::uint32_t iSize);
// The bodiless header sent back after a time correction to serviceTime.
nbClientHeader MakeTimeShiftReply(const Program_Options& po, std::int32_t serviceTime);
// True when an answer's size and decompSize both stay within kMaxBodySize.
bool ServicePacketFits(const nbServiceHeader& h);
// Money of an answer (hundredths) as the whole units stored in dMoney.
double MoneyFromService(std::int32_t money);
