// The worker as a whole on one loopback connection: what the browser gets
// for refused, locally answered and relayed requests, and that the worker
// slot is always given back.
#include "kernel/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "http/http_text.h"
#include "kernel/context.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/service_link.h"
#include "kernel/thread_args.h"
#include "test_support.h"

namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Program_Options po;
    po.iSettingsPort = 3344;
    po.bCompressOff = true;
    SetProgramOptions(po);
  }
  void TearDown() override { SetProgramOptions(Program_Options()); }

  // Sends `request` as a browser at ipClient, runs the worker on it and
  // returns everything the browser received before the worker closed.
  static std::string Serve(const std::string& request, std::uint32_t ipClient = nbtest::kLoopback) {
    nbtest::SocketPair pair = nbtest::MakePair();
    // A short request is all there before the worker reads; a long one
    // follows while it reads.
    const std::size_t first = std::min<std::size_t>(request.size(), 16384);
    nbtest::SendText(pair.near.get(), request.substr(0, first));
    std::thread browser([&] { nbtest::SendText(pair.near.get(), request.substr(first)); });
    auto args = std::make_unique<ThreadArgs>(gClient);
    args->sckBrowser.reset(pair.far.release());
    args->ipClient = ipClient;
    const int before = gClient.proxy.iAmountThread.load();
    ++gClient.proxy.iAmountThread;  // the acceptor counts the slot before the worker starts
    std::thread worker(processRequest, std::move(args));
    std::string got = nbtest::ReadToEnd(pair.near.get());
    worker.join();
    browser.join();
    EXPECT_EQ(gClient.proxy.iAmountThread.load(), before);
    return got;
  }
};

