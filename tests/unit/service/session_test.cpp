// Request reading limits and whole conversations with a running service:
// clock correction, authentication, money, refusal and answers from a small
// local web server.
#include "session.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "accounts.h"
#include "auth.h"
#include "owned_socket.h"
#include "protocol/capabilities.h"
#include "protocol/hash.h"
#include "protocol/md5.h"
#include "server.h"
#include "service_test_util.h"

namespace {

using nbtest::ClientPacket;

// ---- header limits ---------------------------------------------------------

TEST(RequestHeader, SizeLimits) {
  nbClientHeader h;
  h.size = kMaxBodySize;
  h.decompSize = kMaxBodySize;
  EXPECT_EQ(nbsvc::CheckRequestHeader(h), nbsvc::HeaderCheck::Ok);
  h.size = kMaxBodySize + 1;
  EXPECT_EQ(nbsvc::CheckRequestHeader(h), nbsvc::HeaderCheck::TooBig);
  h.size = 10;
  h.decompSize = kMaxBodySize + 1;
  EXPECT_EQ(nbsvc::CheckRequestHeader(h), nbsvc::HeaderCheck::TooBig);
  h.decompSize = 0;
  EXPECT_EQ(nbsvc::CheckRequestHeader(h), nbsvc::HeaderCheck::Empty);
  h.decompSize = 10;
  h.size = 0;
  EXPECT_EQ(nbsvc::CheckRequestHeader(h), nbsvc::HeaderCheck::Empty);
}

// Runs ReadRequest on the accepted end of a connection fed by feed().
template <typename Feed>
nbsvc::ReadOutcome ReadWith(Feed feed, std::string* request, int idleMs = 2000) {
  nbtest::Listener l;
  EXPECT_NE(l.port(), 0);
  nbplat::OwnedSocket client(nbtest::ConnectLocal(l.port()));
  std::uint32_t peer;
  nbplat::OwnedSocket server(nbplat::AcceptConnection(l.get(), &peer));
  feed(client.get());
  nbClientHeader h;
  return nbsvc::ReadRequest(server.get(), idleMs, &h, request);
}

void SendRaw(nbplat::Socket s, nbClientHeader h, const std::string& body) {
  unsigned char raw[kClientHeaderSize];
  EncodeClientHeader(h, raw);
  nbplat::SendAll(s, raw, sizeof raw);
  nbplat::SendAll(s, body.data(), body.size());
}

TEST(RequestReading, ValidRequestAndBrokenOnes) {
  std::string req = "GET / HTTP/1.0\r\nHost: a\r\n\r\n", got;
  EXPECT_EQ(
      ReadWith([&](nbplat::Socket s) { nbtest::SendRequest(s, nbClientHeader(), req); }, &got),
      nbsvc::ReadOutcome::Ok);
  EXPECT_EQ(got, req);

  std::string packed;
  ASSERT_TRUE(Bz2Compress(req.data(), req.size(), packed));
  nbClientHeader h;
  h.size = static_cast<std::uint32_t>(packed.size());
  h.decompSize = static_cast<std::uint32_t>(req.size() + 1);  // announced longer than it is
  EXPECT_EQ(ReadWith([&](nbplat::Socket s) { SendRaw(s, h, packed); }, &got),
            nbsvc::ReadOutcome::BadBody);
  h.decompSize = static_cast<std::uint32_t>(req.size() - 1);  // shorter
  EXPECT_EQ(ReadWith([&](nbplat::Socket s) { SendRaw(s, h, packed); }, &got),
            nbsvc::ReadOutcome::BadBody);
  h.decompSize = static_cast<std::uint32_t>(req.size());
  std::string garbage(packed.size(), 'x');
  EXPECT_EQ(ReadWith([&](nbplat::Socket s) { SendRaw(s, h, garbage); }, &got),
            nbsvc::ReadOutcome::BadBody);
  h.size = kMaxBodySize + 1;  // refused before any body is read
  EXPECT_EQ(ReadWith([&](nbplat::Socket s) { SendRaw(s, h, ""); }, &got),
            nbsvc::ReadOutcome::TooBig);
}

TEST(RequestReading, SilentAndHalfSentConnectionsEnd) {
  std::string got;
  EXPECT_EQ(ReadWith([](nbplat::Socket) {}, &got, 200), nbsvc::ReadOutcome::Silent);
  // Header promises 100 bytes, 10 arrive, then silence.
  nbClientHeader h;
  h.size = 100;
  h.decompSize = 100;
  EXPECT_EQ(ReadWith([&](nbplat::Socket s) { SendRaw(s, h, std::string(10, 'z')); }, &got, 200),
            nbsvc::ReadOutcome::Silent);
  // Half a header, then the client goes away.
  EXPECT_EQ(ReadWith(
                [](nbplat::Socket s) {
                  nbplat::SendAll(s, "12345", 5);
                  nbplat::ShutdownSocket(s);
                },
                &got),
            nbsvc::ReadOutcome::Closed);
  // Closed before its first byte: no request at all (nothing to log).
  EXPECT_EQ(ReadWith([](nbplat::Socket s) { nbplat::ShutdownSocket(s); }, &got),
            nbsvc::ReadOutcome::Unused);
}

// ---- whole conversations ---------------------------------------------------

// A web server on 127.0.0.2 that answers every connection with one fixed
// response, then holds the connection holdMs before closing it; before()
// runs after each request is read, before its answer.
class TinySite {
 public:
  explicit TinySite(std::string response, int holdMs = 0, std::function<void()> before = nullptr)
      : response_(std::move(response)), holdMs_(holdMs), before_(std::move(before)) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~TinySite() {
    stop_ = true;
    nbplat::ShutdownSocket(sock_.get());
    thread_.join();
  }
  std::uint16_t port() const { return sock_.port(); }
  int hits() const { return hits_; }

