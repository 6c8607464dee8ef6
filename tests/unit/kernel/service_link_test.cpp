// The service exchange against a scripted service peer on loopback: answer
// kinds and limits, statistics and money, the clock correction, the
// authentication flag and the roads back to the direct relay.
#include "kernel/service_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kernel/context.h"
#include "kernel/events.h"
#include "kernel/limits.h"
#include "kernel/options.h"
#include "kernel/thread_args.h"
#include "platform/platform.h"
#include "protocol/hash.h"
#include "protocol/packet.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const char* const kDigest = "5ebe2294ecd0e0f08eab7690d2a6ee69";
const std::string kRequest = "GET http://127.0.0.1/page.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
const std::string kSitePage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n\r\nsite page";

std::string RecvHead(nbplat::Socket s) {
  std::string out;
  char chunk[4096];
  while (out.find("\r\n\r\n") == std::string::npos) {
    nbplat::IoResult r = nbplat::RecvSome(s, chunk, sizeof chunk, 5000);
    if (!r.ok()) break;
    out.append(chunk, r.bytes);
  }
  return out;
}

// Accepts connections on 127.0.0.1 at a free port and runs `handle` for each
// on a thread of its own; the connection is closed when `handle` returns.
class LoopbackServer {
 public:
  using Handler = std::function<void(nbplat::Socket)>;
  explicit LoopbackServer(Handler handle) : handle_(std::move(handle)) {
    port_ = listener_.port();
    acceptor_ = std::thread([this] { Run(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    nbplat::Socket wake = nbplat::TcpSocket();  // unblocks a pending accept
    nbplat::ConnectIPv4(wake, nbtest::kLoopback, static_cast<std::uint16_t>(port_), 2000);
    acceptor_.join();
    nbplat::CloseSocket(wake);
    for (std::thread& t : workers_) t.join();
  }
  int port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  void Run() {
    for (;;) {
      nbplat::Socket c = listener_.Accept();
      if (c == nbplat::kNoSocket) return;
      if (stop_) {
        nbplat::CloseSocket(c);
        return;
      }
      ++connections_;
      workers_.emplace_back([this, c] {
        handle_(c);
        nbplat::CloseSocket(c);
      });
    }
  }

  Handler handle_;
  nbtest::Listener listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

// What the scripted service read from the client.
struct ServiceRequest {
  nbClientHeader h;
  std::string request;
  bool ok = false;
};

ServiceRequest ReadRequest(nbplat::Socket s) {
  ServiceRequest r;
  std::string raw = nbtest::ReadExactly(s, kClientHeaderSize);
  if (raw.size() != kClientHeaderSize) return r;
  r.h = DecodeClientHeader(reinterpret_cast<const unsigned char*>(raw.data()));
  std::string body = nbtest::ReadExactly(s, r.h.size);
  r.ok =
      body.size() == r.h.size && Bz2Decompress(body.data(), body.size(), r.h.decompSize, r.request);
  return r;
}

void SendHeader(nbplat::Socket s, std::uint16_t msg, std::uint32_t size, std::uint32_t decompSize,
                std::int32_t money = 0) {
  nbServiceHeader h;
  h.size = size;
  h.decompSize = decompSize;
  h.msg = msg;
  h.money = money;
  unsigned char out[kServiceHeaderSize];
  EncodeServiceHeader(h, out);
  nbplat::SendAll(s, out, sizeof out);
}

void SendPacket(nbplat::Socket s, std::uint16_t msg, const std::string& body,
                std::uint32_t decompSize, std::int32_t money = 0) {
  SendHeader(s, msg, static_cast<std::uint32_t>(body.size()), decompSize, money);
  nbplat::SendAll(s, body.data(), body.size());
}

std::string Bz2(const std::string& text) {
  std::string out;
  Bz2Compress(text.data(), text.size(), out);
  return out;
}

// A web site that records each request head and answers kSitePage.
struct Site {
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mtx);
    return requests;
  }
  std::mutex mtx;
  std::vector<std::string> requests;
  LoopbackServer server{[this](nbplat::Socket c) {
    std::string head = RecvHead(c);
    {
      std::lock_guard<std::mutex> lock(mtx);
      requests.push_back(head);
    }
    nbplat::SendAll(c, kSitePage.data(), kSitePage.size());
  }};
};

class ServiceExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetProgramOptions();
    savedLink_ = GetServiceLinkSettings();
    Program_Options po;
    po.iLogin = 77;
    po.sPassword = kDigest;
    po.iJpegLvl = 1;
    po.iPort = 4321;
    po.iSettingsPort = 3344;
    po.dTrafficCost = 3;
    po.dStatSince = 1e9;
    po.vsBlockingContent = {"forbiddenword"};
    SetProgramOptions(po);
    gClient.link.iServTimeShift.store(0);
    gClient.link.iNoMoneyLogin.store(0);
    gClient.link.bAuthFailed.store(false);
    ChangeLink([](ServiceLinkSettings& l) {
      l.host = "127.0.0.1";
      l.idleMs = 5000;
    });
  }

