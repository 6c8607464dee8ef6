// Loading, defaults, normalisation and saving of NimbrelClient.ini.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kernel/options_fixture.h"

namespace {

// The value text a saved file holds for key, or "<none>".
std::string ValueOf(const std::string& text, const std::string& key) {
  std::size_t p = ("\r\n" + text).find("\r\n" + key + ":");
  if (p == std::string::npos) return "<none>";
  p += key.size() + 1;
  return text.substr(p, text.find("\r\n", p) - p);
}

std::size_t LineCount(const std::string& text) {
  std::size_t n = 0;
  for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++n;
  return n;
}

Program_Options LoadFrom(const std::string& ini) {
  OptionsDirTest::WriteIni(ini);
  LoadProgramOptions();
  return GetProgramOptions();
}

}  // namespace

using OptionsFileTest = OptionsDirTest;

TEST_F(OptionsFileTest, MissingFileGivesDefaultsAndANewFileInSaveOrder) {
  const double before = static_cast<double>(std::time(nullptr));
  EXPECT_TRUE(LoadProgramOptions());
  const Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_GE(po.dStatSince, before);
  EXPECT_LE(po.dStatSince, static_cast<double>(std::time(nullptr)));
  // Blocking on and medium image quality, like the file the installer lays down.
  EXPECT_TRUE(po.bBlockFlash && po.bBlockActiveX && po.bBlockBanners);
  EXPECT_EQ(po.iJpegLvl, 1);
  const std::string statSince = ValueOf(ReadIni(), "StatSince");
  EXPECT_EQ(statSince, std::to_string(static_cast<long long>(po.dStatSince)));
  EXPECT_EQ(ReadIni(),
            "Login:0\r\nPassword:\r\nPort:4321\r\nSettingsPort:3344\r\nBlockingActiveX:1\r\n"
            "BlockingFlash:1\r\nBlockingBanners:1\r\nCompressOff:0\r\nJpgLvl:1\r\n"
            "BlockingContent:\r\nBlockingUrls:\r\nAllowHosts:\r\nTrafficCost:3\r\n"
            "TotalTraffic:0\r\nCompressTraffic:0\r\nMoney:0\r\nStatSince:" +
                statSince + "\r\nProxyName:\r\nProxyPort:\r\nProxyLogin:\r\nProxyPassword:\r\n");
}

TEST_F(OptionsFileTest, ZeroPortsAndCostTakeTheirDefaults) {
  Program_Options po = LoadFrom("Port:0\r\nSettingsPort:0\r\nTrafficCost:0\r\nStatSince:5\r\n");
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_EQ(po.dStatSince, 5);
  po = LoadFrom("Port:8080 TrafficCost:1.5 Port:65535\r\n");
  EXPECT_EQ(po.iPort, 65535) << "the later word wins";
  EXPECT_EQ(po.dTrafficCost, 1.5);
  // Ports outside 1..65535 count as 0 instead of being cut to 16 bits.
  po = LoadFrom("Port:-1\r\nSettingsPort:99999\r\n");
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(LoadFrom("Port:65536\r\n").iPort, 4321);
}

TEST_F(OptionsFileTest, ValueRulesOfTheWordReader) {
  Program_Options start;
  start.sProxyName = "previous";
  SetProgramOptions(start);
  Program_Options po = LoadFrom(
      "ProxyName:\r\nProxyLogin:two words\r\nProxyPassword:a:b\r\nport:8080\r\n"
      "BlockingUrls:ads;host:8080;last;\r\n");
  EXPECT_EQ(po.sProxyName, "previous") << "nothing after the colon keeps the value";
  EXPECT_EQ(po.sProxyLogin, "two") << "a blank ends the value";
  EXPECT_EQ(po.sProxyPassword, "a:b") << "the value is all after the first colon";
  EXPECT_EQ(po.vsBlockingUrls, (std::vector<std::string>{"ads", "host:8080", "last"}));
  EXPECT_EQ(po.iPort, 4321) << "keys are case-sensitive";
  EXPECT_EQ(ValueOf(ReadIni(), "BlockingUrls"), "ads;host:8080;last;");
  EXPECT_EQ(LoadFrom("ProxyName:host:8080\r\n").sProxyName, "host:8080");
}

TEST_F(OptionsFileTest, ServiceHostIsTheLastLineOnlyWhenSet) {
  Program_Options po = LoadFrom("Port:5000\r\nServiceHost:svc.example:8443\r\n");
  EXPECT_EQ(po.sServiceHost, "svc.example:8443");
  const std::string text = ReadIni();
  EXPECT_EQ(LineCount(text), 22u);
  EXPECT_EQ(text.substr(text.rfind("\r\n", text.size() - 3) + 2),
            "ServiceHost:svc.example:8443\r\n");
  ChangeProgramOptions([](Program_Options& p) { p.sServiceHost.clear(); });
  ASSERT_TRUE(SaveProgramOptions());
  EXPECT_EQ(ValueOf(ReadIni(), "ServiceHost"), "<none>");
  EXPECT_EQ(LineCount(ReadIni()), 21u);
}

