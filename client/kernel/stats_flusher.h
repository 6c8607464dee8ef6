// Writes the traffic counters to the options file on a timer, so counting a
// packet never waits for a file write.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "kernel/options.h"

class StatsFlusher {
 public:
  StatsFlusher() = default;
  // Stops the timer (see Stop).
  ~StatsFlusher();
  StatsFlusher(const StatsFlusher&) = delete;
  StatsFlusher& operator=(const StatsFlusher&) = delete;

  // Starts a thread that saves store every periodMs when its counters
  // changed. store must outlive the flusher. False when the thread could not
  // be made or the flusher already runs.
  bool Start(OptionsStore& store, int periodMs);
  // Ends the thread and saves what changed since its last pass. No-op when
  // not started.
  void Stop();

 private:
  void Run(OptionsStore& store, int periodMs);

  std::mutex mtx_;              // guards stop_
  std::condition_variable cv_;  // wakes the thread for Stop
  bool stop_ = false;
  std::thread thread_;
};
