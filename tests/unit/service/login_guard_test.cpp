// Limits on guessing codes, on an injected clock.
#include "login_guard.h"

#include <gtest/gtest.h>

namespace {

using nbsvc::LoginGuard;
using Verdict = nbsvc::LoginGuard::Verdict;

constexpr std::uint32_t kAddrA = 0x0100000A, kAddrB = 0x0200000A;

Verdict CheckAt(LoginGuard& g, std::int32_t login, std::uint32_t peer, std::int64_t now) {
  bool logIt;
  return g.Check(login, peer, now, &logIt);
}

// Fails login from peer n times at now; returns the last lock started.
LoginGuard::Locks FailTimes(LoginGuard& g, int n, std::int32_t login, std::uint32_t peer,
                            std::int64_t now) {
  LoginGuard::Locks last;
  for (int i = 0; i < n; ++i) last = g.Failed(login, true, peer, now);
  return last;
}

TEST(LoginGuard, LocksGrowDoubleUpToTheCeilingAndStartOverAfterAQuietDay) {
  LoginGuard g(nbsvc::GuardLimits(), 0);  // logins only
  std::int64_t t = 1000;
  EXPECT_EQ(FailTimes(g, 9, 7, kAddrA, t).loginSec, 0);
  EXPECT_EQ(CheckAt(g, 7, kAddrA, t), Verdict::Open);
  EXPECT_EQ(g.Failed(7, true, kAddrA, t).loginSec, 60);
  // Locked for everybody, the owner with the right code included.
  EXPECT_EQ(CheckAt(g, 7, kAddrB, t + 59), Verdict::LoginLocked);
  EXPECT_EQ(CheckAt(g, 8, kAddrA, t + 59), Verdict::Open);
  EXPECT_EQ(CheckAt(g, 7, kAddrA, t + 60), Verdict::Open);
  std::int64_t expected[] = {120, 240, 480, 960, 1920, 3600, 3600};
  for (std::int64_t want : expected) {
    t += 4000;
    EXPECT_EQ(FailTimes(g, 10, 7, kAddrA, t).loginSec, want);
  }
  t += 3600 + 86400;
  EXPECT_EQ(FailTimes(g, 10, 7, kAddrA, t).loginSec, 60);
}

TEST(LoginGuard, OnlyFailuresWithinTheWindowCount) {
  LoginGuard g(nbsvc::GuardLimits(), 0);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(g.Failed(7, true, kAddrA, i * 70).loginSec, 0);
  EXPECT_EQ(CheckAt(g, 7, kAddrA, 30 * 70), Verdict::Open);
}

TEST(LoginGuard, AddressesAreLockedAcrossLoginsUnlessTurnedOff) {
  LoginGuard g;
  LoginGuard::Locks last;
  for (int login = 1; login <= 10; ++login) last = g.Failed(login, false, kAddrA, 5);
  EXPECT_EQ(last.addressSec, 60);
  EXPECT_EQ(last.loginSec, 0);  // unknown logins are not counted per login
  EXPECT_EQ(CheckAt(g, 99, kAddrA, 6), Verdict::AddressLocked);
  EXPECT_EQ(CheckAt(g, 99, kAddrB, 6), Verdict::Open);

  LoginGuard behindBalancer(nbsvc::GuardLimits(), 0);
  for (int login = 1; login <= 50; ++login) behindBalancer.Failed(login, false, kAddrA, 5);
  EXPECT_EQ(CheckAt(behindBalancer, 99, kAddrA, 6), Verdict::Open);
}

TEST(LoginGuard, OnlyTheFirstRefusalOfALockIsToBeLogged) {
  LoginGuard g;
  FailTimes(g, 10, 7, kAddrA, 0);
  bool logIt = false;
  EXPECT_EQ(g.Check(7, kAddrB, 1, &logIt), Verdict::LoginLocked);
  EXPECT_TRUE(logIt);
  EXPECT_EQ(g.Check(7, kAddrB, 2, &logIt), Verdict::LoginLocked);
  EXPECT_FALSE(logIt);
  FailTimes(g, 10, 7, kAddrB, 100);  // the next lock is logged again
  EXPECT_EQ(g.Check(7, kAddrB, 101, &logIt), Verdict::LoginLocked);
  EXPECT_TRUE(logIt);
}

TEST(FailureTable, StaysBoundedAndKeepsTheLocksThatMatterLongest) {
  nbsvc::GuardLimits limits;
  limits.maxEntries = 64;
  nbsvc::FailureTable table(limits);
  for (int i = 0; i < 10; ++i) table.Fail(7, 0);
  ASSERT_TRUE(table.Locked(7, 1, nullptr));
  // A flood of single failures from ever new keys.
  for (std::uint32_t k = 100; k < 100100; ++k) table.Fail(k, 1 + k / 1000);
  EXPECT_LE(table.Size(), 64u);
  EXPECT_TRUE(table.Locked(7, 59, nullptr));
  // Entries whose time has passed are dropped when room is needed.
  table.Fail(5, 200000);
  EXPECT_LE(table.Size(), 2u);
}

}  // namespace
