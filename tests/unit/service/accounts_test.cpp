// Account store: changes, charges under concurrency, money arithmetic.
#include "accounts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "account_pool.h"
#include "service_test_util.h"

namespace {

using nbsvc::Account;
using nbsvc::AccountsDb;
using nbsvc::LookupResult;

TEST(Accounts, CreateChangeAndLookUp) {
  nbtest::TempDir dir;
  std::string err;
  auto db = AccountsDb::Open(dir.File("a.db"), &err);
  ASSERT_TRUE(db) << err;
  Account a;
  EXPECT_EQ(db->Lookup(5, &a), LookupResult::Missing);
  ASSERT_TRUE(db->Upsert(5, true, "0123456789abcdef0123456789abcdef", true, 1050, 0));
  ASSERT_EQ(db->Lookup(5, &a), LookupResult::Found);
  EXPECT_EQ(a.digest, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(a.money, 1050);
  // Adding money keeps the digest; setting the digest keeps the money.
  ASSERT_TRUE(db->Upsert(5, false, "", false, 0, -75));
  ASSERT_TRUE(db->Upsert(5, true, "", false, 0, 0));
  ASSERT_EQ(db->Lookup(5, &a), LookupResult::Found);
  EXPECT_EQ(a.money, 975);
  EXPECT_EQ(a.digest, "");
  // A second connection sees the same data.
  auto db2 = AccountsDb::Open(dir.File("a.db"), &err);
  ASSERT_TRUE(db2);
  ASSERT_EQ(db2->Lookup(5, &a), LookupResult::Found);
  EXPECT_EQ(a.money, 975);
}

TEST(Accounts, ChargeReturnsBalanceAndRefusesMissingAccount) {
  nbtest::TempDir dir;
  std::string err;
  auto db = AccountsDb::Open(dir.File("a.db"), &err);
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->Upsert(7, false, "", true, 100, 0));
  std::int64_t balance = 0;
  ASSERT_TRUE(db->Charge(7, 30, &balance));
  EXPECT_EQ(balance, 70);
  ASSERT_TRUE(db->Charge(7, 100, &balance));  // may go below zero once
  EXPECT_EQ(balance, -30);
  ASSERT_TRUE(db->Charge(7, -50, &balance));  // refund
  EXPECT_EQ(balance, 20);
  EXPECT_FALSE(db->Charge(8, 10, &balance));
  Account a;
  EXPECT_EQ(db->Lookup(8, &a), LookupResult::Missing);
}

TEST(Accounts, ConcurrentChargesAreNeitherLostNorDoubled) {
  nbtest::TempDir dir;
  std::string err;
  const std::string path = dir.File("a.db");
  {
    auto db = AccountsDb::Open(path, &err);
    ASSERT_TRUE(db) << err;
    ASSERT_TRUE(db->Upsert(1, false, "", true, 1000000, 0));
    ASSERT_TRUE(db->Upsert(2, false, "", true, 500, 0));
  }
  const int kThreads = 8, kCharges = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string e;
      auto db = AccountsDb::Open(path, &e);
      if (!db) {
        failures += kCharges;
        return;
      }
      std::int64_t prev = INT64_MAX;
      for (int i = 0; i < kCharges; ++i) {
        std::int64_t balance;
        // Account 1 gets odd amounts, account 2 is charged and refunded.
        if (!db->Charge(1, 1 + (t + i) % 7, &balance))
          failures++;
        else if (balance >= prev)
          failures++;  // each charge sees a lower balance
        else
          prev = balance;
        if (!db->Charge(2, 3, &balance) || !db->Charge(2, -3, &balance)) failures++;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  std::int64_t expected = 1000000;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCharges; ++i) expected -= 1 + (t + i) % 7;
  }
  auto db = AccountsDb::Open(path, &err);
  ASSERT_TRUE(db);
  Account a;
  ASSERT_EQ(db->Lookup(1, &a), LookupResult::Found);
  EXPECT_EQ(a.money, expected);
  ASSERT_EQ(db->Lookup(2, &a), LookupResult::Found);
  EXPECT_EQ(a.money, 500);
}

