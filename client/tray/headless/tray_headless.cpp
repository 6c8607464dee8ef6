// The tray for systems without a notification area: the same operations and
// timing, with the tip, balloon and check marks kept in memory.
#include <atomic>
#include <mutex>
#include <string>

#include "kernel/options.h"
#include "platform/platform.h"
#include "support/debug.h"
#include "tray/tray.h"
#include "tray/tray_logic.h"

namespace {

std::atomic<bool> bTerminated{false};
std::atomic<bool> bRunning{false};
std::atomic<int> iIcon{0};  // the icon resource shown

std::mutex mtxShown;  // guards the three below
std::string sTip;
std::string sBalloon;
Program_Options poMarked;  // the options the check marks were last set from

}  // namespace

void WinSysTray::InitWinSysTray(OptionsStore& options) {
  dbgmsg("void InitWinSysTray(void)");
  nbtray::SetTrayOptions(options);
}

void WinSysTray::ThreadWinSysTray(void*) {
  dbgmsg("void ThreadWinSysTray(void)");
  bTerminated = false;
  bRunning = true;
  iIcon = nbtray::IconFor(0, nbtray::TrayLink().Offline());
  ApplyTipTrafficInfo();
  PopupBalloon();
  ApplyTipTrafficInfo();
  dbgmsg("Run the messageloop");
  while (!bTerminated) {
    bool offline = false;
    if (nbtray::TrayLink().Take(&offline)) {
      UpdateIcon(0);
      if (offline) {
        std::lock_guard<std::mutex> lock(mtxShown);
        sBalloon = nbtray::OfflineBalloonText();
      }
    }
    int frame = 0;
    if (nbtray::TrayAnimation().Step(&frame)) UpdateIcon(frame);
    nbplat::SleepMs(nbtray::kPassMs);
  }
  bRunning = false;
  dbgmsg("RET void WinSysTrayIcon::ThreadFunction(void)");
}

void WinSysTray::UpdateMenu() {
  nbtray::TrayOptions().Save();
  Program_Options po = nbtray::TrayOptions().Get();
  std::lock_guard<std::mutex> lock(mtxShown);
  poMarked = po;
}

void WinSysTray::UpdateIcon(int index) {
  iIcon = nbtray::IconFor(index, nbtray::TrayLink().Offline());
  ApplyTipTrafficInfo();
}

int WinSysTray::IconId() { return iIcon; }

void WinSysTray::ApplyTipTrafficInfo() {
  std::string tip = TipText();
  std::lock_guard<std::mutex> lock(mtxShown);
  sTip = tip;
}

void WinSysTray::PopupBalloon() {
  std::string text = nbtray::BalloonText(nbtray::TrayOptions().Get());
  std::lock_guard<std::mutex> lock(mtxShown);
  sBalloon = text;
}

void WinSysTray::DeleteIcon() { bTerminated = true; }

bool WinSysTray::IconAdded() { return bRunning; }

bool WinSysTray::MenuItemChecked(int id) {
  std::lock_guard<std::mutex> lock(mtxShown);
  return nbtray::IsItemChecked(id, poMarked);
}

void* WinSysTray::Window() { return nullptr; }
