#include "app/tray_events.h"

#include "app/lifecycle.h"
#include "tray/tray.h"

namespace nbapp {

void TrayEvents::TrafficActivity() { WinSysTray::NetworkActivity(true); }

void TrayEvents::StatisticsChanged() {
  WinSysTray::UpdateMenu();
  WinSysTray::UpdateIcon(0);
}

void TrayEvents::StopRequested() { ProgramDeinit(); }

void TrayEvents::ServiceReached() { WinSysTray::SetStateIsOnLine(); }

void TrayEvents::ServiceUnreached() { WinSysTray::SetStateIsOffLine(); }

}  // namespace nbapp
