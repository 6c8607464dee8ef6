#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/nbSocket.h"

namespace {

std::uint32_t Loopback() {
  const unsigned char bytes[4] = {127, 0, 0, 1};
  std::uint32_t ip;
  std::memcpy(&ip, bytes, sizeof ip);  // network byte order
  return ip;
}

// A port that was free a moment ago on the loopback interface.
std::uint16_t FreePort() {
  nbplat::Socket s = nbplat::TcpSocket();
  EXPECT_NE(s, nbplat::kNoSocket);
  EXPECT_TRUE(nbplat::BindIPv4(s, 0, Loopback()));
  std::uint16_t port = nbplat::LocalPort(s);
  nbplat::CloseSocket(s);
  return port;
}

// Owns a raw platform socket for the test's lifetime.
struct RawSocket {
  nbplat::Socket s = nbplat::TcpSocket();
  ~RawSocket() { nbplat::CloseSocket(s); }
};

// A listening socket and one accepted connection to it over loopback.
struct RawPair {
  RawSocket listener, client;
  nbplat::Socket server = nbplat::kNoSocket;
  RawPair() {
    nbplat::NetStartup();
    EXPECT_TRUE(nbplat::BindIPv4(listener.s, 0, Loopback()));
    EXPECT_TRUE(nbplat::ListenOn(listener.s, 4));
    EXPECT_TRUE(nbplat::ConnectIPv4(client.s, Loopback(), nbplat::LocalPort(listener.s), 5000));
    std::uint32_t peer = 0;
    server = nbplat::AcceptConnection(listener.s, &peer);
    EXPECT_EQ(peer, Loopback());
  }
  ~RawPair() { nbplat::CloseSocket(server); }
};

}  // namespace

TEST(PlatformSocket, ReceiveDistinguishesDataTimeOutAndClose) {
  RawPair p;
  ASSERT_NE(p.server, nbplat::kNoSocket);
  char buf[16];
  nbplat::IoResult r = nbplat::RecvSome(p.server, buf, sizeof buf, 50);
  EXPECT_EQ(r.status, nbplat::IoStatus::TimedOut);
  EXPECT_EQ(r.bytes, 0u);

  ASSERT_TRUE(nbplat::SendAll(p.client.s, "hello", 5).ok());
  r = nbplat::RecvSome(p.server, buf, sizeof buf, 5000);
  ASSERT_EQ(r.status, nbplat::IoStatus::Ok);
  EXPECT_EQ(std::string(buf, r.bytes), "hello");

  nbplat::ShutdownSocket(p.client.s);
  r = nbplat::RecvSome(p.server, buf, sizeof buf, 5000);
  EXPECT_EQ(r.status, nbplat::IoStatus::Closed);
  r = nbplat::RecvSome(p.server, buf, sizeof buf);  // without a time-out too
  EXPECT_EQ(r.status, nbplat::IoStatus::Closed);
}

TEST(PlatformSocket, WritingToAClosedPeerFailsWithoutEndingTheProcess) {
  RawPair p;
  nbplat::CloseSocket(p.client.s);
  p.client.s = nbplat::kNoSocket;
  std::string block(65536, 'x');
  nbplat::IoStatus last = nbplat::IoStatus::Ok;
  for (int i = 0; i < 200 && last == nbplat::IoStatus::Ok; ++i)
    last = nbplat::SendAll(p.server, block.data(), block.size()).status;
  EXPECT_NE(last, nbplat::IoStatus::Ok);
  EXPECT_NE(last, nbplat::IoStatus::TimedOut);
}

TEST(PlatformSocket, ConnectToClosedPortFailsAndNoSocketIsRejected) {
  std::uint16_t port = FreePort();
  RawSocket a, b;
  EXPECT_FALSE(nbplat::ConnectIPv4(a.s, Loopback(), port, 2000));
  EXPECT_FALSE(nbplat::ConnectIPv4(b.s, Loopback(), port));
  char c;
  EXPECT_EQ(nbplat::RecvSome(nbplat::kNoSocket, &c, 1).status, nbplat::IoStatus::Failed);
  EXPECT_EQ(nbplat::SendAll(nbplat::kNoSocket, "x", 1).status, nbplat::IoStatus::Failed);
}

