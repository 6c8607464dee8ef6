// The request headers the client sends to the service, and the service clock
// they carry.
#pragma once

#include <cstdint>

#include "kernel/options.h"
#include "protocol/packet.h"

// The service clock estimate: tick count in whole seconds plus the offset,
// wrapping in 32 bits.
std::int32_t ServiceClock(std::uint32_t tickMs, std::int32_t shift);
// The offset that makes ServiceClock(tickMs, offset) equal serviceTime.
std::int32_t ServiceTimeShift(std::uint32_t tickMs, std::int32_t serviceTime);
// Request header for a body of compSize bytes that holds iSize request bytes,
// sent at clock value `time`; reads po's iLogin, sPassword and iJpegLvl.
nbClientHeader MakeRequestHeader(const Program_Options& po, std::uint32_t ip, int port,
                                 std::int32_t time, std::uint32_t compSize, std::uint32_t iSize);
// The bodiless header sent back after a time correction to serviceTime;
// reads po's iLogin and sPassword.
nbClientHeader MakeTimeShiftReply(const Program_Options& po, std::int32_t serviceTime);
