// The settings server over real loopback connections: result codes of the
// socket operations, and what the loop answers to each kind of request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/platform.h"
#include "settings/settingsman.h"
#include "test_support.h"

namespace {

using nbtest::Ip;

// A port nobody listens on right now. The choice is random per process:
// test processes started in the same millisecond must not probe the same
// ports.
int FreePort() {
  std::random_device seed;
  std::mt19937 rng(seed());
  for (int i = 0; i < 200; ++i) {
    int port = 20000 + static_cast<int>(rng() % 40000);
    nbSocket probe;
    bool ok = probe.Listen(port);
    probe.Close();
    if (ok) return port;
  }
  return 0;
}

// Sends data from a client socket (bound to source when non-zero), and
// returns all it receives until the server closes; "" on no answer.
std::string Exchange(int port, const std::string& data, std::uint32_t source = 0,
                     const std::string& later = "") {
  nbplat::Socket s = nbplat::TcpSocket();
  if (s == nbplat::kNoSocket) return "<no socket>";
  if (source != 0 && !nbplat::BindIPv4(s, 0, source)) {
    nbplat::CloseSocket(s);
    return "<no bind>";
  }
  if (!nbplat::ConnectIPv4(s, Ip(127, 0, 0, 1), static_cast<std::uint16_t>(port), 5000)) {
    nbplat::CloseSocket(s);
    return "<no connect>";
  }
  nbplat::SendAll(s, data.data(), data.size());
  if (!later.empty()) {
    nbplat::SleepMs(200);  // lets the server take the first part alone
    nbplat::SendAll(s, later.data(), later.size());
  }
  std::string answer;
  char buf[8192];
  for (;;) {
    nbplat::IoResult r = nbplat::RecvSome(s, buf, sizeof buf, 15000);
    if (!r.ok()) break;
    answer.append(buf, r.bytes);
  }
  nbplat::CloseSocket(s);
  return answer;
}

const char* const kPageHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";

TEST(SettingsManCodes, SocketOperations) {
  SettingsMan sm(gClient);
  EXPECT_FALSE(sm.Enabled());
  EXPECT_EQ(sm.Stop(), NBC_ERR_INVALID_OPERATION);
  EXPECT_EQ(sm.DestroySocket(), NBC_ERR_INVALID_OPERATION);
  int port = FreePort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(sm.CreateSocket(port), 0);
  EXPECT_EQ(sm.AssignPort(port), NBC_ERR_PORT_ALREADY_ASSIGNED);
  EXPECT_EQ(sm.DestroySocket(), 0);
  EXPECT_EQ(sm.DestroySocket(), NBC_ERR_INVALID_OPERATION);
  // The port is free again at once.
  EXPECT_EQ(sm.CreateSocket(port), 0);
  EXPECT_EQ(sm.CreateSocket(65535), NBC_ERR_COULDNOT_LISTEN_PORT);
  // The failed object stays and can be destroyed.
  EXPECT_EQ(sm.DestroySocket(), 0);
}

TEST(SettingsManCodes, PortInUse) {
  int port = FreePort();
  ASSERT_NE(port, 0);
  nbSocket other;
  ASSERT_TRUE(other.Listen(port));
  SettingsMan sm(gClient);
  EXPECT_EQ(sm.CreateSocket(port), NBC_ERR_COULDNOT_LISTEN_PORT);
  EXPECT_EQ(sm.Start(port), NBC_ERR_COULDNOT_LISTEN_PORT);
  EXPECT_TRUE(sm.Enabled());  // stays set: the console is simply unavailable
  EXPECT_EQ(sm.Start(port), NBC_ERR_ALREADY_STARTED);
  other.Close();
}

// A server running in a folder of its own with a small template and image.
class SettingsServer : public ::testing::Test {
 protected:
  void SetUp() override {
    oldDir_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("nb-settings-srv-" + std::to_string(nbplat::TickCountMs()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "share");
    std::filesystem::current_path(dir_);
    std::ofstream(nbset::kTemplateFile, std::ios::binary)
        << "<html>\r\nL=idLoginValue J=idJpgLvlValue F=idBlockFlashValue\r\n"
           "U=idForbiddenUrlsValue P=idProxyNameValue\r\n</html>\r\n";
    // The image carries a mark of this fixture: an answer with it comes from
    // this test's own server, not from one of another test process.
    std::random_device mark;
    for (int i = 0; i < 16; ++i) image_ += static_cast<char>(mark());
    for (int i = 0; i < 10000; ++i) image_ += static_cast<char>(i * 7 % 256);
    std::ofstream(nbset::kImageFile, std::ios::binary) << image_;

    saved_ = GetProgramOptions();
    Program_Options po;
    po.iLogin = 42;
    po.iJpegLvl = 1;
    po.bBlockFlash = true;
    po.vsBlockingUrls = {"adserver"};
    po.sProxyName = "proxy.lan";
    po.iPort = 4321;
    po.dTrafficCost = 3;
    SetProgramOptions(po);

    // The port may be taken between the probe and the server's own listen
    // (by another test process): then the server ends at once and another
    // port is tried. The server is up once it answers with this fixture's
    // image; a loaded machine may take long to get there.
    const std::string ownImage = "HTTP/1.0 200 OK\r\nContent-Type: \r\n\r\n" + image_;
    bool up = false;
    for (int attempt = 0; attempt < 5 && !up; ++attempt) {
      port_ = FreePort();
      ASSERT_NE(port_, 0);
      result_ = -1;
      ended_ = false;
      thread_ = std::thread([this] {
        result_ = server_.Start(port_);
        ended_ = true;
      });
      const std::uint32_t start = nbplat::TickCountMs();
      while (!ended_ && nbplat::TickCountMs() - start < 60000) {
        if (Exchange(port_, Get("/elefant256.jpg")) == ownImage) {
          up = true;
          break;
        }
        nbplat::SleepMs(20);
      }
      if (!up) {
        if (!ended_) server_.Stop();
        thread_.join();
        server_.Stop();  // Start left the console enabled on its failure
      }
    }
    ASSERT_TRUE(up) << "the settings server did not start";
  }
  void TearDown() override {
    if (thread_.joinable()) {
      EXPECT_EQ(server_.Stop(), 0);
      thread_.join();
      EXPECT_EQ(result_, 0);
    }
    SetProgramOptions(saved_);
    std::filesystem::current_path(oldDir_);
    std::filesystem::remove_all(dir_);
  }

  std::string Get(const std::string& path, const std::string& headers = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) + "\r\n" +
           headers + "\r\n";
  }
  std::string Post(const std::string& body, const std::string& headers = "") {
    std::string origin = "http://localhost:" + std::to_string(port_);
    return "POST /settings HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) +
           "\r\nOrigin: " + origin + "\r\nReferer: " + origin + "/\r\n" + headers +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n";
  }
  std::string OptionsFile() {
    std::ifstream in(kOptionsFileName, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::filesystem::path oldDir_, dir_;
  std::string image_;
  Program_Options saved_;
  SettingsMan server_{gClient};
  int port_ = 0;
  std::atomic<int> result_{-1};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

TEST_F(SettingsServer, SecondStartIsRefusedAtOnce) {
  EXPECT_EQ(server_.Start(port_), NBC_ERR_ALREADY_STARTED);
  EXPECT_TRUE(server_.Enabled());
}

TEST_F(SettingsServer, PagesAndImage) {
  const std::string page =
      std::string(kPageHead) + "<html>\nL=42 J=1 F=1\nU=adserver\n P=proxy.lan\n</html>\n";
  EXPECT_EQ(Exchange(port_, Get("/")), page);
  EXPECT_EQ(Exchange(port_, Get("/settings")), page);
  EXPECT_EQ(Exchange(port_, Get("/favicon.ico")), page);
  EXPECT_EQ(Exchange(port_, Get("/elefant256.jpg")),
            "HTTP/1.0 200 OK\r\nContent-Type: \r\n\r\n" + image_);
  std::filesystem::remove(nbset::kImageFile);
  EXPECT_EQ(Exchange(port_, Get("/elefant256.jpg")), "");
  std::filesystem::remove(nbset::kTemplateFile);
  std::string missing = Exchange(port_, Get("/"));
  EXPECT_EQ(missing, kPageHead + SettingsTemplateMissingPage());
  // No URL: closed unanswered, and the server goes on.
  EXPECT_EQ(Exchange(port_, "GET\r\n\r\n"), "");
  EXPECT_EQ(Exchange(port_, Get("/")).rfind(kPageHead, 0), 0u);
}

TEST_F(SettingsServer, FormIsStoredSavedAndShown) {
  std::string body =
      "idJpgLvl=2&idBlockFlash=0&idForbiddenUrls=ads.one%0D%0A%0D%0Aads.two"
      "&idProxyName=&idProxyPassword=";
  std::string answer = Exchange(port_, Post(body) + body);
  EXPECT_EQ(answer,
            std::string(kPageHead) + "<html>\nL=42 J=2 F=0\nU=ads.one\nads.two\n P=\n</html>\n");
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iJpegLvl, 2);
  EXPECT_FALSE(po.bBlockFlash);
  EXPECT_EQ(po.vsBlockingUrls, (std::vector<std::string>{"ads.one", "ads.two"}));
  EXPECT_EQ(po.sProxyName, "");
  std::string file = OptionsFile();
  EXPECT_NE(file.find("JpgLvl:2\r\n"), std::string::npos) << file;
  EXPECT_NE(file.find("BlockingUrls:ads.one;ads.two;\r\n"), std::string::npos) << file;
}

TEST_F(SettingsServer, FormThatCannotBeSavedSaysSo) {
  // A folder in the options file's place: every save fails.
  std::filesystem::remove(kOptionsFileName);
  std::filesystem::create_directory(kOptionsFileName);
  const std::string body = "idJpgLvl=2";
  const std::string answer = Exchange(port_, Post(body) + body);
  EXPECT_EQ(answer.rfind("HTTP/1.0 500 ", 0), 0u) << answer;
  EXPECT_NE(answer.find("Настройки не сохранены"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("L=42"), std::string::npos) << "no settings page";
  EXPECT_EQ(GetProgramOptions().iJpegLvl, 2) << "applied until the program ends";
  std::filesystem::remove(kOptionsFileName);
  EXPECT_EQ(Exchange(port_, Get("/")).rfind(kPageHead, 0), 0u) << "the console goes on";
}

TEST_F(SettingsServer, BodyArrivingAfterTheHeadIsRead) {
  std::string body = "idJpgLvl=0&idBlockFlash=0";
  Exchange(port_, Post(body), 0, body);
  EXPECT_EQ(GetProgramOptions().iJpegLvl, 0);
  EXPECT_FALSE(GetProgramOptions().bBlockFlash);
}

TEST_F(SettingsServer, FormWithoutContentLength) {
  std::string request = "POST /settings HTTP/1.0\r\nHost: localhost\r\n\r\nidJpgLvl=0";
  EXPECT_EQ(Exchange(port_, request).rfind(kPageHead, 0), 0u);
  EXPECT_EQ(GetProgramOptions().iJpegLvl, 0);
}

TEST_F(SettingsServer, LongListsAreReadWhole) {
  std::string urls;
  std::vector<std::string> expected;
  for (int i = 0; i < 400; ++i) {
    expected.push_back("banner" + std::to_string(i) + ".example");
    urls += (i ? "%0D%0A" : "") + expected.back();
  }
  std::string body = "idJpgLvl=2&idForbiddenUrls=" + urls;
  ASSERT_GT(body.size(), 8192u);
  std::string request = Post(body) + body;
  Exchange(port_, request.substr(0, 3000), 0, request.substr(3000));
  EXPECT_EQ(GetProgramOptions().vsBlockingUrls, expected);
}

TEST_F(SettingsServer, ForgedRequestsChangeNothing) {
  std::string body = "idJpgLvl=2&idProxyName=evil.example";
  std::string foreign = "POST /settings HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) +
                        "\r\nOrigin: http://127.0.0.2\r\nSec-Fetch-Site: cross-site\r\n"
                        "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
  EXPECT_EQ(Exchange(port_, foreign), "");
  std::string rebound = "POST /settings HTTP/1.1\r\nHost: evil.example:" + std::to_string(port_) +
                        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  EXPECT_EQ(Exchange(port_, rebound), "");
  EXPECT_EQ(Exchange(port_, Get("/stop", "Sec-Fetch-Site: cross-site\r\n")), "");
  EXPECT_EQ(Exchange(port_, Get("/stop", "Referer: http://127.0.0.2/page.html\r\n")), "");
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iJpegLvl, 1);
  EXPECT_EQ(po.sProxyName, "proxy.lan");
  EXPECT_TRUE(server_.Enabled());
  EXPECT_EQ(Exchange(port_, Get("/")).rfind(kPageHead, 0), 0u);
}

TEST_F(SettingsServer, WholeHeadIsCheckedAndBounded) {
  // A long query must not push Origin and Sec-Fetch-Site out of the checks.
  std::string body = "idJpgLvl=2&idProxyName=evil.example";
  std::string pushed = "POST /settings?" + std::string(4030, 'A') +
                       " HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) +
                       "\r\nUser-Agent: curl/7.88.1\r\nAccept: */*\r\n"
                       "Origin: http://evil.example\r\nSec-Fetch-Site: cross-site\r\n"
                       "Content-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
  EXPECT_EQ(Exchange(port_, pushed), "");
  EXPECT_EQ(GetProgramOptions().sProxyName, "proxy.lan");
  // Rebound name: not even the page is shown.
  EXPECT_EQ(Exchange(port_, "GET / HTTP/1.1\r\nHost: attacker.example:" + std::to_string(port_) +
                                "\r\n\r\n"),
            "");
  // A head beyond the bound is refused; a long but bounded one is served.
  EXPECT_EQ(Exchange(port_, Get("/", "X-Pad: " + std::string(nbset::kHeadLimit, 'p') + "\r\n"))
                .rfind("HTTP/1.0 431 ", 0),
            0u);
  EXPECT_EQ(
      Exchange(port_, Get("/", "X-Pad: " + std::string(8000, 'p') + "\r\n")).rfind(kPageHead, 0),
      0u);
}

TEST_F(SettingsServer, OtherAddressGetsNoAnswer) {
  std::string answer = Exchange(port_, Get("/"), Ip(127, 0, 0, 2));
  if (answer == "<no bind>") GTEST_SKIP() << "no second loopback address here";
  EXPECT_EQ(answer, "");
}

TEST_F(SettingsServer, SilentConnectionDoesNotBlockTheConsole) {
  nbplat::Socket silent = nbplat::TcpSocket();
  ASSERT_TRUE(
      nbplat::ConnectIPv4(silent, Ip(127, 0, 0, 1), static_cast<std::uint16_t>(port_), 5000));
  EXPECT_EQ(Exchange(port_, Get("/")).rfind(kPageHead, 0), 0u);
  nbplat::CloseSocket(silent);
}

TEST_F(SettingsServer, TricklingBodyDoesNotHoldTheConsole) {
  // A byte of the body every half second: each read is quick, but the whole
  // request must end at its deadline, long before the body would.
  const std::string body = "idJpgLvl=2&idProxyName=slow.example" + std::string(200, 'x');
  nbplat::OwnedSocket s(nbplat::TcpSocket());
  ASSERT_TRUE(
      nbplat::ConnectIPv4(s.get(), Ip(127, 0, 0, 1), static_cast<std::uint16_t>(port_), 5000));
  nbtest::SendText(s.get(), Post(body));
  std::string answer;
  std::size_t sent = 0;
  for (; sent < body.size(); ++sent) {
    char buf[8192];
    const nbplat::IoResult r = nbplat::RecvSome(s.get(), buf, sizeof buf, 500);
    if (r.status != nbplat::IoStatus::TimedOut) {
      if (r.ok()) answer.append(buf, r.bytes);
      break;
    }
    nbtest::SendText(s.get(), body.substr(sent, 1));
  }
  EXPECT_LT(sent, body.size()) << "the console waited for the whole trickle";
  EXPECT_EQ(GetProgramOptions().sProxyName, "proxy.lan");
}

TEST_F(SettingsServer, CompressionSwitchWithoutTray) {
  EXPECT_EQ(Exchange(port_, Get("/compress-off")).rfind(kPageHead, 0), 0u);
  EXPECT_TRUE(GetProgramOptions().bCompressOff);
  // Saved at the end of the pass, which may follow the answer by a moment.
  for (int i = 0; i < 50 && OptionsFile().find("CompressOff:1\r\n") == std::string::npos; ++i) {
    nbplat::SleepMs(20);
  }
  EXPECT_NE(OptionsFile().find("CompressOff:1\r\n"), std::string::npos);
  Exchange(port_, Get("/compress-on", "Referer: http://other.example/\r\n"));
  EXPECT_TRUE(GetProgramOptions().bCompressOff);  // another site cannot switch it
  Exchange(port_, Get("/compress-on"));
  EXPECT_FALSE(GetProgramOptions().bCompressOff);
}

}  // namespace