TEST_F(OptionsFileTest, TunnelTrafficFollowsServiceHostOnlyWhenNonZero) {
  Program_Options po = LoadFrom("TunnelTraffic:1234\r\nServiceHost:svc\r\n");
  EXPECT_EQ(po.dTunnelTraffic, 1234);
  const std::string text = ReadIni();
  EXPECT_EQ(text.substr(text.size() - 37), "ServiceHost:svc\r\nTunnelTraffic:1234\r\n");
  ChangeProgramOptions([](Program_Options& p) { p.dTunnelTraffic = 0; });
  ASSERT_TRUE(SaveProgramOptions());
  EXPECT_EQ(ValueOf(ReadIni(), "TunnelTraffic"), "<none>");
}

TEST(ServiceHostValue, HostAndPort) {
  std::string host = "unchanged";
  int port = 0;
  EXPECT_TRUE(SplitServiceHost("svc.example", 443, host, port));
  EXPECT_EQ(host + ":" + std::to_string(port), "svc.example:443");
  EXPECT_TRUE(SplitServiceHost("10.0.0.7:8443", 443, host, port));
  EXPECT_EQ(host + ":" + std::to_string(port), "10.0.0.7:8443");
  for (const char* bad : {"", ":443", "svc:", "svc:0", "svc:65536", "svc:44x", "svc:1:2", "a b",
                          "svc\"><b>", "user@svc"}) {
    EXPECT_FALSE(SplitServiceHost(bad, 443, host, port)) << bad;
  }
  EXPECT_EQ(host, "10.0.0.7");
}