  void TearDown() override {
    SetProgramOptions(saved_);
    SetServiceLinkSettings(savedLink_);
    gClient.link.iServTimeShift.store(0);
    gClient.link.iNoMoneyLogin.store(0);
    gClient.link.bAuthFailed.store(false);
  }

  static void ChangeLink(const std::function<void(ServiceLinkSettings&)>& change) {
    ServiceLinkSettings link = GetServiceLinkSettings();
    change(link);
    SetServiceLinkSettings(link);
  }

  static void ChangeOptions(const std::function<void(Program_Options&)>& change) {
    Program_Options po = GetProgramOptions();
    change(po);
    SetProgramOptions(po);
  }

  // Serves `request` through the service link as the worker would (the
  // browser sends `later` after it) and returns what the browser received;
  // end_ tells how that stream ended.
  std::string Serve(int servicePort, int sitePort = 80, const std::string& request = kRequest,
                    const std::string& later = "") {
    ChangeLink([&](ServiceLinkSettings& l) { l.port = servicePort; });
    std::vector<char> buff(nb::kRequestBufferSize);
    ThreadArgs th(gClient);
    th.request = request;
    th.ipClient = nbtest::kLoopback;
    th.ipHost = nbtest::kLoopback;
    th.iHostPort = sitePort;
    th.buff = buff.data();
    th.iRequestSize = static_cast<int>(request.size());

    nbplat::Socket browser = nbplat::kNoSocket;
    {
      nbplat::Socket l = nbplat::TcpSocket();
      EXPECT_TRUE(nbplat::BindIPv4(l, 0, nbtest::kLoopback) && nbplat::ListenOn(l, 1));
      browser = nbplat::TcpSocket();
      std::uint32_t peer = 0;
      EXPECT_TRUE(nbplat::ConnectIPv4(browser, nbtest::kLoopback, nbplat::LocalPort(l)));
      th.sckBrowser.reset(nbplat::AcceptConnection(l, &peer));
      nbplat::CloseSocket(l);
    }
    nbtest::SendText(browser, later);
    std::string received;
    std::thread reader([&] { received = nbtest::ReadToEnd(browser, 10000, &end_); });
    processRequestWithService(&th);
    th.sckBrowser.reset();
    th.sckServer.reset();
    reader.join();
    nbplat::CloseSocket(browser);
    return received;
  }

