// Traffic and money statistics of the service link.
#include "kernel/service_stats.h"

#include "support/debug.h"

double MoneyFromService(std::int32_t money) { return static_cast<double>(money / 100); }

int getJPEGCompressLevel() {
  dbgmsg("int getJPEGCompressLevel(void)");
  const int code = JpegCodeForLevel(GetProgramOptions().iJpegLvl);
  dbgmsg("RET int getJPEGCompressLevel(void)");
  return code;
}

void saveMoneyInfo(int money) {
  dbgmsg("void saveMoneyInfo(int money)");
  Options().SetMoney(MoneyFromService(money));
}

void CountPacket(const nbServiceHeader& h) {
  Options().AddTraffic(static_cast<double>(h.decompSize), static_cast<double>(h.size));
}
