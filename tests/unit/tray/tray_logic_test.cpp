// The tray logic both trays share: tip, check marks after menu commands (read
// back from the options file each command rewrites), animation sequence and
// the console address.
#include "tray/tray_logic.h"

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/context.h"
#include "kernel/options_fixture.h"
#include "tray/tray.h"

// The tray shows the program's options, as the program wires it.
class TrayLogicTest : public OptionsDirTest {
 protected:
  void SetUp() override {
    OptionsDirTest::SetUp();
    WinSysTray::InitWinSysTray(gClient.options);
  }
};

TEST(TrayTip, RatioOneWhenNothingWasSaved) {
  Program_Options po;
  po.dTotalTraffic = po.dCompressTraffic = 3 * 1024 * 1024;
  EXPECT_EQ(nbtray::TipText(po),
            "До сжатия: 3.00 Мб\nПосле сжатия: 3.00 Мб\nСэкономлено: 0.00 Мб (0.00 руб)\n"
            "Коэф. сжатия: 1.00\nДоступ: Приоритетный");
}

TEST(TrayLink, OfflineShowsItsIconAndTipOncePerChange) {
  Program_Options po;
  po.dTrafficCost = 3;
  po.dTotalTraffic = 1e15;  // large figures still leave the notice whole
  const std::string tip = nbtray::TipText(po, true);
  EXPECT_EQ(tip.rfind("Сервис сжатия недоступен:\nстраницы идут без сжатия.\n", 0), 0u) << tip;
  EXPECT_LE(tip.size(), nbtray::kTipMax);
  EXPECT_EQ(nbtray::IconFor(0, true), IDI_OFFLINE);
  EXPECT_EQ(nbtray::IconFor(0, false), IDI_NORMAL);
  EXPECT_EQ(nbtray::IconFor(3, true), IDI_FRAME0 + 3) << "traffic still animates";
  // Every balloon line ends in blanks, so a shell that sizes it short cuts no text.
  for (const std::string& text : {nbtray::BalloonText(po), nbtray::OfflineBalloonText()}) {
    EXPECT_NE(text.find(std::string(nbtray::kBalloonPad) + "\n"), std::string::npos) << text;
  }
  nbtray::LinkState link;
  bool offline = false;
  EXPECT_FALSE(link.Take(&offline));
  link.Set(true);
  link.Set(true);
  EXPECT_TRUE(link.Take(&offline));
  EXPECT_TRUE(offline);
  EXPECT_FALSE(link.Take(&offline)) << "one change, one update";
  link.Set(false);
  EXPECT_TRUE(link.Take(&offline));
  EXPECT_FALSE(offline);
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