 private:
  void Loop() {
    while (!stop_) {
      std::uint32_t peer;
      nbplat::OwnedSocket c(nbplat::AcceptConnection(sock_.get(), &peer));
      if (!c.valid()) return;
      char buf[4096];
      std::string req;
      while (req.find("\r\n\r\n") == std::string::npos) {
        nbplat::IoResult r = nbplat::RecvSome(c.get(), buf, sizeof buf, 2000);
        if (!r.ok() || r.bytes == 0) break;
        req.append(buf, r.bytes);
      }
      ++hits_;
      if (before_) before_();
      nbplat::SendAll(c.get(), response_.data(), response_.size());
      if (holdMs_ > 0) nbplat::SleepMs(static_cast<unsigned>(holdMs_));
    }
  }
  nbtest::Listener sock_{nbtest::Loopback(2)};
  std::string response_;
  int holdMs_;
  std::function<void()> before_;
  std::atomic<bool> stop_{false};
  std::atomic<int> hits_{0};
  std::thread thread_;
};

// A web server on 127.0.0.2 that answers one request with an answer
// without length in incompressible bytes, until the connection fails or
// limit bytes went out.
class FloodSite {
 public:
  explicit FloodSite(std::size_t limit) : limit_(limit), ended_(done_.get_future()) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FloodSite() {
    nbplat::ShutdownSocket(sock_.get());
    thread_.join();
  }
  std::uint16_t port() const { return sock_.port(); }
  // Waits at most waitMs for the answer to end; false when it did not.
  bool Wait(int waitMs) {
    return ended_.wait_for(std::chrono::milliseconds(waitMs)) == std::future_status::ready;
  }
  // Bytes of the answer that went out.
  std::size_t sent() const { return sent_; }

