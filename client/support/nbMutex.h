// Re-entrant lock: the holder may take it again. Each object is a lock of its
// own, shared with no other object however close together they were made.
// Use it only where a holder really re-enters; no lock of the client does
// today (options, counters and the options file each take a plain
// std::mutex), so every lock takes a plain std::mutex.
#pragma once

#include <string>

#include "platform/platform.h"

class nbMutex {
 public:
  nbMutex();
  ~nbMutex();
  nbMutex(const nbMutex&) = delete;
  nbMutex& operator=(const nbMutex&) = delete;
  // Waits without time-out; the holder may take it again. Always true.
  bool Lock();
  // Releases once; always true (a release the platform refused is traced).
  bool Unlock();
  // The label traces show for this lock ("NBMUTEX<tick count>"); it does not
  // identify the lock: two objects with one label are still two locks.
  const std::string& Name() const { return m_sName; }

 private:
  std::string m_sName;
  nbplat::NamedMutex m_mutex;
};

// Holds an nbMutex for the lifetime of the guard.
class nbLockGuard {
 public:
  explicit nbLockGuard(nbMutex& m) : m_(m) { m_.Lock(); }
  ~nbLockGuard() { m_.Unlock(); }
  nbLockGuard(const nbLockGuard&) = delete;
  nbLockGuard& operator=(const nbLockGuard&) = delete;

 private:
  nbMutex& m_;
};

// Builds the trace label of a lock from a tick count ("NBMUTEX" + _gcvt form
// with 9 significant digits: "NBMUTEX123." for 123).
std::string nbMutexName(std::uint32_t tick);
