// The headless tray: tip text, options saved by the menu refresh, animation.
#include <string>
#include <thread>

#include "kernel/context.h"
#include "kernel/options_fixture.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "tray/tray.h"

// The tray shows the program's options, as the program wires it.
class TrayTest : public OptionsDirTest {
 protected:
  void SetUp() override {
    OptionsDirTest::SetUp();
    WinSysTray::InitWinSysTray(gClient.options);
  }
};

TEST_F(TrayTest, TipWithoutTrafficShowsZerosAndRatioOne) {
  Program_Options po;
  po.dTrafficCost = 3;
  SetProgramOptions(po);
  EXPECT_EQ(WinSysTray::TipText(),
            "До сжатия: 0.00 Мб\nПосле сжатия: 0.00 Мб\nСэкономлено: 0.00 Мб (0.00 руб)\n"
            "Коэф. сжатия: 1.00\nДоступ: Приоритетный");
}

TEST_F(TrayTest, TipFiguresInMegabytesAndMoney) {
  Program_Options po;
  po.dTrafficCost = 3;
  po.dTotalTraffic = 10.0 * 1024 * 1024;
  po.dCompressTraffic = 2.5 * 1024 * 1024;
  SetProgramOptions(po);
  EXPECT_EQ(WinSysTray::TipText(),
            "До сжатия: 10.00 Мб\nПосле сжатия: 2.50 Мб\nСэкономлено: 7.50 Мб (22.50 руб)\n"
            "Коэф. сжатия: 4.00\nДоступ: Приоритетный");
}

TEST_F(TrayTest, HugeStatisticsAreCutTo127Characters) {
  Program_Options po;
  po.dTrafficCost = 1e30;
  po.dTotalTraffic = 1e40;
  po.dCompressTraffic = 1;
  SetProgramOptions(po);
  const std::string tip = WinSysTray::TipText();
  EXPECT_EQ(tip.size(), 127u);
  EXPECT_EQ(tip.compare(0, 11, "До сжатия: "), 0);
}

TEST_F(TrayTest, MenuRefreshSavesTheOptions) {
  ChangeProgramOptions([](Program_Options& po) {
    po.iPort = 4321;
    po.iJpegLvl = 2;
  });
  ASSERT_FALSE(IniExists());
  WinSysTray::UpdateMenu();
  EXPECT_NE(ReadIni().find("\r\nJpgLvl:2\r\n"), std::string::npos);
}

TEST_F(TrayTest, OneAnimationRunEndsByItself) {
  std::thread tray(WinSysTray::ThreadWinSysTray, nullptr);
  WinSysTray::NetworkActivity(true);
  WinSysTray::NetworkActivity(true);  // a second request joins the same run
  EXPECT_TRUE(WinSysTray::ActivityPending());
  // Six frames of 200 ms; the bound only keeps a broken loop from hanging.
  for (int i = 0; i < 100 && WinSysTray::ActivityPending(); ++i) nbplat::SleepMs(100);
  EXPECT_FALSE(WinSysTray::ActivityPending());
  WinSysTray::DeleteIcon();
  tray.join();
}

TEST_F(TrayTest, ServiceOutShowsTheOfflineIconUntilItAnswers) {
  std::thread tray(WinSysTray::ThreadWinSysTray, nullptr);
  auto waitIcon = [](int id) {
    // The bound only keeps a broken loop from hanging.
    for (int i = 0; i < 300 && WinSysTray::IconId() != id; ++i) nbplat::SleepMs(20);
    return WinSysTray::IconId();
  };
  EXPECT_EQ(waitIcon(IDI_NORMAL), IDI_NORMAL);
  WinSysTray::SetStateIsOffLine();
  EXPECT_EQ(waitIcon(IDI_OFFLINE), IDI_OFFLINE);
  EXPECT_NE(WinSysTray::TipText().find("без сжатия"), std::string::npos);
  WinSysTray::SetStateIsOnLine();
  EXPECT_EQ(waitIcon(IDI_NORMAL), IDI_NORMAL);
  EXPECT_EQ(WinSysTray::TipText().find("без сжатия"), std::string::npos);
  WinSysTray::DeleteIcon();
  tray.join();
}