TEST_F(OptionsFileTest, ListsAndFlagsRoundTrip) {
  Program_Options po = LoadFrom(
      "BlockingUrls:a;;b\r\nAllowHosts:10.0.0.*;192.168.0.5;\r\nBlockingFlash:2\r\n"
      "BlockingActiveX:1\r\nBlockingBanners:01\r\nCompressOff:yes\r\n");
  EXPECT_EQ(po.vsBlockingUrls, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(po.vsAllowHosts, (std::vector<std::string>{"10.0.0.*", "192.168.0.5"}));
  EXPECT_FALSE(po.bBlockFlash) << "only the number 1 is true";
  EXPECT_TRUE(po.bBlockActiveX);
  EXPECT_TRUE(po.bBlockBanners) << "atoi(\"01\") is 1";
  EXPECT_FALSE(po.bCompressOff);
  const std::string text = ReadIni();  // normalised: the file ended in CR LF
  EXPECT_EQ(ValueOf(text, "BlockingUrls"), "a;b;");
  EXPECT_EQ(ValueOf(text, "AllowHosts"), "10.0.0.*;192.168.0.5;");
  EXPECT_EQ(ValueOf(text, "BlockingFlash"), "0");
}

TEST_F(OptionsFileTest, NumbersKeepAllTheirDigitsAcrossSaves) {
  // Files of older versions, with six digits and three-digit exponents.
  Program_Options po = LoadFrom("TotalTraffic:1.23457e+006\r\nMoney:1.5e+06\r\n");
  EXPECT_EQ(po.dTotalTraffic, 1234570);
  EXPECT_EQ(po.dMoney, 1500000) << "two exponent digits are read as well";
  // Beyond single precision: an install time and a counter near 2^53.
  po = LoadFrom("StatSince:1796764384\r\nTotalTraffic:9007199254740991\r\nMoney:0.1\r\n");
  EXPECT_EQ(po.dStatSince, 1796764384);
  EXPECT_EQ(po.dTotalTraffic, 9007199254740991.0);
  EXPECT_EQ(po.dMoney, 0.1);
  po.dCompressTraffic = 123456789.125;
  po.dTrafficCost = 1.0 / 3;
  SetProgramOptions(po);
  ASSERT_TRUE(SaveProgramOptions());
  EXPECT_EQ(ValueOf(ReadIni(), "StatSince"), "1796764384");
  EXPECT_EQ(ValueOf(ReadIni(), "TotalTraffic"), "9007199254740991");
  SetProgramOptions(Program_Options());
  LoadProgramOptions();  // reads the file just written
  const Program_Options back = GetProgramOptions();
  EXPECT_EQ(back.dStatSince, po.dStatSince);
  EXPECT_EQ(back.dTotalTraffic, po.dTotalTraffic);
  EXPECT_EQ(back.dCompressTraffic, po.dCompressTraffic);
  EXPECT_EQ(back.dTrafficCost, po.dTrafficCost);
  EXPECT_EQ(back.dMoney, 0.1);
}

TEST(OptionDoubleFormat, WholeNumbersPlainOthersShortestWithThreeDigitExponent) {
  EXPECT_EQ(FormatOptionDouble(3), "3");
  EXPECT_EQ(FormatOptionDouble(1234.567), "1234.567");
  EXPECT_EQ(FormatOptionDouble(-1234567), "-1234567");
  EXPECT_EQ(FormatOptionDouble(1104537600), "1104537600");
  EXPECT_EQ(FormatOptionDouble(0.00001), "1e-005");
  EXPECT_EQ(FormatOptionDouble(1e100), "1e+100");
}

TEST_F(OptionsFileTest, OnlyAFileEndingInWhiteSpaceIsRewritten) {
  const std::string noBreak = "Port:5000\r\nLogin:3";
  WriteIni(noBreak);
  LoadProgramOptions();
  EXPECT_EQ(ReadIni(), noBreak) << "the last read found a word: no rewrite";
  EXPECT_EQ(GetProgramOptions().iLogin, 3);
  WriteIni("Port:5000\r\nLogin:3\r\n");
  LoadProgramOptions();
  EXPECT_EQ(LineCount(ReadIni()), 21u);
  EXPECT_EQ(ValueOf(ReadIni(), "Port"), "5000");
}

TEST_F(OptionsFileTest, RandomBytesDoNotCrashAndYieldDefaults) {
  std::mt19937 rng(20261208);
  std::string junk;
  for (int i = 0; i < 64 * 1024; ++i) junk += static_cast<char>(rng() & 0xFF);
  Program_Options po = LoadFrom(junk);
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_TRUE(po.vsAllowHosts.empty());
}

TEST_F(OptionsFileTest, FailedSaveLeavesTheOldFileWhole) {
  WriteIni("Port:5000\r\nProxyName:keep\r\n");
  LoadProgramOptions();
  const std::string before = ReadIni();
  // A directory where the temporary file must go: the write fails before
  // anything could be renamed over the options file.
  std::filesystem::create_directory(OptionsTempFileName());
  ChangeProgramOptions([](Program_Options& po) { po.iPort = 6000; });
  EXPECT_FALSE(SaveProgramOptions());
  EXPECT_EQ(ReadIni(), before);

  std::filesystem::remove(OptionsTempFileName());
  EXPECT_TRUE(SaveProgramOptions());
  EXPECT_EQ(ValueOf(ReadIni(), "Port"), "6000");
  EXPECT_EQ(ValueOf(ReadIni(), "ProxyName"), "keep");
  const auto files = std::distance(std::filesystem::directory_iterator(dir_),
                                   std::filesystem::directory_iterator());
  EXPECT_EQ(files, 1) << "no temporary file left behind";
}

TEST_F(OptionsFileTest, ValuesCannotInjectFurtherKeys) {
  Program_Options po;
  po.sProxyLogin = "user\r\nAllowHosts:*";
  po.sProxyPassword = "pw Port:1";
  po.vsBlockingUrls = {"ads", "x\nAllowHosts:*", " "};
  SetProgramOptions(po);
  ASSERT_TRUE(SaveProgramOptions());
  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  const Program_Options back = GetProgramOptions();
  EXPECT_TRUE(back.vsAllowHosts.empty());
  EXPECT_EQ(back.iPort, 4321);
  EXPECT_EQ(back.sProxyLogin, "user");
  EXPECT_EQ(back.vsBlockingUrls, (std::vector<std::string>{"ads", "x"}));
}

TEST_F(OptionsFileTest, EveryStoredMemberSurvivesSaveAndLoad) {
  Program_Options po;
  po.iLogin = 123456;
  po.sPassword = "0123456789abcdef0123456789abcdef";
  po.sProxyName = "proxy.example";
  po.sProxyPort = "3128";
  po.sProxyLogin = "alice";
  po.sProxyPassword = "s3cret";
  po.iPort = 8080;
  po.iSettingsPort = 8081;
  po.iJpegLvl = 2;
  po.bBlockFlash = po.bBlockBanners = po.bCompressOff = true;
  po.vsBlockingContent = {"casino", "\xF1\xEB\xEE\xE2\xEE"};  // a Windows-1251 word
  po.vsBlockingUrls = {"adserver"};
  po.vsAllowHosts = {"192.168.*"};
  po.dTrafficCost = 2.5;
  po.dTotalTraffic = 2048;
  po.dCompressTraffic = 1024;
  po.dMoney = -1;
  po.dStatSince = 1104537;
  SetProgramOptions(po);
  ASSERT_TRUE(SaveProgramOptions());
  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  EXPECT_EQ(FormatProgramOptions(GetProgramOptions()), FormatProgramOptions(po));
}
