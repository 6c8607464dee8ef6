// The traffic and money the service's answers report, kept in the options
// counters (written to the file by the flush timer).
#pragma once

#include <cstdint>

#include "kernel/options.h"
#include "protocol/packet.h"

// Money of an answer (hundredths) as the whole units stored in dMoney.
double MoneyFromService(std::int32_t money);
// Stores money / 100 (integer division) as dMoney; the file is not saved.
void saveMoneyInfo(int money);
// The JPEG quality code for the iJpegLvl option now set.
int getJPEGCompressLevel();
// Adds one packet to dTotalTraffic (decompSize) and dCompressTraffic (size).
void CountPacket(const nbServiceHeader& h);
