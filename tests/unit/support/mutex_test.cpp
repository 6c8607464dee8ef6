#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/debug.h"
#include "support/nbMutex.h"

namespace {

// Lets a second thread try to take a lock while the first one releases it
// step by step. `held` counts the first thread's remaining holds; the second
// thread records what it saw at the moment it got the lock, which must be 0.
template <typename Lockable>
int HoldsSeenByWaiter(Lockable& first, Lockable& second) {
  std::atomic<int> held{0};
  std::atomic<bool> waiterStarted{false};
  std::atomic<int> seen{-1};
  first.Lock();
  first.Lock();  // re-entrant: must not block
  held = 2;
  std::thread waiter([&] {
    waiterStarted = true;
    second.Lock();
    seen = held.load();
    second.Unlock();
  });
  while (!waiterStarted) std::this_thread::yield();
  // Pauses give a faulty lock the chance to let the waiter in too early.
  nbplat::SleepMs(30);
  held = 1;
  first.Unlock();
  nbplat::SleepMs(30);
  held = 0;
  first.Unlock();
  waiter.join();
  return seen.load();
}

std::mutex g_traceMutex;
std::vector<std::string> g_trace;
void CollectTrace(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_traceMutex);
  g_trace.push_back(line);
}

}  // namespace

TEST(nbMutex, HolderRelocksAndOtherThreadWaitsForBothUnlocks) {
  nbMutex m;
  EXPECT_EQ(HoldsSeenByWaiter(m, m), 0);
}

TEST(NamedMutex, SameNameSharesOneLock) {
  nbplat::NamedMutex a("test-shared-lock");
  nbplat::NamedMutex b("test-shared-lock");
  EXPECT_EQ(HoldsSeenByWaiter(a, b), 0);
}

TEST(NamedMutex, DifferentNamesDoNotBlockEachOther) {
  nbplat::NamedMutex a("test-lock-one");
  nbplat::NamedMutex b("test-lock-two");
  EXPECT_NE(a.Handle(), b.Handle());
  a.Lock();
  std::thread other([&] {
    b.Lock();  // would hang if the two shared a lock
    EXPECT_TRUE(b.Unlock());
  });
  other.join();
  EXPECT_TRUE(a.Unlock());
}

TEST(NamedMutex, UnlockIsRefusedForThreadsThatDoNotHoldIt) {
  nbplat::NamedMutex m("test-unlock-refusal");
  EXPECT_FALSE(m.Unlock());  // free
  m.Lock();
  bool otherUnlocked = true;
  std::thread other([&] { otherUnlocked = m.Unlock(); });
  other.join();
  EXPECT_FALSE(otherUnlocked);
  EXPECT_TRUE(m.Unlock());
  EXPECT_FALSE(m.Unlock());  // released as often as taken
}

TEST(NamedMutex, LockSurvivesOneOfItsNamesGoingAway) {
  auto first = std::make_unique<nbplat::NamedMutex>("test-refcount");
  nbplat::NamedMutex second("test-refcount");
  first->Lock();
  EXPECT_TRUE(first->Unlock());
  first.reset();
  second.Lock();
  EXPECT_TRUE(second.Unlock());
  nbplat::NamedMutex third("test-refcount");
  // Handles differ between objects on Windows; sharing shows in the blocking.
  EXPECT_EQ(HoldsSeenByWaiter(second, third), 0);
}

TEST(nbMutex, UnlockAlwaysTrueButTracesRefusedRelease) {
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_trace.clear();
  }
  SetTraceSink(CollectTrace);
  {
    nbMutex m;
    EXPECT_TRUE(m.Unlock());  // nobody holds it
    EXPECT_TRUE(m.Lock());
    EXPECT_TRUE(m.Unlock());
  }  // the destructor releases once more, on a free lock
  SetTraceSink(nullptr);
  std::vector<std::string> releases;
  {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (std::size_t i = 0; i + 1 < g_trace.size(); ++i)
      if (g_trace[i] == "release mutex ok=") releases.push_back(g_trace[i + 1]);
  }
  EXPECT_EQ(releases, (std::vector<std::string>{"0", "1", "0"}));
}

TEST(nbMutex, NameIsTickInGcvtForm) {
  EXPECT_EQ(nbMutexName(0), "NBMUTEX0.");
  EXPECT_EQ(nbMutexName(123), "NBMUTEX123.");
  EXPECT_EQ(nbMutexName(999999999u), "NBMUTEX999999999.");
  EXPECT_EQ(nbMutexName(1000000000u), "NBMUTEX1.e+009");
  EXPECT_EQ(nbMutexName(1234567891u), "NBMUTEX1.23456789e+009");
  EXPECT_EQ(nbMutexName(4294967295u), "NBMUTEX4.2949673e+009");
  nbMutex m;
  EXPECT_EQ(m.Name().rfind("NBMUTEX", 0), 0u);
}

TEST(nbMutex, LocksMadeInTheSameMillisecondAreTwoLocks) {
  // The options lock and the socket-set lock used to be made one after the
  // other and so almost always share one tick count, hence one name.
  std::unique_ptr<nbMutex> a, b;
  for (int i = 0; i < 1000; ++i) {
    a = std::make_unique<nbMutex>();
    b = std::make_unique<nbMutex>();
    if (a->Name() == b->Name()) break;
  }
  ASSERT_EQ(a->Name(), b->Name()) << "no two locks made within one tick";
  a->Lock();
  std::promise<void> took;
  std::thread other([&] {
    b->Lock();  // blocks until a is released when the two are one lock
    took.set_value();
    b->Unlock();
  });
  const bool independent =
      took.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  a->Unlock();
  other.join();
  EXPECT_TRUE(independent);
}