TEST(PlatformResolve, NumericAddressesAndBadNames) {
  std::uint32_t ip = 0;
  ASSERT_TRUE(nbplat::ResolveIPv4("127.0.0.1", &ip));
  EXPECT_EQ(ip, Loopback());
  EXPECT_FALSE(nbplat::ResolveIPv4("", &ip));
  EXPECT_FALSE(nbplat::ResolveIPv4(std::string("127.0.0.1\0evil", 14), &ip));
}

TEST(PlatformProcess, ProgramPathAndFolder) {
  std::string path = nbplat::ProgramPath();
  std::string folder = nbplat::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  ASSERT_GT(path.size(), folder.size() + 1);
  EXPECT_EQ(path.compare(0, folder.size(), folder), 0);
  EXPECT_EQ(path[folder.size()], nbplat::PathSeparator());
  EXPECT_NE(path.find("unit_support"), std::string::npos);
}

TEST(nbSocketListen, PortRangeIsOneTo65534AndNoSocketOperationsFail) {
  nbSocket s;
  EXPECT_FALSE(s.Listen(0));
  EXPECT_FALSE(s.Listen(65535));
  EXPECT_FALSE(s.Listen(-1));
  EXPECT_FALSE(s.Listen(70000));
  EXPECT_FALSE(s.HasSocket());
  nbSocket client;
  EXPECT_FALSE(s.Accept(client));  // nothing to accept on
  EXPECT_FALSE(client.HasSocket());
  EXPECT_FALSE(s.Close());
  std::string text = "kept";
  EXPECT_FALSE(s.Send("x"));
  EXPECT_FALSE(s.Recv(text, 10));
  EXPECT_EQ(text, "kept");
}

// A listening nbSocket, a raw browser connected to it and the accepted end.
class nbSocketConversation : public ::testing::Test {
 protected:
  void SetUp() override {
    port = FreePort();
    ASSERT_TRUE(listener.Listen(port));
    ASSERT_TRUE(nbplat::ConnectIPv4(browser.s, Loopback(), port, 5000));
    ASSERT_TRUE(listener.Accept(conn));
  }
  std::uint16_t port = 0;
  nbSocket listener;
  RawSocket browser;
  nbSocket conn;
};

TEST_F(nbSocketConversation, SendRecvAndPeerClose) {
  EXPECT_EQ(conn.ip(), Loopback());

  EXPECT_TRUE(conn.Send(""));
  EXPECT_TRUE(conn.Send(std::string("a\0b", 3)));
  char buf[8];
  nbplat::IoResult r = nbplat::RecvSome(browser.s, buf, sizeof buf, 5000);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::string(buf, r.bytes), std::string("a\0b", 3));

  ASSERT_TRUE(nbplat::SendAll(browser.s, "GET / HTTP/1.0", 14).ok());
  std::string got;
  ASSERT_TRUE(conn.Recv(got, 4));  // at most iLength bytes per call
  EXPECT_EQ(got, "GET ");
  ASSERT_TRUE(conn.Recv(got, 4096));
  EXPECT_EQ(got, "/ HTTP/1.0");

  nbplat::ShutdownSocket(browser.s);
  got = "not cleared";
  EXPECT_FALSE(conn.Recv(got, 4096));
  EXPECT_TRUE(got.empty());

  EXPECT_TRUE(conn.Close());
  EXPECT_FALSE(conn.Close());
  EXPECT_TRUE(listener.Close());
}

TEST_F(nbSocketConversation, CloseShutsTheConnectionDown) {
  ASSERT_TRUE(conn.Close());
  char c;
  EXPECT_EQ(nbplat::RecvSome(browser.s, &c, 1, 5000).status, nbplat::IoStatus::Closed);
  // The port can be listened on again right after the listener closes.
  ASSERT_TRUE(listener.Close());
  nbSocket again;
  EXPECT_TRUE(again.Listen(port));
  EXPECT_TRUE(again.Close());
}

namespace {

// The console's socket traces through the trace channel, which is silent by
// default: nothing reaches the console window.
TEST(nbSocketTrace, AcceptAndReceiveWriteNothingToTheConsole) {
  const std::uint16_t port = FreePort();
  nbSocket listener, conn;
  RawSocket browser;
  ASSERT_TRUE(listener.Listen(port) && nbplat::ConnectIPv4(browser.s, Loopback(), port, 5000));
  ::testing::internal::CaptureStdout();
  nbSocket second;
  EXPECT_FALSE(second.Listen(port));  // taken
  listener.Accept(conn);
  nbplat::ShutdownSocket(browser.s);
  std::string got;
  conn.Recv(got, 16);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
