#include "kernel/events.h"

#include <atomic>

namespace nbkernel {
namespace {

class IgnoreEvents final : public KernelEvents {
 public:
  void TrafficActivity() override {}
  void StatisticsChanged() override {}
  void StopRequested() override {}
  void ServiceReached() override {}
  void ServiceUnreached() override {}
};

IgnoreEvents gIgnore;
std::atomic<KernelEvents*> gEvents{&gIgnore};

}  // namespace

void SetEvents(KernelEvents* events) { gEvents = events != nullptr ? events : &gIgnore; }

KernelEvents& Events() { return *gEvents.load(); }

}  // namespace nbkernel
