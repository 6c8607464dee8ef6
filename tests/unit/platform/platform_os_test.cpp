// Platform layer behaviour that the two implementations must share: file
// replacement, port ownership, shut-down sockets and the route-table capture.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using nbtest::Loopback;

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Each test runs in a fresh temporary folder that is also the current one.
class PlatformDirTest : public ::testing::Test {
 protected:
  nbtest::WorkDir work_;
  const fs::path dir_ = work_.path();
};

// Owns a raw platform socket for the test's lifetime.
struct RawSocket {
  nbplat::Socket s = nbplat::TcpSocket();
  ~RawSocket() { nbplat::CloseSocket(s); }
};

}  // namespace

using PlatformFiles = PlatformDirTest;

TEST_F(PlatformFiles, ReplaceFileMovesTheNewFileOverTheOldOne) {
  WriteFile("new.tmp", "new contents\r\n");
  WriteFile("target.ini", "old contents, longer than the new ones\r\n");
  ASSERT_TRUE(nbplat::ReplaceFile("new.tmp", "target.ini"));
  EXPECT_EQ(ReadFile("target.ini"), "new contents\r\n");
  EXPECT_FALSE(fs::exists("new.tmp"));

  // Also when there is nothing to replace yet.
  WriteFile("first.tmp", "first");
  ASSERT_TRUE(nbplat::ReplaceFile("first.tmp", "fresh.ini"));
  EXPECT_EQ(ReadFile("fresh.ini"), "first");
}

TEST_F(PlatformFiles, FailedReplaceLeavesTheTargetAlone) {
  WriteFile("target.ini", "keep me");
  EXPECT_FALSE(nbplat::ReplaceFile("missing.tmp", "target.ini"));
  EXPECT_EQ(ReadFile("target.ini"), "keep me");
}

// A reader that holds the old file open for a moment (on Windows such an
// open file cannot be replaced) delays the save instead of failing it.
TEST_F(PlatformFiles, ReplaceWaitsOutAReaderThatHoldsTheTargetBriefly) {
  WriteFile("target.ini", "old");
  WriteFile("new.tmp", "new");
  std::ifstream reader("target.ini", std::ios::binary);
  ASSERT_TRUE(reader.is_open());
  std::thread closer([&reader] {
    nbplat::SleepMs(100);
    reader.close();
  });
  bool replaced = nbplat::ReplaceFile("new.tmp", "target.ini");
  closer.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(ReadFile("target.ini"), "new");
}

TEST(PlatformPorts, AListeningPortCannotBeTakenOverEvenWithAddressReuse) {
  nbplat::NetStartup();
  RawSocket first, second;
  ASSERT_TRUE(nbplat::SetReuseAddress(first.s));
  ASSERT_TRUE(nbplat::BindIPv4(first.s, 0, Loopback()));
  ASSERT_TRUE(nbplat::ListenOn(first.s, 4));
  std::uint16_t port = nbplat::LocalPort(first.s);
  ASSERT_NE(port, 0);
  // Address reuse must mean "re-listen after a restart", never "share a port
  // that another program is listening on".
  ASSERT_TRUE(nbplat::SetReuseAddress(second.s));
  EXPECT_FALSE(nbplat::BindIPv4(second.s, port, Loopback()));
  // Nor on every interface at once, which includes the loopback one.
  RawSocket third;
  ASSERT_TRUE(nbplat::SetReuseAddress(third.s));
  EXPECT_FALSE(nbplat::BindIPv4(third.s, port));
  nbplat::NetCleanup();
}

TEST(PlatformPorts, ShutDownSocketReportsTheEndNotAFailure) {
  nbplat::NetStartup();
  RawSocket listener, client;
  ASSERT_TRUE(nbplat::BindIPv4(listener.s, 0, Loopback()));
  ASSERT_TRUE(nbplat::ListenOn(listener.s, 4));
  ASSERT_TRUE(nbplat::ConnectIPv4(client.s, Loopback(), nbplat::LocalPort(listener.s), 5000));
  std::uint32_t peer = 0;
  RawSocket server;
  nbplat::CloseSocket(server.s);
  server.s = nbplat::AcceptConnection(listener.s, &peer);
  ASSERT_NE(server.s, nbplat::kNoSocket);
  ASSERT_TRUE(nbplat::SendAll(client.s, "ab", 2).ok());
  char buf[8];
  nbplat::IoResult r = nbplat::RecvSome(server.s, buf, 1, 5000);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(buf[0], 'a');

  // Our own shut-down ends our receiving: an orderly end, with or without a wait.
  nbplat::ShutdownSocket(client.s);
  EXPECT_EQ(nbplat::RecvSome(client.s, buf, sizeof buf).status, nbplat::IoStatus::Closed);
  EXPECT_EQ(nbplat::RecvSome(client.s, buf, sizeof buf, 1000).status, nbplat::IoStatus::Closed);
  // The peer still gets what was sent before, then the end.
  r = nbplat::RecvSome(server.s, buf, sizeof buf, 5000);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::string(buf, r.bytes), "b");
  EXPECT_EQ(nbplat::RecvSome(server.s, buf, sizeof buf, 5000).status, nbplat::IoStatus::Closed);
  nbplat::NetCleanup();
}

using PlatformRoutes = PlatformDirTest;

TEST_F(PlatformRoutes, CaptureLeavesNoTemporaryFileAndIgnoresAStaleOne) {
  std::string table = nbplat::ReadRouteTable();
  EXPECT_FALSE(fs::exists("route.dat"));
  // Whatever the table holds, it is text with addresses in dotted form.
  if (!table.empty()) {
    EXPECT_NE(table.find('.'), std::string::npos);
    EXPECT_EQ(table.find('\0'), std::string::npos);
  }

  WriteFile("route.dat", "stale 203.0.113.77 from an earlier run\n");
  table = nbplat::ReadRouteTable();
  EXPECT_EQ(table.find("203.0.113.77"), std::string::npos);
}

TEST(PlatformAddresses, EveryInterfaceAddressListedIsOurs) {
  nbplat::NetStartup();
  const std::vector<std::uint32_t> own = nbplat::LocalIPv4Addresses();
  ASSERT_FALSE(own.empty());
  // Only an address of this machine, in network byte order, can be bound.
  for (std::uint32_t ip : own) {
    RawSocket s;
    EXPECT_TRUE(nbplat::BindIPv4(s.s, 0, ip)) << ip;
  }
  nbplat::NetCleanup();
}
