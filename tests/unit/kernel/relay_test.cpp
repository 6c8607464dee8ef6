// The direct relay against scripted sites and upstream proxies on loopback:
// what the browser receives, in how many checked blocks, and what the site or
// proxy receives.
#include "kernel/relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/http_head.h"
#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/thread_args.h"
#include "kernel/tunnel.h"
#include "support/debug.h"
#include "support/nbString.h"
#include "test_support.h"

namespace {

using nbtest::SocketHolder;

std::mutex gTraceMutex;
std::vector<std::string> gTrace;

void CollectTrace(const std::string& line) {
  std::lock_guard<std::mutex> lock(gTraceMutex);
  gTrace.push_back(line);
}

int CountTrace(const std::string& line) {
  std::lock_guard<std::mutex> lock(gTraceMutex);
  int n = 0;
  for (const std::string& l : gTrace) n += l == line ? 1 : 0;
  return n;
}

std::string Answer(const std::string& body, bool withLength = true) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
  if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

// A body that makes the whole answer (head included) `total` bytes long.
std::string AnswerOfTotal(std::size_t total) {
  std::string probe = Answer("");
  // "Content-Length: 0" becomes a six-digit length for the sizes used here.
  const std::size_t head = probe.size() - 1 + 6;
  return Answer(std::string(total - head, 'a'));
}

// One scripted peer on 127.0.0.1 serving a single connection on its thread.
class Peer {
 public:
  using Script = std::function<void(nbplat::Socket, Peer&)>;
  explicit Peer(Script script) {
    thread_ = std::thread([this, script] {
      SocketHolder conn(listener_.Accept());
      if (conn.get() != nbplat::kNoSocket) script(conn.get(), *this);
    });
  }
  ~Peer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t port() const { return listener_.port(); }
  std::string received;  // written by the script, read after Join()
  std::atomic<bool> release{false};

 private:
  nbtest::Listener listener_;
  std::thread thread_;
};

// Reads a request head and the body its Content-Length announces.
std::string ReadRequest(nbplat::Socket s) {
  std::string req = nbtest::ReadUntil(s, "\r\n\r\n", 10000);
  const std::size_t head = req.find("\r\n\r\n");
  if (head == std::string::npos) return req;
  std::size_t want = head + 4;
  if (const auto sLen = GetParameterFromHttpHeader(req.substr(0, want), "Content-Length")) {
    want += static_cast<std::size_t>(std::stoul(*sLen));
  }
  char buf[65536];
  while (req.size() < want) {
    const nbplat::IoResult r = nbplat::RecvSome(s, buf, sizeof buf, 10000);
    if (!r.ok()) break;
    req.append(buf, r.bytes);
  }
  return req;
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramOptions(Program_Options());
    {
      std::lock_guard<std::mutex> lock(gTraceMutex);
      gTrace.clear();
    }
    SetTraceSink(CollectTrace);
  }
  void TearDown() override {
    SetTraceSink(nullptr);
    SetProgramOptions(Program_Options());
  }

  // What the browser does while the relay runs.
  enum class Browser { Reads, HangsUp, StopsReading };