 private:
  void Run() {
    std::uint32_t peer;
    nbplat::OwnedSocket c(nbplat::AcceptConnection(sock_.get(), &peer));
    char buf[4096];
    nbplat::RecvSome(c.get(), buf, sizeof buf, 2000);
    nbplat::SetSendTimeout(c.get(), 60000);  // never stuck for good behind a stuck service
    std::string block(1 << 20, '\0');
    std::mt19937 gen(7);
    for (auto& ch : block) ch = static_cast<char>(gen());
    std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
    bool ok = c.valid() && nbplat::SendAll(c.get(), head.data(), head.size()).ok();
    for (; ok && sent_ < limit_; sent_ += block.size()) {
      ok = nbplat::SendAll(c.get(), block.data(), block.size()).ok();
    }
    done_.set_value();
  }
  nbtest::Listener sock_{nbtest::Loopback(2)};
  const std::size_t limit_;
  std::atomic<std::size_t> sent_{0};
  std::promise<void> done_;
  std::future<void> ended_;
  std::thread thread_;
};

// The packets of everything a service sent, in order; *cut tells whether
// the last one announces a body that never came (the cut marker).
std::vector<ClientPacket> SplitPackets(const std::string& raw, bool* cut) {
  std::vector<ClientPacket> out;
  std::size_t pos = 0;
  *cut = false;
  while (raw.size() - pos >= kServiceHeaderSize) {
    ClientPacket p;
    p.header = DecodeServiceHeader(reinterpret_cast<const unsigned char*>(raw.data() + pos));
    pos += kServiceHeaderSize;
    std::size_t body = p.header.msg == NB_PACKET_NOMONEY ? 0 : p.header.size;
    if (raw.size() - pos < body) {
      *cut = true;
      break;
    }
    p.body = raw.substr(pos, body);
    pos += body;
    out.push_back(std::move(p));
  }
  return out;
}

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.listenIpNet = nbtest::Loopback();
    config_.port = 0;
    config_.dbPath = dir_.File("accounts.db");
    config_.logPath = dir_.File("service.log");
    config_.allowPrivate = true;
    config_.allowGuests = true;
    config_.clientIdleMs = 2000;
    config_.fetchIdleMs = 2000;
    config_.pricePerMiB = 100000;  // expensive, so small answers cost something
    std::string err;
    auto db = nbsvc::AccountsDb::Open(config_.dbPath, &err);
    ASSERT_TRUE(db) << err;
    md5str(digest_, "right");
    ASSERT_TRUE(db->Upsert(42, true, digest_, true, 100000, 0));
    ASSERT_TRUE(db->Upsert(43, true, digest_, true, 0, 0));
  }
  void Start() {
    ASSERT_TRUE(log_.Open(config_.logPath, &err_)) << err_;
    server_.reset(new nbsvc::Server(config_, log_));
    ASSERT_TRUE(server_->Listen(&err_)) << err_;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_) {
      server_->Stop();
      thread_.join();
    }
  }
  // A request header as a client with a correct clock makes it.
  nbClientHeader Header(std::int32_t login, const char* digest, std::uint16_t port,
                        std::uint16_t jpeg = 1, std::int64_t clockShift = 0) {
    nbClientHeader h;
    h.login = login;
    h.ipNet = nbtest::Loopback(2);
    h.port = port;
    h.jpegLevel = jpeg;
    h.time = static_cast<std::int32_t>(nbsvc::ServiceClock() + clockShift);
    h.authCode = static_cast<std::uint16_t>(getAuthCode(digest, h.time));
    return h;
  }
  std::vector<ClientPacket> Exchange(const nbClientHeader& h, const std::string& digest,
                                     const std::string& request = "GET / HTTP/1.0\r\n\r\n") {
    nbplat::OwnedSocket s(nbtest::ConnectLocal(server_->BoundPort()));
    EXPECT_TRUE(s.valid());
    EXPECT_TRUE(nbtest::SendRequest(s.get(), h, request));
    return nbtest::ReadAnswers(s.get(), &h, digest);
  }
  // All bytes the service sends for one request, until it closes.
  std::string RawExchange(const nbClientHeader& h, const std::string& request) {
    nbplat::OwnedSocket s(nbtest::ConnectLocal(server_->BoundPort()));
    EXPECT_TRUE(nbtest::SendRequest(s.get(), h, request));
    std::string all;
    char buf[65536];
    for (;;) {
      nbplat::IoResult r = nbplat::RecvSome(s.get(), buf, sizeof buf, 10000);
      if (!r.ok() || r.bytes == 0) return all;
      all.append(buf, r.bytes);
    }
  }
  void SetMoney(std::int32_t login, std::int64_t cents) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(config_.dbPath.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    std::string sql = "UPDATE accounts SET money = " + std::to_string(cents) +
                      " WHERE login = " + std::to_string(login);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  std::int64_t Money(std::int32_t login) {
    auto db = nbsvc::AccountsDb::Open(config_.dbPath, &err_);
    nbsvc::Account a;
    EXPECT_EQ(db->Lookup(login, &a), nbsvc::LookupResult::Found);
    return a.money;
  }
  std::vector<std::string> LogLines() {
    server_->Stop();
    thread_.join();
    server_.reset();
    std::ifstream in(config_.logPath);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
      if (l.find(" login=") != std::string::npos) lines.push_back(l);
    }
    return lines;
  }

  nbtest::TempDir dir_;
  nbsvc::ServiceConfig config_;
  nbsvc::ServiceLog log_;
  std::unique_ptr<nbsvc::Server> server_;
  std::thread thread_;
  std::string err_;
  char digest_[33];
};

