// The worker as a whole on one loopback connection: what the browser gets
// for refused, locally answered and relayed requests, and that the worker
// slot is always given back.
#include "kernel/dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "kernel/options.h"
#include "kernel/state.h"
#include "kernel/thread_args.h"
#include "loopback.h"

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
    nbtest::SendText(pair.near.get(), request);
    auto* args = new ThreadArgs();
    args->sckBrowser = pair.far.release();
    args->ipClient = ipClient;
    const int before = iAmountThread.load();
    ++iAmountThread;  // the acceptor counts the slot before the worker starts
    std::thread worker(processRequest, static_cast<void*>(args));
    std::string got = nbtest::ReadToEnd(pair.near.get());
    worker.join();
    EXPECT_EQ(iAmountThread.load(), before);
    return got;
  }
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
  // Without a condition, or with the upper-case name without a query, the
  // request is relayed (and finds nobody).
  EXPECT_EQ(Serve(Get("http://127.0.0.1:9/a/photo.jpg", "127.0.0.1:9")), "");
  EXPECT_EQ(Serve(Get("http://127.0.0.1:9/a/photo.JPG", "127.0.0.1:9", "If-None-Match: \"x\"\r\n")),
            "");
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

}  // namespace
