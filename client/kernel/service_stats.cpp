// Traffic and money statistics of the service link.
#include "kernel/service_stats.h"

#include "kernel/state.h"
#include "support/debug.h"
#include "support/nbMutex.h"

double MoneyFromService(std::int32_t money) { return static_cast<double>(money / 100); }

int getJPEGCompressLevel() {
  dbgmsg("int getJPEGCompressLevel(void)");
  const int code = JpegCodeForLevel(GetProgramOptions().iJpegLvl);
  dbgmsg("RET int getJPEGCompressLevel(void)");
  return code;
}

void saveMoneyInfo(int money) {
  dbgmsg("void saveMoneyInfo(int money)");
  ChangeProgramOptions([money](Program_Options& po) { po.dMoney = MoneyFromService(money); });
}

void CountPacket(const nbServiceHeader& h, Program_Options& po) {
  {
    nbLockGuard lock(mtxProgramOptions);
    ChangeProgramOptions([&h](Program_Options& o) {
      o.dTotalTraffic += static_cast<double>(h.decompSize);
      o.dCompressTraffic += static_cast<double>(h.size);
    });
    po = GetProgramOptions();
  }
  SaveProgramOptions();
}