const char kPage[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 26\r\n\r\n"
    "<html>hello, world</html>\n";

TEST_F(ServiceFixture, ServesChargesAndLogs) {
  TinySite site(kPage);
  Start();
  auto packets = Exchange(Header(42, digest_, site.port()), digest_);
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(nbtest::Contents(packets), kPage);
  std::int64_t after = Money(42);
  EXPECT_LT(after, 100000);
  for (const auto& p : packets) EXPECT_EQ(p.header.money, after);  // balance after the charge
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  std::uint64_t sumBefore = 0, sumAfter = 0;
  for (const auto& p : packets) {
    sumBefore += p.header.decompSize;
    sumAfter += p.header.size;
  }
  EXPECT_NE(lines[0].find("login=42 dest=127.0.0.2:" + std::to_string(site.port())),
            std::string::npos);
  EXPECT_NE(lines[0].find(" before=" + std::to_string(sumBefore) +
                          " after=" + std::to_string(sumAfter) + " "),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("result=served"), std::string::npos);
}

TEST_F(ServiceFixture, FarClockIsCorrectedOnceThenServed) {
  TinySite site(kPage);
  Start();
  // A fresh client: seconds since boot, and the code over that value.
  nbClientHeader h = Header(42, digest_, site.port());
  h.time = 5000;
  h.authCode = static_cast<std::uint16_t>(getAuthCode(digest_, h.time));
  auto packets = Exchange(h, digest_);
  ASSERT_GE(packets.size(), 2u);
  EXPECT_EQ(packets[0].header.msg, NB_PACKET_TIMESHIFT);
  std::int64_t clock = packets[0].header.size;
  EXPECT_LE(std::abs(clock - nbsvc::ServiceClock()), 2);
  int corrections = 0;
  for (const auto& p : packets) corrections += p.header.msg == NB_PACKET_TIMESHIFT;
  EXPECT_EQ(corrections, 1);
  EXPECT_EQ(nbtest::Contents(packets), kPage);
}

TEST_F(ServiceFixture, ClockWithinTenSecondsIsNotCorrected) {
  TinySite site(kPage);
  Start();
  auto packets = Exchange(Header(42, digest_, site.port(), 1, -8), digest_);
  ASSERT_FALSE(packets.empty());
  EXPECT_NE(packets[0].header.msg, NB_PACKET_TIMESHIFT);
  EXPECT_EQ(nbtest::Contents(packets), kPage);
}

TEST_F(ServiceFixture, WrongPasswordOrUnknownLoginFailsAuthentication) {
  TinySite site(kPage);
  Start();
  char wrong[33];
  md5str(wrong, "wrong");
  for (auto h : {Header(42, wrong, site.port()), Header(999, digest_, site.port())}) {
    auto packets = Exchange(h, wrong);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].header.msg, NB_PACKET_AUTHFAILED);
  }
  EXPECT_EQ(site.hits(), 0);
  EXPECT_EQ(Money(42), 100000);
  // A wrong code after a time correction fails too.
  nbClientHeader h = Header(42, digest_, site.port());
  h.time = 10;
  auto packets = Exchange(h, "bad");  // resends its code over the wrong digest
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].header.msg, NB_PACKET_TIMESHIFT);
  EXPECT_EQ(packets[1].header.msg, NB_PACKET_AUTHFAILED);
}