TEST(Accounts, UnopenableDatabaseReportsAnError) {
  nbtest::TempDir dir;
  std::string err;
  EXPECT_FALSE(AccountsDb::Open(dir.File("missing-folder/a.db"), &err));
  EXPECT_FALSE(err.empty());
  {
    std::ofstream junk(dir.File("junk.db"), std::ios::binary);
    junk << std::string(4096, 'J');
  }
  err.clear();
  EXPECT_FALSE(AccountsDb::Open(dir.File("junk.db"), &err));
  EXPECT_FALSE(err.empty());
}

TEST(AccountPool, NeverOpensMoreThanItsBoundAndWaitsBoundedForOne) {
  nbtest::TempDir dir;
  nbsvc::AccountPool pool(dir.File("a.db"), 2, 50);
  std::string err;
  {
    nbsvc::AccountPool::Lease a = pool.Acquire(&err), b = pool.Acquire(&err);
    ASSERT_TRUE(a && b) << err;
    nbsvc::AccountPool::Lease c = pool.Acquire(&err);  // none comes free
    EXPECT_FALSE(c);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(pool.OpenCount(), 2u);
    // Per-statement calls fail as database errors while all are taken.
    nbsvc::PooledAccounts calls(pool);
    Account acc;
    EXPECT_EQ(calls.Lookup(1, &acc), LookupResult::Error);
  }
  // A waiter gets the connection another thread gives back.
  nbsvc::AccountPool patient(dir.File("a.db"), 1, 60000);
  nbsvc::AccountPool::Lease held = patient.Acquire(&err);
  ASSERT_TRUE(held);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    std::string e;
    got = static_cast<bool>(patient.Acquire(&e));
  });
  held = nbsvc::AccountPool::Lease(&patient, nullptr);
  waiter.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(patient.OpenCount(), 1u);
}

TEST(Money, ParseAmounts) {
  std::int64_t c;
  ASSERT_TRUE(nbsvc::ParseMoney("12", &c));
  EXPECT_EQ(c, 1200);
  ASSERT_TRUE(nbsvc::ParseMoney("12.5", &c));
  EXPECT_EQ(c, 1250);
  ASSERT_TRUE(nbsvc::ParseMoney("-0.25", &c));
  EXPECT_EQ(c, -25);
  ASSERT_TRUE(nbsvc::ParseMoney(".07", &c));
  EXPECT_EQ(c, 7);
  for (const char* bad : {"", "-", "1.234", "1,5", "12a", "1e5", "."}) {
    EXPECT_FALSE(nbsvc::ParseMoney(bad, &c)) << bad;
  }
}

TEST(Money, CostRoundsToNearestHundredth) {
  const std::uint64_t mib = 1024 * 1024;
  EXPECT_EQ(nbsvc::CostOfBytes(mib, 100), 100);
  EXPECT_EQ(nbsvc::CostOfBytes(10 * mib, 7), 70);
  // Half a hundredth at 1.00 per MiB is 5242.88 bytes.
  EXPECT_EQ(nbsvc::CostOfBytes(5243, 100), 1);
  EXPECT_EQ(nbsvc::CostOfBytes(5242, 100), 0);
  EXPECT_EQ(nbsvc::CostOfBytes(12345, 0), 0);
  EXPECT_EQ(nbsvc::CostOfBytes(0, 100), 0);
}

TEST(Money, HeaderFieldIsClamped) {
  EXPECT_EQ(nbsvc::MoneyForHeader(123), 123);
  EXPECT_EQ(nbsvc::MoneyForHeader(-5), -5);
  EXPECT_EQ(nbsvc::MoneyForHeader(INT64_C(5000000000)), INT32_MAX);
  EXPECT_EQ(nbsvc::MoneyForHeader(INT64_C(-5000000000)), INT32_MIN);
}

}  // namespace