  static std::string OptionsFile() {
    std::ifstream f(kOptionsFileName, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

  nbplat::IoStatus end_ = nbplat::IoStatus::Ok;
  Program_Options saved_;
  ServiceLinkSettings savedLink_;
  nbtest::WorkDir work_;
};

TEST_F(ServiceExchange, Bz2PacketsArriveInOrderAndAreCountedAndSaved) {
  const std::vector<std::string> pieces = {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n",
                                           std::string(3000, 'a') + "<p>one</p>",
                                           "<p>two</p>" + std::string(5000, 'b')};
  ServiceRequest seen;
  double compressed = 0;
  {
    LoopbackServer service([&](nbplat::Socket c) {
      seen = ReadRequest(c);
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::string z = Bz2(pieces[i]);
        compressed += static_cast<double>(z.size());
        SendPacket(c, NB_PACKET_BZ2, z, static_cast<std::uint32_t>(pieces[i].size()),
                   i + 1 == pieces.size() ? 12345 : 500);
      }
    });
    EXPECT_EQ(Serve(service.port()), pieces[0] + pieces[1] + pieces[2]);
  }

  ASSERT_TRUE(seen.ok);
  EXPECT_EQ(seen.request, kRequest);
  EXPECT_EQ(seen.h.login, 77);
  EXPECT_EQ(seen.h.ipNet, nbtest::kLoopback);
  EXPECT_EQ(seen.h.port, 80);
  EXPECT_EQ(seen.h.jpegLevel, 1);
  EXPECT_EQ(seen.h.authCode, getAuthCode(kDigest, seen.h.time));

  Program_Options po = GetProgramOptions();
  const double total = static_cast<double>(pieces[0].size() + pieces[1].size() + pieces[2].size());
  EXPECT_EQ(po.dTotalTraffic, total);
  EXPECT_EQ(po.dCompressTraffic, compressed);
  EXPECT_EQ(po.dMoney, 123.0);
  // Counted in memory only: the flush timer writes the file.
  EXPECT_EQ(OptionsFile(), "");
  EXPECT_TRUE(Options().StatsChanged());
  ASSERT_TRUE(Options().SaveIfChanged());
  EXPECT_FALSE(Options().StatsChanged());
  const std::string file = OptionsFile();
  EXPECT_NE(file.find("TotalTraffic:" + FormatOptionDouble(total)), std::string::npos) << file;
  EXPECT_NE(file.find("Money:123"), std::string::npos) << file;
}

TEST_F(ServiceExchange, Bz2DeliversTheDecompressedContentWhateverTheHeaderSays) {
  const std::string longer(60, 'L');   // announced as 10 bytes
  const std::string shorter(40, 'S');  // announced as 100 bytes
  LoopbackServer service([&](nbplat::Socket c) {
    ReadRequest(c);
    SendPacket(c, NB_PACKET_BZ2, Bz2(longer), 10);
    SendPacket(c, NB_PACKET_BZ2, Bz2(shorter), 100);
    SendPacket(c, NB_PACKET_BZ2, "not a bzip2 stream", 18);
    SendPacket(c, NB_PACKET_BZ2, Bz2(std::string(5000, 'x')), 10);  // beyond decompSize + 2000
    SendPacket(c, NB_PACKET_NOCOMPRESS, "tail", 4);
  });
  EXPECT_EQ(Serve(service.port()), longer + shorter + "tail");
  EXPECT_EQ(GetProgramOptions().dTotalTraffic, 10.0 + 100 + 18 + 10 + 4);
}

TEST_F(ServiceExchange, AnswersAboveTheBodyLimitEndTheExchange) {
  const std::string full(200000, 'F');
  for (bool bigSize : {true, false}) {
    ChangeOptions([](Program_Options& po) { po.dTotalTraffic = po.dMoney = 0; });
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendPacket(c, NB_PACKET_NOCOMPRESS, full, 200000, 700);
      if (bigSize) {
        SendHeader(c, NB_PACKET_NOCOMPRESS, 200001, 5, 999900);
      } else {
        SendHeader(c, NB_PACKET_NOCOMPRESS, 5, 200001, 999900);
      }
      nbplat::SendAll(c, "never", 5);
      SendPacket(c, NB_PACKET_NOCOMPRESS, "never again", 11);
    });
    // The browser's connection ends with a reset, which may take the end of
    // the first packet with it: what arrives is part of it, never more.
    const std::string got = Serve(service.port());
    EXPECT_EQ(full.substr(0, got.size()), got) << "bigSize=" << bigSize;
    Program_Options po = GetProgramOptions();
    EXPECT_EQ(po.dTotalTraffic, 200000.0);
    EXPECT_EQ(po.dMoney, 7.0);
  }
}

