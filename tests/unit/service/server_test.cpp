// The accept loop's protections: a share of slots per client address, a
// deadline for the request header, and a connection whose thread cannot
// start.
#include "server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "service_test_util.h"

namespace {

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.listenIpNet = nbtest::Loopback();
    config_.port = 0;
    config_.clientIdleMs = 5000;
    ASSERT_TRUE(log_.Open(dir_.File("service.log"), &err_)) << err_;
    server_.reset(new nbsvc::Server(config_, log_));
    ASSERT_TRUE(server_->Listen(&err_)) << err_;
  }
  void Start() {
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    server_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  // A connection to the service from 127.0.0.<from>.
  nbplat::OwnedSocket From(int from) {
    nbplat::OwnedSocket s(nbplat::TcpSocket());
    EXPECT_TRUE(nbplat::BindIPv4(s.get(), 0, nbtest::Loopback(from)));
    EXPECT_TRUE(nbplat::ConnectIPv4(s.get(), nbtest::Loopback(), server_->BoundPort(), 5000));
    return s;
  }
  // What one receive sees within waitMs: TimedOut while the service holds
  // the connection open, Closed or Failed once it has let it go.
  static nbplat::IoStatus Wait(const nbplat::OwnedSocket& s, int waitMs) {
    char c;
    return nbplat::RecvSome(s.get(), &c, 1, waitMs).status;
  }

  nbtest::TempDir dir_;
  nbsvc::ServiceConfig config_;
  nbsvc::ServiceLog log_;
  std::unique_ptr<nbsvc::Server> server_;
  std::thread thread_;
  std::string err_;
};

TEST_F(ServerFixture, OneAddressGetsOnlyItsShareOfSlots) {
  config_.maxPerAddress = 2;
  Start();
  nbplat::OwnedSocket a = From(1), b = From(1);
  EXPECT_EQ(Wait(a, 300), nbplat::IoStatus::TimedOut);
  EXPECT_EQ(Wait(b, 300), nbplat::IoStatus::TimedOut);
  nbplat::OwnedSocket third = From(1);
  EXPECT_NE(Wait(third, 3000), nbplat::IoStatus::TimedOut);
  nbplat::OwnedSocket other = From(2);  // another client is still served
  EXPECT_EQ(Wait(other, 300), nbplat::IoStatus::TimedOut);
}

TEST_F(ServerFixture, TricklingHeaderMeetsTheDeadline) {
  config_.headerDeadlineMs = 400;
  Start();
  nbplat::OwnedSocket s = From(1);
  // One byte every 100 ms never trips the 5 s idle time-out.
  for (int i = 0; i < 27; ++i) {
    if (!nbplat::SendAll(s.get(), "x", 1).ok()) break;
    nbplat::SleepMs(100);
  }
  EXPECT_NE(Wait(s, 1000), nbplat::IoStatus::TimedOut);
}

TEST_F(ServerFixture, ThreadThatCannotStartGivesItsSlotBack) {
  config_.maxConnections = 1;
  std::atomic<int> calls{0};
  server_->SetThreadStarter([&calls](std::function<void()> fn) {
    if (calls++ == 0)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(fn));
  });
  Start();
  nbplat::OwnedSocket first = From(1);
  EXPECT_NE(Wait(first, 3000), nbplat::IoStatus::TimedOut);  // closed, not left open
  // The only slot is free again: an oversized header is read and refused.
  nbplat::OwnedSocket second = From(1);
  unsigned char junk[kClientHeaderSize];
  std::fill(std::begin(junk), std::end(junk), 0xff);
  ASSERT_TRUE(nbplat::SendAll(second.get(), junk, sizeof junk).ok());
  EXPECT_NE(Wait(second, 3000), nbplat::IoStatus::TimedOut);
  EXPECT_EQ(calls.load(), 2);
}

}  // namespace