  // Runs the relay for `request` (of which only the first `inBuffer` bytes
  // are in the connection buffer; the browser sends the rest itself) towards
  // ipHost:port, and returns everything the browser received; end_ tells how
  // that stream ended, freed_ whether a browser that stopped reading let the
  // relay end within 20 s.
  std::string Relay(const std::string& request, std::uint32_t ipHost, std::uint16_t port,
                    std::size_t inBuffer = std::string::npos,
                    Browser browserDoes = Browser::Reads) {
    if (inBuffer > request.size()) inBuffer = request.size();
    nbtest::SocketPair browser = nbtest::MakePair();
    std::vector<char> buff(nb::kRequestBufferSize);
    ThreadArgs a(gClient);
    a.request = request.substr(0, inBuffer);
    a.sckBrowser.reset(browser.far.release());
    a.ipHost = ipHost;
    a.iHostPort = port;
    a.buff = buff.data();
    a.iRequestSize = getRequestSize(a.request);
    nbtest::SendText(browser.near.get(), request.substr(inBuffer));
    auto worker = std::async(std::launch::async, [&] {
      processRequestDirect(&a);
      a.sckServer.reset();
      a.sckBrowser.reset();
    });
    if (browserDoes == Browser::HangsUp) {
      // Only once the site holds what came: an abort that overtook the
      // site's accept would leave it no connection at all under Wine.
      for (int i = 0; i < 3000 && !siteHasIt_; ++i) nbplat::SleepMs(10);
      nbplat::ShutdownSocket(browser.near.get());
    }
    std::string got;
    if (browserDoes == Browser::StopsReading) {
      freed_ = worker.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
      browser.near.reset();  // lets a relay still sending end
    } else {
      got = nbtest::ReadToEnd(browser.near.get(), 20000, &end_);
    }
    worker.wait();
    return got;
  }
  bool freed_ = false;
  nbplat::IoStatus end_ = nbplat::IoStatus::Ok;
  std::atomic<bool> siteHasIt_{false};  // set by a site script; see HangsUp
};

const std::string kGet = "GET /page HTTP/1.1\r\nHost: site\r\nConnection: Close\r\n\r\n";

TEST_F(RelayTest, LargeAnswerPassesInThreeCheckedBlocks) {
  const std::string answer = AnswerOfTotal(450000);
  ASSERT_EQ(answer.size(), 450000u);
  Peer site([&](nbplat::Socket s, Peer& p) {
    p.received = ReadRequest(s);
    for (std::size_t at = 0; at < answer.size(); at += 30000) {
      nbtest::SendText(s, answer.substr(at, 30000));
    }
  });
  const std::string got = Relay(kGet, nbtest::kLoopback, site.port());
  site.Join();
  EXPECT_EQ(site.received, kGet);
  EXPECT_EQ(got.size(), answer.size());
  EXPECT_TRUE(got == answer);
  EXPECT_EQ(CountTrace("send from site to browser OK"), 3);
}

TEST_F(RelayTest, ForbiddenWordInALaterBlockEndsWithAReset) {
  SetProgramOptions([] {
    Program_Options po;
    po.vsBlockingContent = {"forbiddenword"};
    return po;
  }());
  // The word stands across the seam of the first two blocks.
  std::string answer = AnswerOfTotal(450000);
  answer.replace(nb::kMaxPacketSize - 6, 13, "forbiddenword");
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, answer);
  });
  // The first block went out; the reset may overtake some of it.
  const std::string got = Relay(kGet, nbtest::kLoopback, site.port());
  EXPECT_LE(got.size(), static_cast<std::size_t>(nb::kMaxPacketSize));
  EXPECT_TRUE(answer.compare(0, got.size(), got) == 0);
  EXPECT_EQ(end_, nbtest::AbortAsSeen());
}

TEST_F(RelayTest, AnswerWithoutTypeOrLengthRunsToTheSitesClose) {
  const std::string head = "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\n\r\n";
  const std::string body(300000, 'r');
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, head + "abc");
    nbplat::SleepMs(20);
    nbtest::SendText(s, body);
  });
  EXPECT_TRUE(Relay(kGet, nbtest::kLoopback, site.port()) == head + "abc" + body);
  EXPECT_EQ(end_, nbplat::IoStatus::Closed);

  // A 304 never has a body, whatever length its head gives.
  const std::string notModified = "HTTP/1.1 304 Not Modified\r\nContent-Length: 500\r\n\r\n";
  Peer cache([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, notModified);
    nbplat::SleepMs(100);
  });
  EXPECT_EQ(Relay(kGet, nbtest::kLoopback, cache.port()), notModified);
  EXPECT_EQ(end_, nbplat::IoStatus::Closed);
}

TEST_F(RelayTest, CutAnswersEndWithAReset) {
  // The site resets in the middle of an answer without a length.
  const std::string part = Answer(std::string(1000, 'c'), false);
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, part);
    nbplat::SleepMs(50);
    nbplat::SetResetOnClose(s);
  });
  EXPECT_EQ(Relay(kGet, nbtest::kLoopback, site.port()), part);
  EXPECT_EQ(end_, nbtest::AbortAsSeen());
}

