// CONNECT tunnels: the request line and the two-way relay with half-closes
// and idle end (ports, upstream proxy and counting: end-to-end test).
#include "kernel/https_tunnel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using nbtest::SendText;

TEST(HttpsTunnel, ConnectTargetIsParsedAndMalformedLinesRefused) {
  std::string host;
  int port = 0;
  ASSERT_TRUE(
      ParseConnectTarget("CONNECT www.example.org:443 HTTP/1.1\r\nHost: x\r\n\r\n", host, port));
  EXPECT_EQ(host, "www.example.org");
  EXPECT_EQ(port, 443);
  for (const char* bad :
       {"CONNECT www.example.org HTTP/1.1\r\n", "CONNECT :443 HTTP/1.1\r\n",
        "CONNECT a.org:0 HTTP/1.1\r\n", "CONNECT a.org:65536 HTTP/1.1\r\n",
        "CONNECT a.org:44x HTTP/1.1\r\n", "CONNECT u@a.org:443 HTTP/1.1\r\n",
        "CONNECT a.org:443\r\n", "GET a.org:443 HTTP/1.1\r\n", "CONNECT [::1]:443 HTTP/1.1\r\n"}) {
    EXPECT_FALSE(ParseConnectTarget(bad, host, port)) << bad;
  }
}

TEST(HttpsTunnel, RelayPassesHalfClosesOnAndCountsBothDirections) {
  nbtest::SocketPair browser = nbtest::MakePair();
  nbtest::SocketPair server = nbtest::MakePair();
  std::vector<char> buff(64);
  long long moved = -1;
  std::thread relay([&] {
    moved = RelayBothWays(browser.far.get(), server.near.get(), buff.data(),
                          static_cast<int>(buff.size()), 5000);
  });
  const std::string big(1000, 'x');  // many times the scratch buffer
  SendText(browser.near.get(), "hello" + big);
  EXPECT_EQ(nbtest::ReadExactly(server.far.get(), 1005), "hello" + big);
  SendText(server.far.get(), "world");
  nbplat::ShutdownSend(server.far.get());
  // The server's end reaches the browser, whose own direction stays open.
  EXPECT_EQ(nbtest::ReadToEnd(browser.near.get(), 5000), "world");
  SendText(browser.near.get(), "more");
  EXPECT_EQ(nbtest::ReadExactly(server.far.get(), 4), "more");
  browser.near.reset();
  relay.join();
  EXPECT_EQ(moved, 1005 + 5 + 4);
}

TEST(HttpsTunnel, SilentTunnelEndsAfterTheIdleTime) {
  nbtest::SocketPair browser = nbtest::MakePair();
  nbtest::SocketPair server = nbtest::MakePair();
  char buff[16];
  EXPECT_EQ(RelayBothWays(browser.far.get(), server.near.get(), buff, sizeof buff, 100), 0);
}

}  // namespace
