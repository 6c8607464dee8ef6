// Reading one browser request: when it is complete, when another method's
// head ends the read at once, and the 200000-byte limit.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "kernel/limits.h"
#include "kernel/road.h"
#include "test_support.h"

namespace {

RequestState Classify(const std::string& text) {
  std::vector<char> buff(text.begin(), text.end());
  buff.push_back(0);
  return ClassifyRequest(buff.data(), static_cast<int>(text.size()));
}

TEST(ClassifyRequest, PostWaitsForItsWholeBody) {
  const std::string head = "POST /f HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(Classify(head), RequestState::Incomplete);
  EXPECT_EQ(Classify(head + "123456"), RequestState::Incomplete);
  // Not complete four bytes early: the body's last bytes matter to the site.
  EXPECT_EQ(Classify(head + "123456789"), RequestState::Incomplete);
  EXPECT_EQ(Classify(head + "1234567890"), RequestState::Complete);
  EXPECT_EQ(RequestWireSize((head + "12").c_str(), static_cast<int>(head.size()) + 2),
            static_cast<int>(head.size()) + 10);
}

TEST(ClassifyRequest, AbsurdOrConflictingLengthsAreRefused) {
  const std::string head = "POST /f HTTP/1.1\r\nHost: h\r\nContent-Length: ";
  for (const char* len : {"9223372036854775807", "2000000001", "-1", "12abc", " ",
                          "3\r\nContent-length:4", "4\r\nTransfer-Encoding: chunked"}) {
    EXPECT_EQ(Classify(head + len + "\r\n\r\nabcd"), RequestState::BadLength) << len;
  }
  // The same length twice stands; the largest one allowed is awaited.
  EXPECT_EQ(Classify(head + "3\r\ncontent-length : 3\r\n\r\nabc"), RequestState::Complete);
  EXPECT_EQ(Classify(head + "2000000000\r\n\r\n"), RequestState::Incomplete);
}

// Runs ReadBrowserRequest with no idle limit on a helper thread; the guard
// only keeps a broken build from hanging the whole suite.
struct ReadOutcome {
  bool finished;
  std::string data;
};

ReadOutcome ReadFrom(nbtest::SocketPair& pair) {
  std::vector<char> buff(nb::kRequestBufferSize);
  auto done = std::async(std::launch::async, [&] {
    return ReadBrowserRequest(pair.far.get(), buff.data(), nb::kRequestBufferSize,
                              nb::kMaxPacketSize, -1);
  });
  if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    nbplat::ShutdownSocket(pair.far.get());
    done.wait();
    return {false, ""};
  }
  const int n = done.get();
  return {true, std::string(buff.data(), static_cast<std::size_t>(n))};
}

TEST(ReadBrowserRequest, StopsAtACompleteRequestWithoutWaitingForClose) {
  nbtest::SocketPair pair = nbtest::MakePair();
  const std::string head = "POST /f HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\n";
  std::thread browser([&] {
    nbtest::SendText(pair.near.get(), head.substr(0, 10));
    nbplat::SleepMs(20);
    nbtest::SendText(pair.near.get(), head.substr(10) + "ab");
    nbplat::SleepMs(20);
    nbtest::SendText(pair.near.get(), "cde");
  });
  const ReadOutcome r = ReadFrom(pair);
  browser.join();
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.data, head + "abcde");
}

TEST(ReadBrowserRequest, AnotherMethodsHeadEndsTheReadAtOnce) {
  nbtest::SocketPair pair = nbtest::MakePair();
  const std::string head = "CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\n\r\n";
  nbtest::SendText(pair.near.get(), head);
  const ReadOutcome r = ReadFrom(pair);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.data, head);
}

TEST(ReadBrowserRequest, ReadsAtMostTheLimitAndEndsOnClose) {
  nbtest::SocketPair pair = nbtest::MakePair();
  const std::string head = "POST /f HTTP/1.1\r\nHost: h\r\nContent-Length: 300000\r\n\r\n";
  const std::string body(300000, 'b');
  std::thread browser([&] { nbtest::SendText(pair.near.get(), head + body); });
  const ReadOutcome r = ReadFrom(pair);
  pair.far.reset();  // the rest of the body is never read: let the sender end
  browser.join();
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.data.size(), static_cast<std::size_t>(nb::kMaxPacketSize));

  nbtest::SocketPair short_pair = nbtest::MakePair();
  nbtest::SendText(short_pair.near.get(), "GET / HTTP/1.1\r\nHo");
  short_pair.near.reset();
  const ReadOutcome partial = ReadFrom(short_pair);
  ASSERT_TRUE(partial.finished);
  EXPECT_EQ(partial.data, "GET / HTTP/1.1\r\nHo");
}

TEST(ReadBrowserRequest, HeadMustArriveWithinItsDeadline) {
  nbtest::SocketPair pair = nbtest::MakePair();
  const std::string head = "GET / HTTP/1.1\r\nHost: h\r\nX-Slow: 0123456789012345\r\n\r\n";
  // A byte every 50 ms: each read is quick, the head as a whole takes 2.5 s.
  std::thread browser([&] {
    for (char c : head) {
      if (!nbtest::SendText(pair.near.get(), std::string(1, c))) break;
      nbplat::SleepMs(50);
    }
  });
  std::vector<char> buff(nb::kRequestBufferSize);
  const int n = ReadBrowserRequest(pair.far.get(), buff.data(), nb::kRequestBufferSize,
                                   nb::kMaxPacketSize, 1000, 300);
  pair.far.reset();
  browser.join();
  EXPECT_LT(n, static_cast<int>(head.size()));
}

}  // namespace