TEST_F(RelayTest, BrowserGoneMidPostNeverLooksLikeAWholeBody) {
  const std::string head = "POST /f HTTP/1.1\r\nHost: site\r\nContent-Length: 1000\r\n\r\n";
  const std::string sent = head + std::string(600, 'b');  // 400 bytes never come
  nbplat::IoStatus siteSaw = nbplat::IoStatus::Ok;
  Peer site([&](nbplat::Socket s, Peer& p) {
    // Generous bounds: under load the relay may start late, and only what
    // arrives matters here, not when.
    p.received = nbtest::ReadExactly(s, sent.size(), 30000);
    siteHasIt_ = true;
    char c;
    siteSaw = nbplat::RecvSome(s, &c, 1, 30000).status;
  });
  Relay(sent, nbtest::kLoopback, site.port(), head.size() + 400, Browser::HangsUp);
  site.Join();
  EXPECT_EQ(site.received, sent);
  EXPECT_EQ(siteSaw, nbtest::AbortAsSeen()) << "the site must see an abort";
}

TEST_F(RelayTest, BrowserThatStopsReadingFreesTheWorker) {
  gClient.iSendTimeoutMs.store(300);
  const std::string answer = Answer(std::string(16u << 20, 'w'));
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, answer);
  });
  Relay(kGet, nbtest::kLoopback, site.port(), std::string::npos, Browser::StopsReading);
  gClient.iSendTimeoutMs.store(nb::kSendTimeoutMs);
  EXPECT_TRUE(freed_);
}

TEST_F(RelayTest, AnnouncedBodyWithoutContentTypeArrivesWhole) {
  const std::string body(50000, 'q');
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 50000\r\n\r\n" + body;
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, answer.substr(0, 100));
    nbplat::SleepMs(20);
    nbtest::SendText(s, answer.substr(100));
  });
  EXPECT_TRUE(Relay(kGet, nbtest::kLoopback, site.port()) == answer);
}

TEST_F(RelayTest, AnswerWithoutLengthIsRelayedUntilTheSiteCloses) {
  const std::string answer = Answer(std::string(300000, 'z'), false);
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    for (std::size_t at = 0; at < answer.size(); at += 7000) {
      nbtest::SendText(s, answer.substr(at, 7000));
    }
  });
  const std::string got = Relay(kGet, nbtest::kLoopback, site.port());
  EXPECT_TRUE(got == answer) << got.size();
}

TEST_F(RelayTest, MoreBytesThanAnnouncedArePassedOn) {
  const std::string answer =
      "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nabcdef";
  Peer site([&](nbplat::Socket s, Peer&) {
    ReadRequest(s);
    nbtest::SendText(s, answer);
  });
  EXPECT_EQ(Relay(kGet, nbtest::kLoopback, site.port()), answer);
}

TEST_F(RelayTest, PostBodyBeyondTheFirstReadReachesTheSite) {
  for (std::size_t bodySize : {std::size_t{10}, std::size_t{450000}}) {
    std::string body(bodySize, 'p');
    body[bodySize - 1] = 'Z';
    const std::string head =
        "POST /form HTTP/1.1\r\nHost: site\r\nContent-Type: text/plain\r\n"
        "Content-Length: " +
        std::to_string(bodySize) + "\r\n\r\n";
    const std::string request = head + body;
    Peer site([&](nbplat::Socket s, Peer& p) {
      p.received = ReadRequest(s);
      nbtest::SendText(s, Answer("ok"));
    });
    // The buffer holds the head and part of the body; the last bytes (for
    // the short body its final four) come from the browser afterwards.
    const std::size_t inBuffer = bodySize > 200000 ? 200000 : head.size() + bodySize - 4;
    const std::string got = Relay(request, nbtest::kLoopback, site.port(), inBuffer);
    site.Join();
    EXPECT_EQ(got, Answer("ok"));
    EXPECT_EQ(site.received.size(), request.size());
    EXPECT_TRUE(site.received == request);
  }
}

