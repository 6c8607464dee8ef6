// The owning socket: exactly one owner closes the handle, at the right time.
#include "platform/owned_socket.h"

#include <gtest/gtest.h>

#include <utility>

#include "test_support.h"

namespace {

// How the far end sees its peer after a short wait: Closed once the near
// end is closed, TimedOut while it is still open.
nbplat::IoStatus PeerState(const nbtest::SocketPair& p) {
  char c;
  return nbplat::RecvSome(p.far.get(), &c, 1, 200).status;
}

TEST(OwnedSocket, MoveHandsOwnershipOnAndTheLastOwnerCloses) {
  nbtest::SocketPair p = nbtest::MakePair();
  const nbplat::Socket handle = p.near.get();
  {
    nbplat::OwnedSocket moved(std::move(p.near));
    EXPECT_FALSE(p.near.valid());
    EXPECT_EQ(moved.get(), handle);
    nbplat::OwnedSocket assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved.valid());
    EXPECT_EQ(PeerState(p), nbplat::IoStatus::TimedOut);
  }
  EXPECT_EQ(PeerState(p), nbplat::IoStatus::Closed);
}

TEST(OwnedSocket, ResetClosesTheOldHandleAndReleaseKeepsItOpen) {
  nbtest::SocketPair p = nbtest::MakePair();
  p.near.reset();
  EXPECT_EQ(PeerState(p), nbplat::IoStatus::Closed);

  nbtest::SocketPair q = nbtest::MakePair();
  const nbplat::Socket raw = q.near.release();
  EXPECT_FALSE(q.near.valid());
  EXPECT_EQ(PeerState(q), nbplat::IoStatus::TimedOut);
  ASSERT_TRUE(nbtest::SendText(raw, "x"));
  EXPECT_EQ(nbtest::ReadExactly(q.far.get(), 1), "x");
  nbplat::CloseSocket(raw);
}

}  // namespace
