// The store of pushed answers: each handed out once, for at most its time,
// within its bytes.
#include "kernel/push_store.h"

#include <gtest/gtest.h>

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

}  // namespace
