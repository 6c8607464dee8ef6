// The tray for systems without a notification area: the same operations and
// timing, with the tip text and the animation frame kept in memory.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/options.h"
#include "platform/platform.h"
#include "support/debug.h"
#include "tray/tray.h"

namespace {

constexpr unsigned kFrameMs = 200;    // one pass of the tray loop
constexpr int kFrameCount = 7;        // frames 0..6, 6 ends a run
constexpr std::size_t kTipMax = 127;  // tip capacity without the zero

std::atomic<bool> bNetworkActivity{false};
std::atomic<bool> bTerminated{false};
std::atomic<int> iFrame{0};

std::mutex mtxTip;  // guards sTip and sBalloon
std::string sTip;
std::string sBalloon;

// printf into a string of whatever length the values need.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  if (n < 0) return std::string();
  std::vector<char> buf(static_cast<std::size_t>(n) + 1);
  std::snprintf(buf.data(), buf.size(), format, args...);
  return std::string(buf.data(), static_cast<std::size_t>(n));
}

struct Savings {
  double totalMb, compressMb, savedMb, savedMoney, ratio;
};

Savings ComputeSavings(const Program_Options& po) {
  Savings s;
  s.totalMb = po.dTotalTraffic / 1024 / 1024;
  s.compressMb = po.dCompressTraffic / 1024 / 1024;
  s.savedMb = (po.dTotalTraffic - po.dCompressTraffic) / 1024 / 1024;
  s.savedMoney = s.savedMb * po.dTrafficCost;
  s.ratio = po.dCompressTraffic == 0 ? 1.0 : po.dTotalTraffic / po.dCompressTraffic;
  return s;
}

}  // namespace

void WinSysTray::InitWinSysTray() { dbgmsg("void InitWinSysTray(void)"); }

void WinSysTray::ThreadWinSysTray(void*) {
  dbgmsg("void ThreadWinSysTray(void)");
  ApplyTipTrafficInfo();
  PopupBalloon();
  ApplyTipTrafficInfo();
  dbgmsg("Run the messageloop");
  while (!bTerminated) {
    if (bNetworkActivity) {
      int frame = (iFrame + 1) % kFrameCount;
      if (frame == kFrameCount - 1) {
        frame = 0;
        bNetworkActivity = false;
      }
      iFrame = frame;
      UpdateIcon(frame);
    } else {
      iFrame = 0;
    }
    nbplat::SleepMs(kFrameMs);
  }
  dbgmsg("RET void WinSysTrayIcon::ThreadFunction(void)");
}

void WinSysTray::UpdateMenu() {
  SaveProgramOptions();
  // No menu to mark here: the options file is the visible effect.
}

void WinSysTray::UpdateIcon(int index) {
  ApplyTipTrafficInfo();
  iFrame = index;
}

void WinSysTray::ApplyTipTrafficInfo() {
  std::string tip = TipText();
  std::lock_guard<std::mutex> lock(mtxTip);
  sTip = tip;
}

std::string WinSysTray::TipText() {
  const Savings s = ComputeSavings(GetProgramOptions());
  std::string tip = Format(
      "До сжатия: %.2f Mb\nПосле сжатия: %.2f Mb\nСэкономлено: %.2f Mb (%.2f руб)\n"
      "Коэф. сжатия: %.2f\n",
      s.totalMb, s.compressMb, s.savedMb, s.savedMoney, s.ratio);
  tip += "Доступ: Приоритетный";
  if (tip.size() > kTipMax) tip.resize(kTipMax);
  return tip;
}

void WinSysTray::PopupBalloon() {
  const Savings s = ComputeSavings(GetProgramOptions());
  std::string text = Format("Сэкономлено: %.2f руб (%.2f Мб)\nКоэф сжатия: %.2f", s.savedMoney,
                            s.savedMb, s.ratio);
  std::lock_guard<std::mutex> lock(mtxTip);
  sBalloon = text;
}

void WinSysTray::NetworkActivity(bool b) { bNetworkActivity = b; }

bool WinSysTray::ActivityPending() { return bNetworkActivity; }

void WinSysTray::DeleteIcon() { bTerminated = true; }
