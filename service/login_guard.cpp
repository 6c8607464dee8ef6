// Limits on guessing authentication codes.
#include "login_guard.h"

#include <algorithm>
#include <chrono>

namespace nbsvc {

std::int64_t FailureTable::ExpiryOf(const Entry& e) const {
  std::int64_t t = e.failures > 0 ? e.windowStart + limits_.windowSec : 0;
  if (e.locks > 0) t = std::max(t, e.lockUntil + limits_.forgetSec);
  return t;
}

void FailureTable::MakeRoom(std::int64_t now) {
  while (!byExpiry_.empty() && byExpiry_.begin()->first <= now) {
    entries_.erase(byExpiry_.begin()->second);
    byExpiry_.erase(byExpiry_.begin());
  }
  while (!byExpiry_.empty() && entries_.size() >= limits_.maxEntries) {
    entries_.erase(byExpiry_.begin()->second);
    byExpiry_.erase(byExpiry_.begin());
  }
}

bool FailureTable::Locked(std::uint32_t key, std::int64_t now, bool* firstRefusal) {
  auto it = entries_.find(key);
  if (it == entries_.end() || now >= it->second.lockUntil) return false;
  if (firstRefusal) *firstRefusal = !it->second.refused;
  it->second.refused = true;
  return true;
}

std::int64_t FailureTable::Fail(std::uint32_t key, std::int64_t now) {
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    MakeRoom(now);
    if (limits_.maxEntries == 0) return 0;
    it = entries_.emplace(key, Entry()).first;
  } else {
    byExpiry_.erase({it->second.expiry, key});
  }
  Entry& e = it->second;
  std::int64_t lockSec = 0;
  if (e.locks > 0 && now >= e.lockUntil + limits_.forgetSec) e.locks = 0;
  if (e.failures == 0 || now >= e.windowStart + limits_.windowSec) {
    e.failures = 0;
    e.windowStart = now;
  }
  if (++e.failures >= limits_.maxFailures) {
    int shift = std::min(e.locks, 30);
    lockSec = std::min(limits_.firstLockSec << shift, limits_.maxLockSec);
    e.lockUntil = now + lockSec;
    e.locks = std::min(e.locks + 1, 31);
    e.refused = false;
    e.failures = 0;
  }
  e.expiry = ExpiryOf(e);
  byExpiry_.insert({e.expiry, key});
  return lockSec;
}

LoginGuard::LoginGuard(const GuardLimits& limits, int addressFailures)
    : logins_(limits),
      addresses_([&] {
        GuardLimits a = limits;
        a.maxFailures = addressFailures;
        return a;
      }()),
      countAddresses_(addressFailures > 0) {}

LoginGuard::Verdict LoginGuard::Check(std::int32_t login, std::uint32_t peer, std::int64_t now,
                                      bool* logIt) {
  std::lock_guard<std::mutex> lock(mu_);
  *logIt = false;
  if (logins_.Locked(static_cast<std::uint32_t>(login), now, logIt)) return Verdict::LoginLocked;
  if (countAddresses_ && addresses_.Locked(peer, now, logIt)) return Verdict::AddressLocked;
  return Verdict::Open;
}

LoginGuard::Locks LoginGuard::Failed(std::int32_t login, bool knownLogin, std::uint32_t peer,
                                     std::int64_t now) {
  std::lock_guard<std::mutex> lock(mu_);
  Locks started;
  if (knownLogin) started.loginSec = logins_.Fail(static_cast<std::uint32_t>(login), now);
  if (countAddresses_) started.addressSec = addresses_.Fail(peer, now);
  return started;
}

std::int64_t GuardClock() {
  using namespace std::chrono;
  return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace nbsvc
