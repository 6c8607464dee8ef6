// Traffic and money statistics of the service link.
#include "kernel/service_stats.h"

#include "support/debug.h"

double MoneyFromService(std::int32_t money) { return static_cast<double>(money / 100); }

int getJPEGCompressLevel(const Program_Options& po) {
  dbgmsg("int getJPEGCompressLevel(void)");
  const int code = JpegCodeForLevel(po.iJpegLvl);
  dbgmsg("RET int getJPEGCompressLevel(void)");
  return code;
}

void saveMoneyInfo(OptionsStore& options, int money) {
  dbgmsg("void saveMoneyInfo(int money)");
  options.SetMoney(MoneyFromService(money));
}

void CountPacket(OptionsStore& options, const nbServiceHeader& h) {
  options.AddTraffic(static_cast<double>(h.decompSize), static_cast<double>(h.size));
}
