// The tray logic both trays share: tip, check marks after menu commands (read
// back from the options file each command rewrites), animation sequence and
// the console address.
#include "tray/tray_logic.h"

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/options_fixture.h"

using TrayLogicTest = OptionsDirTest;

TEST(TrayTip, RatioOneWhenNothingWasSaved) {
  Program_Options po;
  po.dTotalTraffic = po.dCompressTraffic = 3 * 1024 * 1024;
  EXPECT_EQ(nbtray::TipText(po),
            "До сжатия: 3.00 Mb\nПосле сжатия: 3.00 Mb\nСэкономлено: 0.00 Mb (0.00 руб)\n"
            "Коэф. сжатия: 1.00\nДоступ: Приоритетный");
}

TEST_F(TrayLogicTest, CommandsRewriteTheFileAndMoveTheMarks) {
  ChangeProgramOptions([](Program_Options& po) {
    po.iPort = 4321;
    po.iJpegLvl = 1;
  });
  // Marks of the quality items and of 208, as the saved file gives them.
  auto marks = [] {
    Program_Options saved;
    ParseProgramOptions(ReadIni(), saved);
    std::vector<bool> m;
    for (int id : {IDM_GRAPHLOW, IDM_GRAPHMEDIUM, IDM_GRAPHHIGH, IDM_COMPRESSOFF}) {
      m.push_back(nbtray::IsItemChecked(id, saved));
    }
    return m;
  };
  using M = std::vector<bool>;
  EXPECT_EQ(nbtray::RunCommand(IDM_GRAPHLOW), nbtray::TrayAction::OptionsChanged);
  EXPECT_EQ(marks(), (M{true, false, false, false}));
  nbtray::RunCommand(IDM_GRAPHHIGH);
  EXPECT_EQ(marks(), (M{false, false, true, false}));
  nbtray::RunCommand(IDM_GRAPHLOW);
  EXPECT_EQ(marks(), (M{true, false, false, false}));
  nbtray::RunCommand(IDM_COMPRESSOFF);
  EXPECT_EQ(marks(), (M{true, false, false, true}));
  nbtray::RunCommand(IDM_COMPRESSOFF);
  EXPECT_EQ(marks(), (M{true, false, false, false}));
  EXPECT_FALSE(nbtray::IsItemChecked(IDM_GRAPHLOW, [] {
    Program_Options po;
    po.iJpegLvl = 7;  // no quality item for other values
    return po;
  }()));

  // An unknown id changes nothing and writes nothing.
  std::remove(kOptionsFileName);
  EXPECT_EQ(nbtray::RunCommand(299), nbtray::TrayAction::None);
  EXPECT_FALSE(IniExists());
}

TEST(TrayAnimation, TwoRequestsInOneRunGiveOneRun) {
  nbtray::Animation a;
  std::vector<int> frames;
  int frame = -1;
  EXPECT_FALSE(a.Step(&frame));
  a.Request(true);
  for (int pass = 0; pass < 12; ++pass) {
    if (pass == 2) a.Request(true);  // a second request inside the run
    if (a.Step(&frame)) frames.push_back(frame);
  }
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 4, 5, 0}));
  EXPECT_FALSE(a.Pending());
}

TEST(TrayConsole, AddressFollowsTheSettingsPort) {
  EXPECT_EQ(nbtray::ConsoleUrl(3344), "http://localhost:3344/");
  EXPECT_EQ(nbtray::ConsoleUrl(8080), "http://localhost:8080/");
}
