// The pool of idle service connections: its bounds, its idle time-out, and
// connections the service closed while they waited.
#include "kernel/service_pool.h"

#include <gtest/gtest.h>

#include "protocol/capabilities.h"
#include "test_support.h"

namespace {

using nbtest::MakePair;
using nbtest::SocketHolder;
using nbtest::SocketPair;

// One end of a fresh loopback connection for the pool; the far end stays
// in *far so the test decides when the "service" closes.
nbplat::OwnedSocket Connection(SocketHolder* far) {
  SocketPair p = MakePair();
  *far = std::move(p.far);
  return nbplat::OwnedSocket(p.near.release());
}

TEST(ServicePool, KeepsTheNewestWithinItsBoundsAndAge) {
  ServicePool pool(2, 1, 1000);
  SocketHolder far[4];
  nbplat::OwnedSocket a = Connection(&far[0]), b = Connection(&far[1]), c = Connection(&far[2]);
  const nbplat::Socket cs = c.get();
  pool.Give("svc", std::move(a), 100);
  pool.Give("svc", std::move(b), 200);
  pool.Give("svc", std::move(c), 300);  // the oldest (a) goes
  EXPECT_EQ(pool.Idle("svc"), 2u);
  EXPECT_EQ(pool.Take("svc", 400).get(), cs);
  // A second key beyond the bound of keys forgets the first.
  pool.Give("other", Connection(&far[3]), 400);
  EXPECT_EQ(pool.Idle("svc"), 0u);
  EXPECT_FALSE(pool.Take("svc", 400).valid());
  EXPECT_TRUE(pool.Take("other", 400).valid());
  // Idle longer than its bound (across the tick count's wrap): not handed out.
  pool.Give("other", Connection(&far[0]), 0xFFFFFF00u);
  EXPECT_FALSE(pool.Take("other", 0xFFFFFF00u + 1001).valid());
  EXPECT_EQ(pool.Idle("other"), 0u);
  // A connection opened ahead keeps its own, shorter bound.
  pool.Give("other", Connection(&far[0]), 0, 100);
  EXPECT_FALSE(pool.Take("other", 101).valid());
}

TEST(ServicePool, ConnectionTheServiceClosedIsNotHandedOut) {
  ServicePool pool(4, 4, 60000);
  SocketHolder far[2];
  nbplat::OwnedSocket live = Connection(&far[0]);
  const nbplat::Socket liveSock = live.get();
  pool.Give("svc", std::move(live), 0);
  nbplat::OwnedSocket dead = Connection(&far[1]);
  const nbplat::Socket deadSock = dead.get();
  pool.Give("svc", std::move(dead), 1);
  far[1].reset();  // the service closed the newest one while it waited
  ASSERT_GT(nbplat::WaitReadable(deadSock, nbplat::kNoSocket, 10000), 0);
  nbplat::OwnedSocket got = pool.Take("svc", 2);
  EXPECT_EQ(got.get(), liveSock);
  EXPECT_EQ(pool.Idle("svc"), 0u);
}

TEST(ServicePool, OneOpeningAheadAtATimeAndNoneWhileOneIsIdle) {
  ServicePool pool(4, 4, 60000);
  EXPECT_TRUE(pool.BeginOpen("svc"));
  EXPECT_FALSE(pool.BeginOpen("svc"));
  pool.EndOpen("svc");
  SocketHolder far;
  pool.Give("svc", Connection(&far), 0);
  EXPECT_FALSE(pool.BeginOpen("svc"));
}

TEST(ServicePool, AnswerEndOnlyBodilessFromAServiceThatKeepsConnections) {
  nbServiceHeader h;
  h.msg = NB_PACKET_END;
  h.caps = NB_CAP_KEEPALIVE;
  EXPECT_TRUE(IsAnswerEnd(h));
  h.caps = 0;  // an old service's kind 10 is an unknown kind
  EXPECT_FALSE(IsAnswerEnd(h));
  h.caps = NB_CAP_KEEPALIVE;
  h.size = 5;  // a body to read and drop: not the end
  EXPECT_FALSE(IsAnswerEnd(h));
  h.size = 0;
  h.msg = NB_PACKET_NOCOMPRESS;
  EXPECT_FALSE(IsAnswerEnd(h));
}

}  // namespace
