// Many threads changing and saving the options at once.
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "kernel/options_fixture.h"
#include "kernel/stats_flusher.h"

using OptionsConcurrencyTest = OptionsDirTest;

TEST_F(OptionsConcurrencyTest, ConcurrentChangesLoseNoAddition) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kRounds; ++i) {
        ChangeProgramOptions([](Program_Options& po) {
          po.dTotalTraffic += 3;
          po.dCompressTraffic += 1;
          po.iLogin += 1;
        });
      }
    });
  }
  for (std::thread& th : threads) th.join();
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iLogin, kThreads * kRounds);
  EXPECT_EQ(po.dTotalTraffic, 3.0 * kThreads * kRounds);
  EXPECT_EQ(po.dCompressTraffic, 1.0 * kThreads * kRounds);
}

TEST_F(OptionsConcurrencyTest, ReadersNeverSeeAPartialFile) {
  LoadProgramOptions();
  std::atomic<bool> done{false};
  std::atomic<int> partial{0};
  std::atomic<int> reads{0};
  // A reader that opens the file while writers keep saving: with a save by
  // rename it always finds a whole file of 21 lines.
  std::thread reader([&] {
    auto burst = std::chrono::steady_clock::now();
    while (!done) {
      // Reads in bursts of 2 ms with 1 ms pauses: on Windows an open file
      // cannot be replaced, and a reader that never lets go starves the savers.
      if (std::chrono::steady_clock::now() - burst >= std::chrono::milliseconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        burst = std::chrono::steady_clock::now();
      }
      std::ifstream f(kOptionsFileName, std::ios::binary);
      // Windows refuses the open for a moment while the file is replaced:
      // no file is not a partial file.
      if (!f.is_open()) continue;
      std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      int lines = 0;
      for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2))
        ++lines;
      if (lines != 21 || text.compare(text.size() - 2, 2, "\r\n") != 0) ++partial;
      ++reads;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([] {
      for (int i = 0; i < 100; ++i) {
        ChangeProgramOptions([](Program_Options& po) { po.dMoney += 1; });
        EXPECT_TRUE(SaveProgramOptions());
      }
    });
  }
  for (std::thread& th : writers) th.join();
  done = true;
  reader.join();
  EXPECT_EQ(partial.load(), 0) << "of " << reads.load() << " reads";

  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  EXPECT_EQ(GetProgramOptions().dMoney, 400) << "the last save holds every change";
}

// The counters have a lock of their own and reach the file only through a
// flush: the timer's (only when they changed) or the one at stop.
TEST_F(OptionsConcurrencyTest, CountersReachTheFileOnlyThroughTheFlush) {
  LoadProgramOptions();
  const std::string loaded = ReadIni();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 1000; ++i) {
        if (t == 0) {
          ChangeProgramOptions([](Program_Options& po) { po.iLogin += 1; });
        } else {
          Options().AddTraffic(3, 1);
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(GetProgramOptions().iLogin, 1000);
  EXPECT_EQ(GetProgramOptions().dTotalTraffic, 9000.0);
  EXPECT_EQ(ReadIni(), loaded) << "no write per count";

  {
    StatsFlusher timer;
    ASSERT_TRUE(timer.Start(Options(), 20));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadIni().find("TotalTraffic:9000\r\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    EXPECT_NE(ReadIni().find("CompressTraffic:3000\r\n"), std::string::npos) << ReadIni();
  }
  // Unchanged counters are not written again.
  std::filesystem::remove(kOptionsFileName);
  EXPECT_TRUE(Options().SaveIfChanged());
  EXPECT_FALSE(IniExists());

  // The stop flushes what the timer has not written yet.
  StatsFlusher slow;
  ASSERT_TRUE(slow.Start(Options(), 3600 * 1000));
  Options().SetMoney(42);
  Options().AddTunnelTraffic(7);
  slow.Stop();
  EXPECT_NE(ReadIni().find("Money:42\r\nStatSince:"), std::string::npos) << ReadIni();
  EXPECT_NE(ReadIni().find("TunnelTraffic:7\r\n"), std::string::npos) << ReadIni();
}
