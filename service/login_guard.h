// Limits on guessing authentication codes. Failed tries are counted per
// login and per client address; too many within a window lock that login or
// address for a while, and every further lock lasts twice as long as the one
// before, up to a ceiling. While a login is locked its owner is refused
// too. Both tables are bounded: when one is full, the entry that would be
// forgotten soonest goes first. Safe from many threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

#include "service_limits.h"

namespace nbsvc {

struct GuardLimits {
  int maxFailures = kGuardMaxFailures;             // failures in a window that start a lock
  std::int64_t windowSec = kGuardWindowSec;        // how long failures are counted together
  std::int64_t firstLockSec = kGuardFirstLockSec;  // the first lock; each next one doubles
  std::int64_t maxLockSec = kGuardMaxLockSec;      // the longest lock
  std::int64_t forgetSec = kGuardForgetSec;        // quiet time after a lock before the
                                                   // doubling starts over
  std::size_t maxEntries = kGuardMaxEntries;       // entries per table
};

// Failed tries and locks for one kind of key (logins or addresses). Times
// are whole seconds of any clock that never goes back. Not thread-safe.
class FailureTable {
 public:
  explicit FailureTable(const GuardLimits& limits) : limits_(limits) {}

  // True while key is locked at now; *firstRefusal (may be null) tells
  // whether this is the first refusal of the current lock.
  bool Locked(std::uint32_t key, std::int64_t now, bool* firstRefusal);
  // Counts one failure; returns the length in seconds of the lock it
  // started, or 0.
  std::int64_t Fail(std::uint32_t key, std::int64_t now);
  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    int failures = 0;
    std::int64_t windowStart = 0;
    std::int64_t lockUntil = 0;
    int locks = 0;            // locks so far; the next lasts firstLockSec << locks
    bool refused = false;     // a try was refused during the current lock
    std::int64_t expiry = 0;  // when the entry no longer matters
  };
  std::int64_t ExpiryOf(const Entry& e) const;
  // Makes room for one more entry at now.
  void MakeRoom(std::int64_t now);

  const GuardLimits limits_;
  std::unordered_map<std::uint32_t, Entry> entries_;
  std::set<std::pair<std::int64_t, std::uint32_t>> byExpiry_;  // (expiry, key) of each entry
};

class LoginGuard {
 public:
  // addressFailures replaces maxFailures for addresses; 0 counts no
  // addresses (every client behind one balancer address).
  explicit LoginGuard(const GuardLimits& limits = GuardLimits(),
                      int addressFailures = kGuardMaxFailures);

  enum class Verdict { Open, LoginLocked, AddressLocked };
  // Whether a try of login from peer may be checked at all. *logIt is set
  // when this is the first refusal of the lock (log it; stay quiet after).
  Verdict Check(std::int32_t login, std::uint32_t peer, std::int64_t now, bool* logIt);
  // Locks started by one failure, in seconds (0: none).
  struct Locks {
    std::int64_t loginSec = 0;
    std::int64_t addressSec = 0;
  };
  // Counts a wrong code for an existing login (knownLogin), or a try of a
  // login that does not exist (counted for the address only).
  Locks Failed(std::int32_t login, bool knownLogin, std::uint32_t peer, std::int64_t now);

 private:
  std::mutex mu_;  // guards both tables
  FailureTable logins_;
  FailureTable addresses_;
  const bool countAddresses_;
};

// Whole seconds of the steady clock, for the guard.
std::int64_t GuardClock();

}  // namespace nbsvc