TEST_F(RelayTest, UpstreamProxyTunnelCarriesCredentialsAndTheRequest) {
  struct Case {
    std::string login, password, credentials;
  };
  for (const Case& c : {Case{"", "", "Og=="}, Case{"user", "pass", "dXNlcjpwYXNz"}}) {
    std::string tunnelRequest;
    Peer proxy([&](nbplat::Socket s, Peer& p) {
      p.received = nbtest::ReadUntil(s, "\r\n\r\n", 10000);
      // The answer's head in two pieces: its end is no part of the site's answer.
      nbtest::SendText(s, "HTTP/1.0 200 Connection established\r\n");
      nbplat::SleepMs(20);
      nbtest::SendText(s, "\r\n");
      tunnelRequest = ReadRequest(s);
      nbtest::SendText(s, Answer("through"));
    });
    Program_Options po = GetProgramOptions();
    po.sProxyName = "127.0.0.1";
    po.sProxyPort = IntToStr(proxy.port());
    po.sProxyLogin = c.login;
    po.sProxyPassword = c.password;
    SetProgramOptions(po);
    // 10.1.2.3:8080 is never contacted: only the proxy is.
    const std::uint32_t ip = 10u | (1u << 8) | (2u << 16) | (3u << 24);
    const std::string got = Relay(kGet, ip, 8080);
    proxy.Join();
    EXPECT_EQ(proxy.received,
              "CONNECT 10.1.2.3:8080 HTTP/1.0\r\nUser-Agent: Mozilla/4.08 [en] (WinNT; U)\r\n"
              "Authorization: Basic " +
                  c.credentials + "\r\nProxy-Authorization: Basic " + c.credentials + "\r\n\r\n");
    EXPECT_EQ(tunnelRequest, kGet);
    EXPECT_EQ(got, Answer("through"));
  }
}

TEST(UpstreamProxyPort, OutOfRangeIsRefusedNotWrapped) {
  EXPECT_EQ(ProxyPortOf("8080"), 8080);
  EXPECT_EQ(ProxyPortOf("65535"), 65535);
  for (const char* bad : {"65536", "70000", "4294967376", "0", "-1", "", "x"}) {
    EXPECT_EQ(ProxyPortOf(bad), 0) << bad;
  }
}

TEST_F(RelayTest, ProxyRefusalReachesTheBrowserUnchanged) {
  const std::string page(5000, 'd');
  const std::string refusal =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\n"
      "Content-Type: text/html\r\nContent-Length: " +
      std::to_string(page.size()) + "\r\n\r\n";
  Peer proxy([&](nbplat::Socket s, Peer& p) {
    nbtest::ReadUntil(s, "\r\n\r\n", 10000);
    // Head and page in two sends: the whole refusal must still arrive.
    nbtest::SendText(s, refusal);
    nbplat::SleepMs(50);
    nbtest::SendText(s, page);
    // Anything more would be the browser's request leaking past a refusal.
    char buf[256];
    const nbplat::IoResult r = nbplat::RecvSome(s, buf, sizeof buf, 10000);
    p.received.assign(buf, r.ok() ? r.bytes : 0);
  });
  Program_Options po = GetProgramOptions();
  po.sProxyName = "127.0.0.1";
  po.sProxyPort = IntToStr(proxy.port());
  SetProgramOptions(po);
  const std::string got = Relay(kGet, nbtest::kLoopback, 80);
  proxy.Join();
  EXPECT_EQ(got, refusal + page);
  EXPECT_EQ(proxy.received, "");
}

TEST_F(RelayTest, UnreachableSiteOrProxyGivesNoAnswer) {
  std::uint16_t port = 0;
  {
    nbtest::Listener gone;
    port = gone.port();
  }  // the port is free again: connecting to it is refused
  EXPECT_EQ(Relay(kGet, nbtest::kLoopback, port), "");
  Program_Options po = GetProgramOptions();
  po.sProxyName = "127.0.0.1";
  po.sProxyPort = IntToStr(port);
  SetProgramOptions(po);
  EXPECT_EQ(Relay(kGet, nbtest::kLoopback, 80), "");
}

}  // namespace
