// The settings page renderer: every placeholder's value, the template file
// reading and the not-found page.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "settings/settingsman.h"

namespace {

const double kMb = 1024.0 * 1024.0;

// Renders a template made of one placeholder word between markers.
std::string Value(const std::string& placeholder, const Program_Options& po) {
  return RenderSettingsPage("[" + placeholder + "]", po);
}

std::string Bare(const std::string& placeholder, const Program_Options& po) {
  std::string s = Value(placeholder, po);
  return s.substr(1, s.size() - 2);
}

TEST(SettingsPage, SimpleValuesAndFlags) {
  Program_Options po;
  po.iLogin = 12345;
  po.iJpegLvl = 2;
  po.bBlockFlash = true;
  po.bBlockActiveX = false;
  po.bBlockBanners = true;
  po.iPort = 4321;
  po.dTrafficCost = 3;
  po.sProxyName = "proxy.lan";
  po.sProxyPort = "3128";
  po.sProxyLogin = "ivan";
  EXPECT_EQ(Bare("idLoginValue", po), "12345");
  EXPECT_EQ(Bare("idJpgLvlValue", po), "2");
  EXPECT_EQ(Bare("idBlockFlashValue", po), "1");
  EXPECT_EQ(Bare("idBlockActiveXValue", po), "0");
  EXPECT_EQ(Bare("idBlockBannersValue", po), "1");
  EXPECT_EQ(Bare("idPortValue", po), "4321");
  EXPECT_EQ(Bare("idTrafficCostValue", po), "3");
  EXPECT_EQ(Bare("idProxyNameValue", po), "proxy.lan");
  EXPECT_EQ(Bare("idProxyPortValue", po), "3128");
  EXPECT_EQ(Bare("idProxyLoginValue", po), "ivan");
  po.sServiceHost = "svc.example:8443";
  EXPECT_EQ(Bare("idServiceHostValue", po), "svc.example:8443");
  po.sServiceHost = "x\"><b>&";  // read from a file: shown as text
  EXPECT_EQ(Bare("idServiceHostValue", po), "x&quot;&gt;&lt;b&gt;&amp;");
}

TEST(SettingsPage, NoTrafficGivesRatioOneAndZeroMoney) {
  Program_Options po;
  po.dTrafficCost = 3;
  EXPECT_EQ(Bare("idCompressRatioValue", po), "1");
  EXPECT_EQ(Bare("idTotalTrafValue", po), "0");
  EXPECT_EQ(Bare("idCompressTrafValue", po), "0");
  EXPECT_EQ(Bare("idSpentWithoutSvrValue", po), "0");
  EXPECT_EQ(Bare("idSpentWithSvrValue", po), "0");
  EXPECT_EQ(Bare("idProffitValue", po), "0");
}

TEST(SettingsPage, StatisticsOfTenAndFiveMegabytesAtPriceThree) {
  Program_Options po;
  po.dTotalTraffic = 10485760;
  po.dCompressTraffic = 5242880;
  po.dTrafficCost = 3;
  EXPECT_EQ(Bare("idTotalTrafValue", po), "10");
  EXPECT_EQ(Bare("idCompressTrafValue", po), "5");
  EXPECT_EQ(Bare("idCompressRatioValue", po), "2");
  EXPECT_EQ(Bare("idSpentWithoutSvrValue", po), "30");
  EXPECT_EQ(Bare("idSpentWithSvrValue", po), "15");
  EXPECT_EQ(Bare("idProffitValue", po), "15");
}

TEST(SettingsPage, FiguresAreTruncatedNotRounded) {
  Program_Options po;
  po.dTotalTraffic = 2 * kMb;
  po.dCompressTraffic = 3 * kMb;  // ratio 0.666..., shown as 0.66
  po.dTrafficCost = 1.999;
  EXPECT_EQ(Bare("idCompressRatioValue", po), "0.66");
  EXPECT_EQ(Bare("idTrafficCostValue", po), "1.99");
  // 2 MB x 1.999 = 3.998, cut to two decimals.
  EXPECT_EQ(Bare("idSpentWithoutSvrValue", po), "3.99");
  po.dTotalTraffic = 1234567;  // 1.17737... MB
  EXPECT_EQ(Bare("idTotalTrafValue", po), "1.177");
}

TEST(SettingsPage, ListsOneEntryPerLineAndEmptyListEmpty) {
  Program_Options po;
  EXPECT_EQ(Bare("idForbiddenContentValue", po), "");
  po.vsBlockingContent = {"casino", "poker"};
  po.vsBlockingUrls = {"adserver", "", "GetAd"};
  po.vsAllowHosts = {"192.168.0.*"};
  EXPECT_EQ(Bare("idForbiddenContentValue", po), "casino\npoker\n");
  EXPECT_EQ(Bare("idForbiddenUrlsValue", po), "adserver\nGetAd\n");
  EXPECT_EQ(Bare("idChildClientsValue", po), "192.168.0.*\n");
}

TEST(SettingsPage, DateIsLocalTimeOfTheWholeSecondInRussianOrder) {
  Program_Options po;
  po.dStatSince = 1104537600.75;
  std::time_t t = 1104537600;
  const std::tm tm = *std::localtime(&t);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%02d.%02d.%04d %02d:%02d:%02d", tm.tm_mday,
                tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  EXPECT_EQ(Bare("idDateValue", po), expected);
}

TEST(SettingsPage, AccessLineSaysWhenPagesGoUncompressed) {
  Program_Options po;
  const std::string state = "[idConnectionStateValue]";
  const std::string normal = RenderSettingsPage(state, po, true);
  EXPECT_EQ(normal.find("без сжатия"), std::string::npos) << normal;
  EXPECT_NE(RenderSettingsPage(state, po, false).find("Сервис сжатия недоступен"),
            std::string::npos);
  po.bCompressOff = true;
  for (bool reached : {true, false}) {
    EXPECT_NE(RenderSettingsPage(state, po, reached).find("Сжатие выключено"), std::string::npos);
  }
}

TEST(SettingsPage, AccessLineLinksToTheLoginPage) {
  Program_Options po;
  std::string s = Bare("idConnectionStateValue", po);
  EXPECT_EQ(s.rfind("Доступ: ", 0), 0u) << s;
  EXPECT_NE(s.find(std::string("href=\"") + nbset::kLoginPageUrl + "\""), std::string::npos);
  EXPECT_NE(s.find(">Приоритетный</a>"), std::string::npos);
}

TEST(SettingsPage, EveryOccurrenceReplacedValuesEscapedAndNotReplacedAgain) {
  Program_Options po;
  po.iLogin = 7;
  po.sProxyName = "<b>idLoginValue</b>";
  po.sPassword = "0123456789abcdef0123456789abcdef";
  po.sProxyPassword = "secret";
  po.dMoney = 99;
  std::string page =
      RenderSettingsPage("a=idLoginValue b=idLoginValue p=idProxyNameValue q=idProxyPortValue", po);
  EXPECT_EQ(page, "a=7 b=7 p=&lt;b&gt;idLoginValue&lt;/b&gt; q=");
  // Every text the user typed is shown as text, never as markup.
  po.sProxyLogin = "</textarea><script>";
  po.sProxyPort = "\"80";
  po.vsBlockingContent = {"<i>"};
  po.vsBlockingUrls = {"a&b"};
  po.vsAllowHosts = {"'x'"};
  EXPECT_EQ(RenderSettingsPage("idProxyLoginValue idProxyPortValue idForbiddenContentValue"
                               "idForbiddenUrlsValue idChildClientsValue",
                               po),
            "&lt;/textarea&gt;&lt;script&gt; &quot;80 &lt;i&gt;\na&amp;b\n 'x'\n");
}

class TemplateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("nb-settings-tpl-" + std::to_string(std::time(nullptr)) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { std::filesystem::remove(path_); }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::filesystem::path path_;
};

TEST_F(TemplateFile, LinesEndInOneNewlineEachAndCrLfIsRead) {
  Write("<p>\r\nidLoginValue\r\nlast");
  std::string t;
  ASSERT_TRUE(ReadSettingsTemplate(path_.string(), t));
  EXPECT_EQ(t, "<p>\nidLoginValue\nlast\n");
  Write("one\ntwo\n");
  ASSERT_TRUE(ReadSettingsTemplate(path_.string(), t));
  EXPECT_EQ(t, "one\ntwo\n");
}

TEST_F(TemplateFile, LongLinesAreNotBroken) {
  std::string longLine(2500, 'x');
  Write(longLine + "\r\n");
  std::string t;
  ASSERT_TRUE(ReadSettingsTemplate(path_.string(), t));
  EXPECT_EQ(t, longLine + "\n");
}

TEST_F(TemplateFile, MissingFileGivesTheNotFoundPage) {
  std::string t;
  EXPECT_FALSE(ReadSettingsTemplate(path_.string(), t));
  std::string page = SettingsTemplateMissingPage();
  EXPECT_NE(page.find("charset=windows-1251"), std::string::npos);
  EXPECT_NE(page.find("Файл <b>share/ClientHtmlGUI.htm</b> не найден."), std::string::npos);
  EXPECT_NE(page.find("Невозможно отобразить страницу настроек."), std::string::npos);
}

}  // namespace
