#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/debug.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Runs each test in a fresh folder of its own, since the URL log is written
// to the working directory.
class UrlLog : public ::testing::Test {
 protected:
  void SetUp() override { ResetLogURLForTests(); }
  nbtest::WorkDir work_;
  static std::vector<std::string> Lines() {
    std::ifstream in("nimbrel.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

// "<weekday>, <dd> <Mon> <yyyy> <hh:mm:ss>" in English.
bool IsTimeText(const std::string& text) {
  static const std::regex kTime(
      R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d)");
  return std::regex_match(text, kTime);
}

// Splits a log line "<time> GMT - <url>"; false when it is not one. The URL
// part is not given to the regex engine, whose recursion a long line would
// exhaust.
bool ParseLine(const std::string& line, std::string* url) {
  const std::size_t timeLen = 25;
  const std::string sep = " GMT - ";
  if (line.size() < timeLen + sep.size()) return false;
  if (!IsTimeText(line.substr(0, timeLen)) || line.compare(timeLen, sep.size(), sep) != 0)
    return false;
  *url = line.substr(timeLen + sep.size());
  return true;
}

}  // namespace

TEST_F(UrlLog, FirstCallTruncatesLaterCallsAppend) {
  {
    std::ofstream old("nimbrel.log");
    old << "line of an earlier run\n";
  }
  LogURL("http://a.example/");
  LogURL("http://b.example/x?y=1");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::string url;
  ASSERT_TRUE(ParseLine(lines[0], &url)) << lines[0];
  EXPECT_EQ(url, "http://a.example/");
  ASSERT_TRUE(ParseLine(lines[1], &url)) << lines[1];
  EXPECT_EQ(url, "http://b.example/x?y=1");
}

TEST_F(UrlLog, LongUrlIsWrittenWhole) {
  std::string url = "http://long.example/" + std::string(300000, 'q');
  LogURL(url.c_str());
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  std::string logged;
  ASSERT_TRUE(ParseLine(lines[0], &logged));
  EXPECT_EQ(logged, url);
}

TEST_F(UrlLog, ManyThreadsTruncateOnceAndNeverInterleave) {
  {
    std::ofstream old("nimbrel.log");
    old << "stale\n";
  }
  constexpr int kThreads = 16;
  constexpr int kPerThread = 20;
  std::mutex m;
  std::condition_variable go;
  bool started = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      {
        std::unique_lock<std::mutex> lock(m);
        go.wait(lock, [&] { return started; });
      }
      for (int i = 0; i < kPerThread; ++i) {
        // Long enough that an unguarded write could be split by another.
        std::string url = "http://t" + std::to_string(t) + ".example/" + std::to_string(i) + "/" +
                          std::string(5000, static_cast<char>('a' + t));
        LogURL(url.c_str());
      }
    });
  }
  {
    std::lock_guard<std::mutex> lock(m);
    started = true;
  }
  go.notify_all();
  for (std::thread& th : threads) th.join();

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
  std::set<std::string> urls;
  for (const std::string& line : lines) {
    std::string url;
    ASSERT_TRUE(ParseLine(line, &url)) << line.substr(0, 80);
    urls.insert(url);
  }
  EXPECT_EQ(urls.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

TEST(GmtTime, KnownDatesInEnglish) {
  EXPECT_EQ(FormatGmtTime(0), "Thu, 01 Jan 1970 00:00:00");
  EXPECT_EQ(FormatGmtTime(951782400), "Tue, 29 Feb 2000 00:00:00");
  EXPECT_EQ(FormatGmtTime(951868799), "Tue, 29 Feb 2000 23:59:59");
  EXPECT_EQ(FormatGmtTime(1709251199), "Thu, 29 Feb 2024 23:59:59");
  EXPECT_EQ(FormatGmtTime(4107542400LL), "Mon, 01 Mar 2100 00:00:00");
  EXPECT_EQ(FormatGmtTime(2147483648LL), "Tue, 19 Jan 2038 03:14:08");
}

TEST(GmtTime, AgreesWithRuntimeOverManyDays) {
  // Steps of a prime number of seconds cover every weekday, month and hour.
  for (long long t = 0; t < 4102444800LL; t += 7919LL * 1013) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm* tm = std::gmtime(&tt);
    ASSERT_NE(tm, nullptr);
    char expected[64];
    std::strftime(expected, sizeof expected, "%a, %d %b %Y %H:%M:%S", tm);
    ASSERT_EQ(FormatGmtTime(t), expected) << t;
  }
  EXPECT_TRUE(IsTimeText(gettime())) << gettime();
}

TEST(Trace, DiscardsByDefaultAndReachesASink) {
  static std::vector<std::string> seen;
  seen.clear();
  dbgmsg("ignored");  // no sink: nothing happens
  SetTraceSink([](const std::string& line) { seen.push_back(line); });
  dbgmsg(std::string("iSize="));
  dbgmsg(42.0);
  dbgmsg("text");
  dprintf("%s=%d", "port", 4321);
  SetTraceSink(nullptr);
  dbgmsg("after");
  EXPECT_EQ(seen, (std::vector<std::string>{"iSize=", "42", "text", "port=4321"}));
}
