// CONNECT tunnels: the request line and the two-way relay with half-closes
// and idle end (ports, upstream proxy and counting: end-to-end test).
#include "kernel/https_tunnel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/relay.h"
#include "kernel/tunnel_slots.h"
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

// Serves one CONNECT head with po on its own thread; the test holds the
// browser's end.
struct ConnectRun {
  ConnectRun(const std::string& head, const Program_Options& po) {
    a.request = head;
    a.ipClient = nbtest::kLoopback;
    a.sckBrowser.reset(browser.far.release());
    a.buff = buff.data();
    done = std::async(std::launch::async, [this, head, po] {
      processConnectTunnel(&a, po);
      a.sckServer.reset();
      a.sckBrowser.reset();
    });
  }
  nbtest::WorkDir work;  // the URL log and the counted bytes' options file
  nbtest::SocketPair browser = nbtest::MakePair();
  std::vector<char> buff = std::vector<char>(nb::kRequestBufferSize);
  ThreadArgs a{gClient};
  std::future<void> done;
};

TEST(HttpsTunnel, TunnelsToThisClientItselfAreRefused) {
  Program_Options po;
  po.iPort = nb::kTunnelPort;  // the proxy itself listens where tunnels go
  for (const char* host : {"127.0.0.1", "localhost", "2130706433", "0", "127.1", "127.0.0.9"}) {
    ConnectRun run(std::string("CONNECT ") + host + ":443 HTTP/1.1\r\n\r\n", po);
    EXPECT_EQ(nbtest::ReadToEnd(run.browser.near.get(), 5000).substr(0, 22),
              "HTTP/1.0 403 Forbidden")
        << host;
  }
}

// One relayed tunnel between two socket pairs: the test holds browser.near
// and server.far; the relay runs on its own thread.
struct Tunnel {
  nbtest::SocketPair browser = nbtest::MakePair();
  nbtest::SocketPair server = nbtest::MakePair();
  std::unique_ptr<TunnelSlot> slot{new TunnelSlot(browser.far.get(), server.near.get())};
  std::thread relay;
  void Start() {
    relay = std::thread([this] {
      char buff[256];
      // Idle far longer than the test runs: only the registry closes these.
      RelayBothWays(browser.far.get(), server.near.get(), buff, sizeof buff, 3600000, slot.get());
      slot.reset();
    });
  }
  ~Tunnel() {
    browser.near.reset();
    server.far.reset();
    if (relay.joinable()) relay.join();
  }
};

TEST(HttpsTunnel, TunnelsBeyondTheirShareOfWorkersCloseTheIdlest) {
  std::vector<std::unique_ptr<Tunnel>> tunnels;
  for (int i = 0; i < nb::kMaxTunnelWorkers; ++i) {
    tunnels.emplace_back(new Tunnel);
    tunnels.back()->Start();
  }
  ASSERT_EQ(OpenTunnelCount(), nb::kMaxTunnelWorkers);
  // The first tunnel is used, so the second is now the idlest.
  SendText(tunnels[0]->browser.near.get(), "x");
  EXPECT_EQ(nbtest::ReadExactly(tunnels[0]->server.far.get(), 1), "x");
  tunnels.emplace_back(new Tunnel);
  tunnels.back()->Start();
  EXPECT_EQ(nbtest::ReadToEnd(tunnels[1]->browser.near.get(), 20000), "");
  tunnels[1]->relay.join();
  EXPECT_EQ(OpenTunnelCount(), nb::kMaxTunnelWorkers);
  // Workers running short close the next idlest; the used one stays.
  EXPECT_TRUE(CloseIdlestTunnel());
  EXPECT_EQ(nbtest::ReadToEnd(tunnels[2]->browser.near.get(), 20000), "");
  SendText(tunnels[0]->browser.near.get(), "y");
  EXPECT_EQ(nbtest::ReadExactly(tunnels[0]->server.far.get(), 1), "y");
  tunnels.clear();
  EXPECT_EQ(OpenTunnelCount(), 0);
  EXPECT_FALSE(CloseIdlestTunnel());
}

TEST(HttpsTunnel, BrowserThatStopsReadingFreesTheWorker) {
  const int savedTimeout = gClient.iSendTimeoutMs.exchange(300);
  nbtest::Listener proxyListener;
  Program_Options po;
  po.sProxyName = "127.0.0.1";
  po.sProxyPort = std::to_string(proxyListener.port());
  // The upstream proxy opens the tunnel, and the site floods the browser.
  std::thread proxy([&] {
    nbtest::SocketHolder c(proxyListener.Accept());
    nbtest::ReadUntil(c.get(), "\r\n\r\n", 10000);
    SendText(c.get(), "HTTP/1.0 200 Connection established\r\n\r\n");
    const std::string block(1 << 20, 'z');
    for (int i = 0; i < 64 && nbplat::SendAll(c.get(), block.data(), block.size()).ok(); ++i) {
    }
  });
  ConnectRun run("CONNECT site.example:443 HTTP/1.1\r\n\r\n", po);
  EXPECT_EQ(run.done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  run.browser.near.reset();  // lets a tunnel still sending end
  run.done.wait();
  proxy.join();
  gClient.iSendTimeoutMs.store(savedTimeout);
}

}  // namespace
