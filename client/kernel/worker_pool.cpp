#include "kernel/worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "kernel/dispatcher.h"

namespace {

std::mutex mtxPool;
std::condition_variable cvWork;
std::deque<ThreadArgs*> pending;  // connections handed to waiting threads
int iIdle = 0;                    // waiting threads not yet given a connection

// Serves connections for the life of the process.
void WorkerLoop(ThreadArgs* first) {
  processRequest(first);
  for (;;) {
    ThreadArgs* next = nullptr;
    {
      std::unique_lock<std::mutex> lock(mtxPool);
      ++iIdle;
      cvWork.wait(lock, [] { return !pending.empty(); });
      next = pending.front();
      pending.pop_front();
    }
    processRequest(next);
  }
}

}  // namespace

bool DispatchToWorker(ThreadArgs* args) {
  {
    std::lock_guard<std::mutex> lock(mtxPool);
    if (iIdle > 0) {
      --iIdle;
      pending.push_back(args);
      cvWork.notify_one();
      return true;
    }
  }
  try {
    std::thread(WorkerLoop, args).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}
