// What the kernel tells the parts above it (tray, console, program wiring).
// The kernel knows only this interface; the program installs the listener
// that forwards each event to the tray and to the start-and-stop code.
#pragma once

namespace nbkernel {

class KernelEvents {
 public:
  virtual ~KernelEvents() = default;
  // Traffic passed through the service road (the tray animates its icon).
  virtual void TrafficActivity() = 0;
  // The counters or the user's options changed (the tray redraws its menu
  // and tip).
  virtual void StatisticsChanged() = 0;
  // The user asked the program to end (tray menu or console page); the
  // listener may end the process and not return.
  virtual void StopRequested() = 0;
  // The service answers again after it could not be reached.
  virtual void ServiceReached() = 0;
  // The service cannot be reached any more.
  virtual void ServiceUnreached() = 0;
};

// Installs the listener; nullptr restores the one that ignores every event.
// The listener must outlive every thread that may raise an event. Set once
// at start, before any thread that raises events runs.
void SetEvents(KernelEvents* events);
// The listener installed (one that ignores every event before SetEvents).
KernelEvents& Events();

}  // namespace nbkernel