TEST_F(ServiceExchange, TimeCorrectionResendsTheHeaderAndShiftsTheClock) {
  const std::int32_t T = 1262304000;
  std::string reply;
  {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      // The correction has no body: the next packet follows at once.
      SendHeader(c, NB_PACKET_TIMESHIFT, static_cast<std::uint32_t>(T), 0, 555500);
      SendPacket(c, NB_PACKET_NOCOMPRESS, "after shift", 11, 100);
      reply = nbtest::ReadExactly(c, kClientHeaderSize);
    });
    EXPECT_EQ(Serve(service.port()), "after shift");
  }
  const std::int32_t now = ServiceClock(nbplat::TickCountMs(), gClient.link.iServTimeShift.load());
  EXPECT_GE(now, T);
  EXPECT_LE(now, T + 2);

  ASSERT_EQ(reply.size(), kClientHeaderSize);
  nbClientHeader h = DecodeClientHeader(reinterpret_cast<const unsigned char*>(reply.data()));
  EXPECT_EQ(h.login, 77);
  EXPECT_EQ(h.time, T);
  EXPECT_EQ(h.authCode, getAuthCode(kDigest, T));
  EXPECT_EQ(h.jpegLevel, 0);
  EXPECT_EQ(h.ipNet, 0u);
  EXPECT_EQ(h.port, 0);
  EXPECT_EQ(h.size, 0u);
  EXPECT_EQ(h.decompSize, 0u);
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.dTotalTraffic, 11.0);  // the correction itself is not traffic
  EXPECT_EQ(po.dMoney, 1.0);
}

TEST_F(ServiceExchange, AuthFailureFlagFollowsTheLastAnswer) {
  {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendPacket(c, NB_PACKET_AUTHFAILED, "denied", 6);
    });
    EXPECT_EQ(Serve(service.port()), "");
  }
  EXPECT_TRUE(gClient.link.bAuthFailed.load());
  EXPECT_EQ(GetProgramOptions().dTotalTraffic, 6.0);
  {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendPacket(c, NB_PACKET_EMPTY, "", 0);
    });
    EXPECT_EQ(Serve(service.port()), "");
  }
  EXPECT_FALSE(gClient.link.bAuthFailed.load());
}

TEST_F(ServiceExchange, NoMoneyRelaysTheOriginalRequestDirectly) {
  Site site;
  {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendPacket(c, NB_PACKET_NOCOMPRESS, "partial ", 8, 4200);
      SendHeader(c, NB_PACKET_NOMONEY, 0, 0, 0);
    });
    EXPECT_EQ(Serve(service.port(), site.server.port()), "partial " + kSitePage);
  }
  ASSERT_EQ(site.Requests().size(), 1u);
  EXPECT_EQ(site.Requests()[0], kRequest);
  EXPECT_FALSE(
      (gClient.link.iNoMoneyLogin.load() != 0));  // an answer for account 0 spares later requests
  EXPECT_EQ(GetProgramOptions().dMoney, 42.0);
  {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendHeader(c, NB_PACKET_NOMONEY, 77, 0, 0);
    });
    EXPECT_EQ(Serve(service.port(), site.server.port()), kSitePage);
  }
  EXPECT_TRUE((gClient.link.iNoMoneyLogin.load() != 0));
  EXPECT_EQ(gClient.link.iNoMoneyLogin.load(), 77);
  EXPECT_EQ(GetProgramOptions().dMoney, 42.0);
}

TEST_F(ServiceExchange, UnreachableServiceOrCompressionOffGoDirect) {
  Site site;
  int closedPort = 0;
  {
    LoopbackServer gone([](nbplat::Socket) {});
    closedPort = gone.port();
  }
  // The layers above hear of each change once, through the kernel's events.
  struct Recorder final : nbkernel::KernelEvents {
    std::atomic<int> traffic{0}, reached{0}, unreached{0};
    void TrafficActivity() override { ++traffic; }
    void StatisticsChanged() override {}
    void StopRequested() override {}
    void ServiceReached() override { ++reached; }
    void ServiceUnreached() override { ++unreached; }
  } events;
  nbkernel::SetEvents(&events);
  gClient.link.bServiceReached = true;
  EXPECT_EQ(Serve(closedPort, site.server.port()), kSitePage);
  EXPECT_FALSE(gClient.link.bServiceReached.load())
      << "the tray and the page say pages go uncompressed";
  EXPECT_EQ(events.unreached.load(), 1);
  EXPECT_EQ(events.traffic.load(), 0);
  {
    LoopbackServer back([](nbplat::Socket c) {
      if (ReadRequest(c).request == kRequest) SendPacket(c, NB_PACKET_NOCOMPRESS, "back", 4);
    });
    EXPECT_EQ(Serve(back.port(), site.server.port()), "back");
    EXPECT_TRUE(gClient.link.bServiceReached.load());
  }
  nbkernel::SetEvents(nullptr);
  EXPECT_EQ(events.reached.load(), 1);
  EXPECT_EQ(events.unreached.load(), 1);
  EXPECT_GE(events.traffic.load(), 1);

  LoopbackServer service([&](nbplat::Socket c) { ReadRequest(c); });
  ChangeOptions([](Program_Options& po) { po.bCompressOff = true; });
  EXPECT_EQ(Serve(service.port(), site.server.port()), kSitePage);
  EXPECT_EQ(service.connections(), 0);
  EXPECT_EQ(site.Requests().size(), 2u);
}

