// Tray operations that are the same on every platform.
#include "kernel/options.h"
#include "tray/tray.h"
#include "tray/tray_logic.h"

void WinSysTray::NetworkActivity(bool b) { nbtray::TrayAnimation().Request(b); }

bool WinSysTray::ActivityPending() { return nbtray::TrayAnimation().Pending(); }

std::string WinSysTray::TipText() {
  return nbtray::TipText(nbtray::TrayOptions().Get(), nbtray::TrayLink().Offline());
}

void WinSysTray::SetStateIsOnLine() { nbtray::TrayLink().Set(false); }

void WinSysTray::SetStateIsOffLine() { nbtray::TrayLink().Set(true); }