TEST_F(ServiceFixture, GuessedLoginIsLockedForItsOwnerTooAndLoggedOnce) {
  TinySite site(kPage);
  Start();
  char wrong[33];
  md5str(wrong, "wrong");
  for (int i = 0; i < nbsvc::kGuardMaxFailures; ++i) {
    ASSERT_EQ(Exchange(Header(42, wrong, site.port()), wrong)[0].header.msg, NB_PACKET_AUTHFAILED);
  }
  for (int i = 0; i < 3; ++i) {
    auto packets = Exchange(Header(42, digest_, site.port()), digest_);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].header.msg, NB_PACKET_AUTHFAILED);
  }
  EXPECT_EQ(site.hits(), 0);
  int locked = 0, failed = 0;
  for (const auto& l : LogLines()) {
    locked += l.find("result=login-locked") != std::string::npos;
    failed += l.find("result=authfailed") != std::string::npos;
  }
  EXPECT_EQ(failed, nbsvc::kGuardMaxFailures);
  EXPECT_EQ(locked, 1);
}

TEST_F(ServiceFixture, RefusedGuestsLockNoAddress) {
  TinySite site(kPage);
  config_.allowGuests = false;
  Start();
  for (int i = 0; i < nbsvc::kGuardMaxFailures + 2; ++i) {
    ASSERT_EQ(Exchange(Header(0, "", site.port()), "")[0].header.msg, NB_PACKET_AUTHFAILED);
  }
  EXPECT_EQ(nbtest::Contents(Exchange(Header(42, digest_, site.port()), digest_)), kPage);
}

TEST_F(ServiceFixture, EmptyAccountGetsNoMoneyWithItsLogin) {
  TinySite site(kPage);
  Start();
  auto packets = Exchange(Header(43, digest_, site.port()), digest_);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].header.msg, NB_PACKET_NOMONEY);
  EXPECT_EQ(packets[0].header.size, 43u);
  EXPECT_EQ(site.hits(), 0);
}

TEST_F(ServiceFixture, GuestRefusedUnlessAllowed) {
  TinySite site(kPage);
  config_.allowGuests = nbsvc::ParseCommandLine({}).serve.allowGuests;
  Start();
  auto refused = Exchange(Header(0, "", site.port()), "");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].header.msg, NB_PACKET_AUTHFAILED);
  server_->Stop();
  thread_.join();
  server_.reset();
  config_.allowGuests = nbsvc::ParseCommandLine({"--guest"}).serve.allowGuests;
  Start();
  auto served = Exchange(Header(0, "", site.port()), "");
  EXPECT_EQ(nbtest::Contents(served), kPage);
}

TEST_F(ServiceFixture, CapsFlagLimitsWhatTheServiceActsOn) {
  TinySite site(kPage);
  nbClientHeader h = Header(0, "", site.port());
  h.caps = NB_CAP_TEXT2 | NB_CAP_KEEPALIVE;
  EXPECT_FALSE(nbsvc::ParseCommandLine({"--caps", "65536"}).error.empty());
  config_.capsMask = nbsvc::ParseCommandLine({"--caps", "2"}).serve.capsMask;
  Start();
  auto packets = Exchange(h, "");
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(packets[0].header.caps, NB_CAP_TEXT2);  // no kept connection: no end packet either
  EXPECT_NE(packets.back().header.msg, NB_PACKET_END);
  EXPECT_EQ(nbtest::Contents(packets), kPage);
}

TEST_F(ServiceFixture, InternalDestinationRefusedByDefault) {
  TinySite site(kPage);
  config_.allowPrivate = false;
  Start();
  auto packets = Exchange(Header(0, "", site.port()), "");
  std::string content = nbtest::Contents(packets);
  EXPECT_EQ(content.compare(0, 12, "HTTP/1.0 403"), 0) << content;
  EXPECT_EQ(site.hits(), 0);
}

TEST_F(ServiceFixture, RequestToTheServiceItselfIsRefused) {
  Start();
  nbClientHeader h = Header(0, "", server_->BoundPort());
  h.ipNet = nbtest::Loopback();
  std::string content = nbtest::Contents(Exchange(h, ""));
  EXPECT_EQ(content.compare(0, 12, "HTTP/1.0 403"), 0) << content;
}

