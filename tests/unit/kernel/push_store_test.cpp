// The store of pushed answers: each handed out once, for at most its time,
// within its bytes.
#include "kernel/push_store.h"

#include <gtest/gtest.h>

#include <thread>

#include "kernel/held_urls.h"
#include "protocol/push.h"

namespace {

TEST(PushStore, HandsOutEachAnswerOnceWithinItsTime) {
  PushStore store(1000, 30000);
  store.Put("http://a/s.css", "css", 100);
  store.Put("http://a/j.js", "js", 100);
  std::string got;
  EXPECT_FALSE(store.Take("http://a/other.css", 200, &got));
  ASSERT_TRUE(store.Take("http://a/s.css", 200, &got));
  EXPECT_EQ(got, "css");
  EXPECT_FALSE(store.Take("http://a/s.css", 300, &got));  // used once
  // Past 30 s it is gone, and its bytes with it; ages survive the tick wrap.
  EXPECT_FALSE(store.Take("http://a/j.js", 100 + 30001, &got));
  EXPECT_EQ(store.Bytes(), 0u);
  store.Put("http://a/w.js", "w", 0xfffffff0u);
  EXPECT_TRUE(store.Take("http://a/w.js", 20000, &got));
}

TEST(PushStore, StaysWithinItsBytesDroppingTheOldest) {
  PushStore store(10, 30000);
  store.Put("http://a/1", "aaaa", 1);
  store.Put("http://a/2", "bbbb", 2);
  store.Put("http://a/3", "cccc", 3);                  // 12 bytes: the oldest goes
  store.Put("http://a/big", std::string(11, 'x'), 4);  // never fits
  EXPECT_EQ(store.Bytes(), 8u);
  std::string got;
  EXPECT_FALSE(store.Take("http://a/1", 5, &got));
  EXPECT_FALSE(store.Take("http://a/big", 5, &got));
  store.Put("http://a/3", "dd", 6);  // a newer push replaces the older one
  EXPECT_EQ(store.Bytes(), 6u);
  ASSERT_TRUE(store.Take("http://a/3", 7, &got));
  EXPECT_EQ(got, "dd");
}

// A request for a promised URL waits for its push, or for its exchange to
// end; an URL not promised is not waited for. The bound is far beyond the
// test's own time: a wait that is not released fails the test.
TEST(PushStore, PromisedUrlIsWaitedForUntilPushedOrItsExchangeEnds) {
  PushStore store(1000, 30000);
  auto now = [] { return std::uint32_t{10}; };
  std::string got;
  store.Promise("http://a/s.css", 7);
  store.Promise("http://a/j.js", 7);
  std::thread pusher([&] { store.Put("http://a/s.css", "css", 5, 7); });
  const bool pushed = store.TakeWaiting("http://a/s.css", 600000, now, &got);
  pusher.join();
  EXPECT_TRUE(pushed);
  EXPECT_EQ(got, "css");
  std::thread ender([&] { store.EndExchange(7); });
  EXPECT_FALSE(store.TakeWaiting("http://a/j.js", 600000, now, &got));
  ender.join();
  EXPECT_FALSE(store.Promised("http://a/j.js"));
  // Not coming: the promise of one exchange is withdrawn, another's stays.
  store.Promise("http://a/i.png", 8);
  store.Promise("http://a/i.png", 9);
  store.Withdraw("http://a/i.png", 8);
  EXPECT_TRUE(store.Promised("http://a/i.png"));
  EXPECT_FALSE(store.TakeWaiting("http://a/none", 600000, now, &got));
}

TEST(HeldUrls, NamesTheNewestKeptOnTheSameHostWithinTheirTime) {
  HeldUrls held(3, 1000);
  held.Note("http://a/1", 0);
  held.Note("http://b/2", 10);
  held.Note("http://a/3", 20);
  held.Note("http://a/1", 30, true);  // revalidated: held, now the newest
  EXPECT_EQ(held.HashesOnHost("http://a/page", 40, 5),
            (std::vector<std::string>{UrlHash("http://a/1"), UrlHash("http://a/3")}));
  held.Note("http://a/4", 50);  // the fourth drops the oldest (b/2)
  EXPECT_TRUE(held.HashesOnHost("http://b/", 60, 5).empty());
  EXPECT_EQ(held.HashesOnHost("http://a/", 60, 1),
            (std::vector<std::string>{UrlHash("http://a/4")}));
  EXPECT_EQ(held.HashesOnHost("http://a/", 1031, 5).size(), 1u);  // a/3 and a/1 too old
  // Asked for again without a condition: the browser does not keep it.
  held.Note("http://a/4", 1040);
  held.Note("http://a/4", 1050, true);
  EXPECT_TRUE(held.HashesOnHost("http://a/", 1060, 5).empty());
}

}  // namespace
