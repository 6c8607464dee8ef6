// The program's listener for kernel events: forwards each to the tray and
// to the start-and-stop code.
#pragma once

#include "kernel/events.h"

namespace nbapp {

class TrayEvents final : public nbkernel::KernelEvents {
 public:
  void TrafficActivity() override;
  void StatisticsChanged() override;
  // Ends the process (ProgramDeinit); never returns.
  void StopRequested() override;
  void ServiceReached() override;
  void ServiceUnreached() override;
};

}  // namespace nbapp