constexpr char kOk[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";

// A site on ip serving one connection: answers the first head with `answer`
// and keeps all it receives until the worker closes. Finish() returns that
// ("" when nobody came) once the worker has ended.
class OneShotSite {
 public:
  OneShotSite(std::uint32_t ip, std::string answer) : ip_(ip), sock_(ip) {
    port = sock_.port();
    hostPort = IpIntToStr(ip) + ":" + std::to_string(port);
    thread_ = std::thread([this, answer] {
      nbtest::SocketHolder conn(sock_.Accept());
      received_ = nbtest::ReadUntil(conn.get(), "\r\n\r\n", 5000);
      nbtest::SendText(conn.get(), answer);
      received_ += nbtest::ReadToEnd(conn.get(), 5000);
    });
  }
  std::string Finish() {
    nbtest::SocketHolder wake(nbplat::TcpSocket());  // ends a wait for nobody
    nbplat::ConnectIPv4(wake.get(), ip_, port, 5000);
    wake.reset();
    thread_.join();
    return received_;
  }
  std::uint16_t port = 0;
  std::string hostPort;

 private:
  const std::uint32_t ip_;
  nbtest::Listener sock_;
  std::thread thread_;
  std::string received_;
};

std::string Get(const std::string& url, const std::string& host, const std::string& extra = "") {
  return "GET " + url + " HTTP/1.1\r\nHost: " + host + "\r\nProxy-Connection: keep-alive\r\n" +
         extra + "\r\n";
}

TEST_F(DispatcherTest, CorrectedRequestTooLargeForTheBufferIsRefused) {
  // The "/http:" form puts the real host into every Host line: 200 short
  // lines grow by a 1000-character host each, far beyond the buffer.
  const std::string host(1000, 'h');
  std::string req = "GET /http://" + host + "/p HTTP/1.1\r\n";
  for (int i = 0; i < 200; ++i) req += "Host:a\r\n";
  req += "\r\n";
  ASSERT_LT(req.size(), 5000u);
  EXPECT_EQ(Serve(req), "");
}

TEST_F(DispatcherTest, ConditionalImageRequestIsAnsweredFromTheCache) {
  // Nothing listens at 127.0.0.1:9: only the worker itself can answer.
  EXPECT_EQ(Serve(Get("http://127.0.0.1:9/a/photo.jpg", "127.0.0.1:9", "If-None-Match: \"x\"\r\n")),
            "HTTP/1.1 304 Not Modified\r\n\r\n");
  EXPECT_EQ(Serve(Get("http://127.0.0.1:9/b.jpeg?s=1", "127.0.0.1:9", "If-Range: \"x\"\r\n")),
            "HTTP/1.1 304 Not Modified\r\n\r\n");
  // Without a condition, with the upper-case name, or for a video whose
  // name merely ends in the same letters, the request is relayed (and finds
  // nobody).
  EXPECT_EQ(Serve(Get("http://127.0.0.1:9/a/photo.jpg", "127.0.0.1:9")), "");
  for (const char* url : {"/a/photo.JPG", "/a/photo.JPG?s=1", "/v/clip.mpeg"}) {
    EXPECT_EQ(Serve(Get(std::string("http://127.0.0.1:9") + url, "127.0.0.1:9",
                        "If-None-Match: \"x\"\r\n")),
              "")
        << url;
  }
}

TEST_F(DispatcherTest, SettingsPortOnlyForTheLocalBrowser) {
  nbtest::Listener site;
  Program_Options po = GetProgramOptions();
  po.iSettingsPort = site.port();
  SetProgramOptions(po);
  const std::string hostPort = "127.0.0.1:" + std::to_string(site.port());
  const std::string req = Get("http://" + hostPort + "/", hostPort);
  const std::uint32_t remote = 10u | (0u << 8) | (0u << 16) | (5u << 24);
  EXPECT_EQ(Serve(req, remote), "");

  std::thread answer([&] {
    nbtest::SocketHolder conn(site.Accept());
    nbtest::ReadUntil(conn.get(), "\r\n\r\n", 10000);
    nbtest::SendText(conn.get(),
                     "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n"
                     "Content-Length: 8\r\n\r\nsettings");
  });
  EXPECT_EQ(Serve(req),
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n"
            "Content-Length: 8\r\n\r\nsettings");
  answer.join();
}

TEST_F(DispatcherTest, PostBeyondTheLimitGoesDirectAndWholeThoughItsRewriteIsShorter) {
  // The service road is open: only the request's size can send it direct.
  OneShotSite service(nbtest::kLoopback, "");
  OneShotSite site(0x0200007Fu, kOk);  // 127.0.0.2, which is not 127.0.0.1
  Program_Options po = GetProgramOptions();
  po.bCompressOff = false;
  SetProgramOptions(po);
  const ServiceLinkSettings savedLink = GetServiceLinkSettings();
  ServiceLinkSettings link = savedLink;
  link.host = "127.0.0.1";
  link.port = service.port;
  link.idleMs = 3000;
  SetServiceLinkSettings(link);
  // Scheme and host come off the URL: the rewrite fits the limit, the
  // request as sent (a six-digit length) does not.
  const std::string head = "POST http://" + site.hostPort +
                           "/up HTTP/1.1\r\nHost: " + site.hostPort + "\r\nContent-Length: ";
  const std::string body(nb::kMaxPacketSize + 8 - head.size() - 6 - 4, 'b');
  EXPECT_EQ(Serve(head + std::to_string(body.size()) + "\r\n\r\n" + body), kOk);
  const std::string got = site.Finish();
  EXPECT_EQ(got.substr(0, 9) + got.substr(got.find("\r\n\r\n") + 4), "POST /up " + body);
  EXPECT_EQ(service.Finish(), "");
  SetServiceLinkSettings(savedLink);
}

TEST_F(DispatcherTest, BytesAfterTheRequestNeverReachTheSite) {
  for (const char* first : {"GET /a HTTP/1.1\r\n", "POST /a HTTP/1.1\r\nContent-Length: 3\r\n"}) {
    OneShotSite site(nbtest::kLoopback, kOk);
    const std::string host = "Host: " + site.hostPort + "\r\n";
    const std::string body = first[0] == 'P' ? "abc" : "";
    const std::string one = std::string(first) + host + "\r\n" + body;
    EXPECT_EQ(Serve(one + "GET /blocked HTTP/1.1\r\n" + host + "\r\n"), kOk);
    EXPECT_EQ(site.Finish(), std::string(first) + host + "Connection: Close\r\n\r\n" + body);
  }
}

TEST_F(DispatcherTest, PortsOutOfRangeAreRefused) {
  OneShotSite site(nbtest::kLoopback, kOk);
  // Cut to 16 bits, each of these would be the site's port.
  for (const std::string& port :
       {std::to_string(site.port + 65536), "-" + std::to_string(65536 - site.port)}) {
    EXPECT_EQ(Serve(Get("http://127.0.0.1:" + port + "/", "127.0.0.1:" + port)), "") << port;
  }
  EXPECT_EQ(site.Finish(), "");
}

// The verdict names the road (or the answer given here); the connection
// then carries the request as the road sends it.
TEST_F(DispatcherTest, VerdictNamesTheRoadAndTheConnectionCarriesTheRequest) {
  auto judge = [](const std::string& request, ThreadArgs& c) {
    nbtest::SocketPair pair = nbtest::MakePair();
    nbtest::SendText(pair.near.get(), request);
    nbplat::ShutdownSocket(pair.near.get());
    c.sckBrowser.reset(pair.far.release());
    c.ipClient = nbtest::kLoopback;
    return JudgeRequest(c, GetProgramOptions());
  };
  using Road = Verdict::Road;
  {
    ThreadArgs c(gClient);
    const std::string head = "CONNECT example.com:443 HTTP/1.1\r\n\r\n";
    EXPECT_EQ(judge(head, c).road, Road::Tunnel);
    EXPECT_EQ(c.request, head);
  }
  {
    ThreadArgs c(gClient);
    const Verdict v = judge(Get("http://127.0.0.1:9/a.html", "127.0.0.1:9"), c);
    EXPECT_EQ(v.road, Road::Direct);
    EXPECT_EQ(c.request, "GET /a.html HTTP/1.1\r\nHost: 127.0.0.1:9\r\nConnection: Close\r\n\r\n");
    EXPECT_EQ(c.ipHost, nbtest::kLoopback);
    EXPECT_EQ(c.iHostPort, 9);
  }
  {
    ThreadArgs c(gClient);
    EXPECT_EQ(judge(Get("http://8.8.8.8/a.html", "8.8.8.8"), c).road, Road::Service);
  }
  {
    ThreadArgs c(gClient);
    const Verdict v = judge("GET / HTTP/1.1\r\n\r\n", c);  // no Host
    EXPECT_EQ(v.road, Road::Refuse);
    EXPECT_EQ(v.answer, "");
  }
  {
    ThreadArgs c(gClient);
    const Verdict v =
        judge(Get("http://127.0.0.1:9/p.jpg", "127.0.0.1:9", "If-None-Match: \"x\"\r\n"), c);
    EXPECT_EQ(v.road, Road::Answered);
    EXPECT_EQ(v.answer, "HTTP/1.1 304 Not Modified\r\n\r\n");
  }
}

}  // namespace
