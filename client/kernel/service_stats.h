// The traffic and money the service's answers report, kept in the options
// counters (written to the file by the flush timer).
#pragma once

#include <cstdint>

#include "kernel/options.h"
#include "protocol/packet.h"

// Money of an answer (hundredths) as the whole units stored in dMoney.
double MoneyFromService(std::int32_t money);
// Stores money / 100 (integer division) as options' dMoney; the file is
// written by the flush timer.
void saveMoneyInfo(OptionsStore& options, int money);
// The JPEG quality code for iJpegLvl.
int getJPEGCompressLevel(const Program_Options& po);
// Adds one packet to options' dTotalTraffic (decompSize) and
// dCompressTraffic (size).
void CountPacket(OptionsStore& options, const nbServiceHeader& h);
