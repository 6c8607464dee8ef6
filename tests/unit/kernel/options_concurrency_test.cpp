// Many threads changing and saving the options at once.
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "kernel/options_fixture.h"

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
