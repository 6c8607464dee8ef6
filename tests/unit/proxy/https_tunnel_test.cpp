// CONNECT tunnels: the request line, the two-way relay with half-closes and
// idle end, the port rule and the tunnelled-bytes count.
#include "kernel/https_tunnel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel/limits.h"
#include "loopback.h"

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

// Serves a CONNECT for `request` from a browser on 127.0.0.1 and returns
// what the browser received until the tunnel ended.
std::string Serve(const std::string& request, const std::string& afterAnswer = "") {
  nbtest::SocketPair browser = nbtest::MakePair();
  std::vector<char> buff(nb::kRequestBufferSize);
  std::memcpy(buff.data(), request.data(), request.size());
  ThreadArgs a;
  a.sckBrowser = browser.far.get();
  a.ipClient = nbtest::kLoopback;
  a.buff = buff.data();
  std::thread worker([&] {
    processConnectTunnel(&a, GetProgramOptions(), static_cast<int>(request.size()));
    nbplat::CloseSocket(a.sckServer);
    browser.far.reset();
  });
  std::string got = nbtest::ReadUntil(browser.near.get(), "\r\n\r\n", 5000);
  SendText(browser.near.get(), afterAnswer);
  nbplat::ShutdownSend(browser.near.get());
  got += nbtest::ReadToEnd(browser.near.get(), 5000);
  worker.join();
  return got;
}

TEST(HttpsTunnel, OnlyPort443IsTunnelledAndItsBytesAreCounted) {
  EXPECT_EQ(Serve("CONNECT 127.0.0.1:25 HTTP/1.1\r\n\r\n").compare(0, 22, "HTTP/1.0 403 Forbidden"),
            0);
  EXPECT_EQ(Serve("CONNECT bad HTTP/1.1\r\n\r\n").compare(0, 24, "HTTP/1.0 400 Bad Request"), 0);

  // Through an upstream proxy that opens the tunnel and answers "pong" once
  // the browser has ended its side.
  nbtest::Listener proxy;
  std::string seen;
  std::thread peer([&] {
    nbtest::SocketHolder conn(proxy.Accept());
    seen = nbtest::ReadUntil(conn.get(), "\r\n\r\n", 5000);
    SendText(conn.get(), "HTTP/1.1 200 Connection established\r\n\r\n");
    seen += "|" + nbtest::ReadToEnd(conn.get(), 5000);
    SendText(conn.get(), "pong");
  });
  Program_Options po = GetProgramOptions();
  const double before = po.dTunnelTraffic;
  po.sProxyName = "127.0.0.1";
  po.sProxyPort = std::to_string(proxy.port());
  SetProgramOptions(po);
  const std::string got = Serve("CONNECT www.example.org:443 HTTP/1.1\r\n\r\nearly", "late");
  peer.join();
  EXPECT_EQ(GetProgramOptions().dTunnelTraffic, before + 13);
  po.sProxyName.clear();
  SetProgramOptions(po);
  EXPECT_EQ(got, "HTTP/1.0 200 Connection established\r\n\r\npong");
  EXPECT_EQ(seen.rfind("CONNECT www.example.org:443 HTTP/1.0\r\n", 0), 0u) << seen;
  EXPECT_NE(seen.find("|earlylate"), std::string::npos) << seen;
}

}  // namespace