TEST_F(ServiceExchange, ACutSecondPacketEndsWithAReset) {
  for (bool cut : {false, true}) {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      SendPacket(c, NB_PACKET_NOCOMPRESS, "first", 5);
      if (!cut) return;
      SendHeader(c, NB_PACKET_NOCOMPRESS, 100, 100);
      nbplat::SendAll(c, "only ten b", 10);
    });
    EXPECT_EQ(Serve(service.port()), "first");
    EXPECT_EQ(end_, cut ? nbtest::AbortAsSeen() : nbplat::IoStatus::Closed) << cut;
  }
}

TEST_F(ServiceExchange, ForbiddenWordEndsTheAnswerEvenAcrossPackets) {
  // Where the word stands: whole in the second packet, split over the first
  // two, or in the first; the packets after it never reach the browser.
  const std::vector<std::vector<std::string>> answers = {
      {"first ", "then forbiddenword", "third"},
      {"first forbid", "denword", "third"},
      {"forbiddenword first", "second", "third"}};
  for (const auto& packets : answers) {
    LoopbackServer service([&](nbplat::Socket c) {
      ReadRequest(c);
      for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::string& p = packets[i];
        const auto size = static_cast<std::uint32_t>(p.size());
        if (i == 1)
          SendPacket(c, NB_PACKET_BZ2, Bz2(p), size);
        else
          SendPacket(c, NB_PACKET_NOCOMPRESS, p, size);
      }
    });
    const bool first = packets[0].find("forbiddenword") != std::string::npos;
    // A reset may overtake what went out before it.
    const std::string got = Serve(service.port());
    EXPECT_EQ(packets[0].compare(0, got.size(), got), 0) << packets[1];
    if (first) {
      EXPECT_EQ(got, "");
    }
    EXPECT_EQ(end_, first ? nbplat::IoStatus::Closed : nbtest::AbortAsSeen()) << packets[1];
  }
}

TEST_F(ServiceExchange, ChunkedBodyGoesDirectToItsEndAndNoFurther) {
  const std::string head =
      "POST /up HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string body = "4\r\nwhat\r\n6;x=y\r\n is it\r\n0\r\nT: 1\r\n\r\n";
  std::string siteGot;
  {
    LoopbackServer site([&](nbplat::Socket c) {
      siteGot = nbtest::ReadUntil(c, "\r\n0\r\nT: 1\r\n\r\n", 5000);
      nbplat::SendAll(c, kSitePage.data(), kSitePage.size());
      siteGot += nbtest::ReadToEnd(c, 200);  // a smuggled request would show here
    });
    LoopbackServer service([&](nbplat::Socket c) { ReadRequest(c); });
    // Only the first bytes of the body are in the buffer; the rest and a
    // pipelined request come from the browser afterwards.
    EXPECT_EQ(Serve(service.port(), site.port(), head + "4\r\n",
                    body.substr(3) + "GET /next HTTP/1.1\r\nHost: x\r\n\r\n"),
              kSitePage);
    EXPECT_EQ(service.connections(), 0);
  }
  EXPECT_EQ(siteGot, head + body);
}

TEST_F(ServiceExchange, SilentServiceFreesTheWorker) {
  ChangeLink([](ServiceLinkSettings& l) { l.idleMs = 200; });
  LoopbackServer service([&](nbplat::Socket c) {
    ReadRequest(c);
    nbtest::ReadToEnd(c, 10000);  // until the client gives up and closes
  });
  EXPECT_EQ(Serve(service.port()), "");
  EXPECT_EQ(GetProgramOptions().dTotalTraffic, 0.0);
}

