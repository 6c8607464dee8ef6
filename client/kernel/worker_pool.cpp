#include "kernel/worker_pool.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "kernel/dispatcher.h"

namespace {

std::mutex mtxPool;  // guards pending and iIdle
std::condition_variable cvWork;
std::deque<std::unique_ptr<ThreadArgs>> pending;  // connections handed to waiting threads
int iIdle = 0;                                    // waiting threads not yet given a connection

// Serves connections for the life of the process.
void WorkerLoop(std::unique_ptr<ThreadArgs> first) {
  processRequest(std::move(first));
  for (;;) {
    std::unique_ptr<ThreadArgs> next;
    {
      std::unique_lock<std::mutex> lock(mtxPool);
      ++iIdle;
      cvWork.wait(lock, [] { return !pending.empty(); });
      next = std::move(pending.front());
      pending.pop_front();
    }
    processRequest(std::move(next));
  }
}

}  // namespace

bool DispatchToWorker(std::unique_ptr<ThreadArgs>& args) {
  {
    std::lock_guard<std::mutex> lock(mtxPool);
    if (iIdle > 0) {
      --iIdle;
      pending.push_back(std::move(args));
      cvWork.notify_one();
      return true;
    }
  }
  // Held apart from the thread's own copy of its function, so a thread that
  // cannot be made leaves the connection to give back.
  auto holder = std::make_shared<std::unique_ptr<ThreadArgs>>(std::move(args));
  try {
    std::thread([holder] { WorkerLoop(std::move(*holder)); }).detach();
  } catch (const std::system_error&) {
    args = std::move(*holder);
    return false;
  }
  return true;
}