TEST_F(ServiceFixture, UnreachableSiteGetsBadGatewayPage) {
  Start();
  nbtest::Listener closed;  // bound and listening, then closed: nothing answers there
  std::uint16_t port = closed.port();
  closed.Close();
  nbClientHeader h = Header(0, "", port);
  h.ipNet = nbtest::Loopback();
  auto packets = Exchange(h, "");
  std::string content = nbtest::Contents(packets);
  EXPECT_EQ(content.compare(0, 12, "HTTP/1.0 502"), 0) << content;
}

TEST_F(ServiceFixture, AnswerAboveTheCapSendsGetToTheDirectRoad) {
  std::string big =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
      "Content-Length: 20000\r\n\r\n" +
      std::string(20000, 'b');
  TinySite site(big);
  config_.maxResponse = 8192;
  Start();
  auto packets = Exchange(Header(42, digest_, site.port()), digest_);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].header.msg, NB_PACKET_NOMONEY);
  EXPECT_EQ(packets[0].header.size, 0u);  // this request only, not the account
  EXPECT_EQ(Money(42), 100000);
  // A POST is not repeated by the client: whatever of it left, the answer
  // ends with the cut marker, so the browser cannot take it for whole.
  bool cut = false;
  auto post = SplitPackets(RawExchange(Header(42, digest_, site.port()),
                                       "POST /form HTTP/1.0\r\nContent-Length: 0\r\n\r\n"),
                           &cut);
  EXPECT_TRUE(cut);
  std::string got = nbtest::Contents(post);
  EXPECT_EQ(got, big.substr(0, got.size()));
}

TEST_F(ServiceFixture, ClientThatStopsReadingIsDroppedAndHoldsUpTheFetch) {
  FloodSite site(64u << 20);
  config_.maxResponse = 128u << 20;
  config_.clientSendTimeoutMs = 300;
  config_.pricePerMiB = 1;
  Start();
  nbplat::OwnedSocket s(nbtest::ConnectLocal(server_->BoundPort()));
  ASSERT_TRUE(
      nbtest::SendRequest(s.get(), Header(42, digest_, site.port()), "GET / HTTP/1.0\r\n\r\n"));
  // Never read: the service gives up on its own and drops the fetch, having
  // taken from the site only what the sockets on the way buffer.
  ASSERT_TRUE(site.Wait(60000));
  EXPECT_LT(site.sent(), 40u << 20);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("result=served-client-gone"), std::string::npos) << lines[0];
}

// 2 MiB of incompressible bytes: at this price every piece costs about
// 19000 hundredths.
std::string CostlyAnswer() {
  std::string body(2 << 20, '\0');
  std::mt19937 gen(3);
  for (auto& ch : body) ch = static_cast<char>(gen());
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(ServiceFixture, ConcurrentAnswersOverdrawByAtMostOnePieceEach) {
  TinySite site(CostlyAnswer());
  Start();
  SetMoney(42, 1);
  const int kClients = 4;
  std::vector<std::string> raw(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      raw[i] = RawExchange(Header(42, digest_, site.port()), "GET / HTTP/1.0\r\n\r\n");
    });
  }
  for (auto& t : clients) t.join();
  std::int64_t piece = nbsvc::CostOfBytes(kMaxBodySize + 1000, config_.pricePerMiB);
  EXPECT_GE(Money(42), 1 - kClients * piece);
  for (const std::string& r : raw) {
    // Cut where the money ran out, or sent direct before anything left.
    bool cut = false;
    auto packets = SplitPackets(r, &cut);
    ASSERT_FALSE(packets.empty());
    if (!cut) {
      ASSERT_EQ(packets.size(), 1u);
      EXPECT_EQ(packets[0].header.msg, NB_PACKET_NOMONEY);
      EXPECT_EQ(packets[0].header.size, 42u);
    }
  }
}

