// The timer that flushes the traffic counters.
#include "kernel/stats_flusher.h"

#include <chrono>
#include <system_error>

StatsFlusher::~StatsFlusher() { Stop(); }

bool StatsFlusher::Start(OptionsStore& store, int periodMs) {
  if (thread_.joinable()) return false;
  {
    std::lock_guard<std::mutex> lock(mtx_);
    stop_ = false;
  }
  try {
    thread_ = std::thread([this, &store, periodMs] { Run(store, periodMs); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void StatsFlusher::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mtx_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void StatsFlusher::Run(OptionsStore& store, int periodMs) {
  std::unique_lock<std::mutex> lock(mtx_);
  for (;;) {
    const bool stopping =
        cv_.wait_for(lock, std::chrono::milliseconds(periodMs), [this] { return stop_; });
    lock.unlock();
    store.SaveIfChanged();
    if (stopping) return;
    lock.lock();
  }
}