TEST_F(ServiceExchange, UpstreamProxyTunnelAndItsRefusal) {
  std::mutex mtx;
  std::vector<std::string> heads;
  std::atomic<bool> refuse{false};
  auto Heads = [&] {
    std::lock_guard<std::mutex> lock(mtx);
    return heads;
  };
  const std::string refusal =
      "HTTP/1.0 407 Proxy Authentication Required\r\nContent-Type: text/html\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  LoopbackServer proxy([&](nbplat::Socket c) {
    std::string head = RecvHead(c);
    {
      std::lock_guard<std::mutex> lock(mtx);
      heads.push_back(head);
    }
    if (refuse) {
      nbplat::SendAll(c, refusal.data(), refusal.size());
      return;
    }
    const std::string ok = "HTTP/1.1 204 Tunnel open\r\n\r\n";  // any 2xx opens it
    nbplat::SendAll(c, ok.data(), ok.size());
    if (ReadRequest(c).request == kRequest) SendPacket(c, NB_PACKET_NOCOMPRESS, "tunnelled", 9);
  });
  ChangeOptions([&](Program_Options& po) {
    po.sProxyName = "127.0.0.1";
    po.sProxyPort = std::to_string(proxy.port());
  });
  EXPECT_EQ(Serve(443), "tunnelled");
  ASSERT_EQ(Heads().size(), 1u);
  EXPECT_EQ(Heads()[0],
            "CONNECT 127.0.0.1:443 HTTP/1.0\r\nUser-Agent: Mozilla/4.08 [en] (WinNT; U)\r\n"
            "Authorization: Basic Og==\r\nProxy-Authorization: Basic Og==\r\n\r\n");

  // A refused tunnel leaves the request to the direct relay, which meets the
  // same proxy and passes its refusal on to the browser.
  refuse = true;
  EXPECT_EQ(Serve(443, 8080), refusal);
  ASSERT_EQ(Heads().size(), 3u);
  EXPECT_EQ(Heads()[2].rfind("CONNECT 127.0.0.1:8080 HTTP/1.0\r\n", 0), 0u) << Heads()[2];
}

TEST(ServiceLinkOptions, JpegCodeAndMoneyUseTheSharedOptions) {
  Program_Options saved = GetProgramOptions();
  const int codes[][2] = {{0, 2}, {1, 1}, {2, 4}, {3, 2}, {-1, 2}};
  for (const auto& c : codes) {
    Program_Options po = saved;
    po.iJpegLvl = c[0];
    SetProgramOptions(po);
    EXPECT_EQ(getJPEGCompressLevel(GetProgramOptions()), c[1]) << "iJpegLvl=" << c[0];
  }
  Program_Options po = saved;
  po.dTotalTraffic = 11;
  po.sProxyName = "keep";
  SetProgramOptions(po);
  saveMoneyInfo(gClient.options, 12345);
  EXPECT_EQ(GetProgramOptions().dMoney, 123.0);
  saveMoneyInfo(gClient.options, -199);
  EXPECT_EQ(GetProgramOptions().dMoney, -1.0);
  EXPECT_EQ(GetProgramOptions().dTotalTraffic, 11.0);
  EXPECT_EQ(GetProgramOptions().sProxyName, "keep");
  SetProgramOptions(saved);
}

TEST_F(ServiceExchange, ServiceHostOptionNamesTheServiceDirectlyAndInTheTunnel) {
  LoopbackServer service([&](nbplat::Socket c) {
    if (ReadRequest(c).request == kRequest) SendPacket(c, NB_PACKET_NOCOMPRESS, "direct", 6);
  });
  ChangeLink([](ServiceLinkSettings& l) { l.host = "build-setting.invalid"; });
  ChangeOptions([&](Program_Options& po) {
    po.sServiceHost = "127.0.0.1:" + std::to_string(service.port());
  });
  EXPECT_EQ(Serve(1), "direct");

  std::mutex mtx;
  std::string head;
  LoopbackServer proxy([&](nbplat::Socket c) {
    std::lock_guard<std::mutex> lock(mtx);
    if (head.empty()) head = RecvHead(c);
  });
  ChangeOptions([&](Program_Options& po) {
    po.sServiceHost = "svc.example:8443";
    po.sProxyName = "127.0.0.1";
    po.sProxyPort = std::to_string(proxy.port());
  });
  Serve(443, 1);
  std::lock_guard<std::mutex> lock(mtx);
  EXPECT_EQ(head.rfind("CONNECT svc.example:8443 HTTP/1.0\r\n", 0), 0u) << head;
}

}  // namespace