TEST_F(ServiceFixture, MoneySpentBeforeAnythingLeftGetsNoMoneyOrTheCutMarker) {
  // Another answer takes the money while this one is fetched.
  TinySite site(kPage, 0, [this] {
    SetMoney(42, 0);
    nbplat::SleepMs(nbsvc::kBalanceFreshMs + 200);  // a slow site
  });
  Start();
  bool cut = false;
  auto get =
      SplitPackets(RawExchange(Header(42, digest_, site.port()), "GET / HTTP/1.0\r\n\r\n"), &cut);
  EXPECT_FALSE(cut);
  ASSERT_EQ(get.size(), 1u);
  EXPECT_EQ(get[0].header.msg, NB_PACKET_NOMONEY);
  EXPECT_EQ(get[0].header.size, 42u);  // the account is empty: later requests go direct too
  // A POST must not be sent twice: the client gets a cut answer instead.
  SetMoney(42, 100000);
  auto post = SplitPackets(
      RawExchange(Header(42, digest_, site.port()), "POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n"),
      &cut);
  EXPECT_TRUE(cut);
  EXPECT_EQ(nbtest::Contents(post), "");
  EXPECT_EQ(Money(42), 0);
}

TEST_F(ServiceFixture, CutAnswerIsSentAsAFailureAndNotCharged) {
  std::string cut = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1000\r\n\r\n" +
                    std::string(100, 'c');
  TinySite closes(cut);       // closes after 100 of 1000 bytes
  TinySite falls(cut, 1500);  // falls silent after them
  config_.fetchIdleMs = 300;
  Start();
  for (std::uint16_t port : {closes.port(), falls.port()}) {
    nbplat::OwnedSocket s(nbtest::ConnectLocal(server_->BoundPort()));
    ASSERT_TRUE(nbtest::SendRequest(s.get(), Header(42, digest_, port), "GET / HTTP/1.0\r\n\r\n"));
    std::string all;
    char buf[4096];
    for (;;) {
      nbplat::IoResult r = nbplat::RecvSome(s.get(), buf, sizeof buf, 5000);
      if (!r.ok()) break;
      all.append(buf, r.bytes);
    }
    // One content header whose body never comes: the client's "not all data".
    ASSERT_EQ(all.size(), kServiceHeaderSize) << port;
    nbServiceHeader h = DecodeServiceHeader(reinterpret_cast<const unsigned char*>(all.data()));
    EXPECT_EQ(h.msg, NB_PACKET_NOCOMPRESS);
    EXPECT_GT(h.size, 0u);
  }
  EXPECT_EQ(Money(42), 100000);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& l : lines) EXPECT_NE(l.find("result=cut"), std::string::npos) << l;
}

TEST_F(ServiceFixture, ConcurrentRequestsChargeEveryAnswerOnce) {
  TinySite site(kPage);
  Start();
  const int kClients = 16;
  std::vector<std::thread> clients;
  std::vector<std::int64_t> seen(kClients, -1);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      auto packets = Exchange(Header(42, digest_, site.port()), digest_);
      if (!packets.empty() && nbtest::Contents(packets) == kPage) seen[i] = packets[0].header.money;
    });
  }
  for (auto& t : clients) t.join();
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kClients));
  std::int64_t charged = 0;
  for (const auto& l : lines) {
    std::size_t at = l.find(" charged=");
    ASSERT_NE(at, std::string::npos);
    charged += std::stoll(l.substr(at + 9));
  }
  EXPECT_GT(charged, 0);
  EXPECT_EQ(Money(42), 100000 - charged);
  // Every answer saw a distinct balance: no two charges overlapped.
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_GE(seen.front(), 0);
}

}  // namespace

TEST_F(ServiceFixture, AnswerWhoseChargeFailsIsNotServed) {
  // Ends when the site closes; the account vanishes while it is fetched.
  TinySite site("HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'p'), 600);
  Start();
  nbplat::OwnedSocket s(nbtest::ConnectLocal(server_->BoundPort()));
  nbClientHeader h = Header(42, digest_, site.port());
  ASSERT_TRUE(nbtest::SendRequest(s.get(), h, "GET / HTTP/1.0\r\n\r\n"));
  for (int i = 0; i < 200 && site.hits() == 0; ++i) nbplat::SleepMs(10);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(config_.dbPath.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  EXPECT_EQ(sqlite3_exec(db, "DELETE FROM accounts WHERE login = 42", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string page = nbtest::Contents(nbtest::ReadAnswers(s.get(), &h, digest_));
  EXPECT_NE(page.find("503 Service Unavailable"), std::string::npos) << page;
  EXPECT_EQ(page.find("ppppp"), std::string::npos);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("charged=0 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("result=db-error"), std::string::npos) << lines[0];
}
