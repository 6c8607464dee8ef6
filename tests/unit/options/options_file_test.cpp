// Loading, defaults, normalisation and saving of NimbrelClient.ini.
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "options_fixture.h"
#include "support/nbString.h"

namespace {

// The keys of a saved file, line by line; also checks every line ends CR LF.
std::vector<std::string> KeysOf(const std::string& text) {
  std::vector<std::string> keys;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "line without CR LF at " << pos;
    if (end == std::string::npos) break;
    std::string line = text.substr(pos, end - pos);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    keys.push_back(line.substr(0, line.find(':')));
    pos = end + 2;
  }
  return keys;
}

// The value text a saved file holds for key, or "<none>".
std::string ValueOf(const std::string& text, const std::string& key) {
  std::size_t p =
      text.compare(0, key.size() + 1, key + ":") == 0 ? 0 : text.find("\r\n" + key + ":");
  if (p == std::string::npos) return "<none>";
  if (p != 0) p += 2;
  p += key.size() + 1;
  return text.substr(p, text.find("\r\n", p) - p);
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
  ASSERT_FALSE(IniExists());
  EXPECT_TRUE(LoadProgramOptions());
  const double after = static_cast<double>(std::time(nullptr));
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_GE(po.dStatSince, before);
  EXPECT_LE(po.dStatSince, after);
  EXPECT_EQ(po.iLogin, 0);
  EXPECT_EQ(po.iJpegLvl, 0);
  EXPECT_TRUE(po.sPassword.empty() && po.sProxyName.empty() && po.sProxyPort.empty());
  EXPECT_TRUE(po.vsBlockingUrls.empty() && po.vsAllowHosts.empty() && po.vsBlockingContent.empty());
  EXPECT_FALSE(po.bBlockFlash || po.bBlockActiveX || po.bBlockBanners || po.bCompressOff);

  const std::string text = ReadIni();
  const std::vector<std::string> expected = {
      "Login",         "Password",        "Port",        "SettingsPort", "BlockingActiveX",
      "BlockingFlash", "BlockingBanners", "CompressOff", "JpgLvl",       "BlockingContent",
      "BlockingUrls",  "AllowHosts",      "TrafficCost", "TotalTraffic", "CompressTraffic",
      "Money",         "StatSince",       "ProxyName",   "ProxyPort",    "ProxyLogin",
      "ProxyPassword"};
  EXPECT_EQ(KeysOf(text), expected);
  const std::string head =
      "Login:0\r\nPassword:\r\nPort:4321\r\nSettingsPort:3344\r\nBlockingActiveX:0\r\n"
      "BlockingFlash:0\r\nBlockingBanners:0\r\nCompressOff:0\r\nJpgLvl:0\r\n"
      "BlockingContent:\r\nBlockingUrls:\r\nAllowHosts:\r\nTrafficCost:3\r\nTotalTraffic:0\r\n"
      "CompressTraffic:0\r\nMoney:0\r\nStatSince:";
  EXPECT_EQ(text.substr(0, head.size()), head);
  // The start time in "%g" form with a three-digit exponent.
  EXPECT_EQ(ValueOf(text, "StatSince"), FormatOptionDouble(po.dStatSince));
  EXPECT_NE(ValueOf(text, "StatSince").find("e+00"), std::string::npos);
  EXPECT_NE(text.find("\r\nProxyName:\r\nProxyPort:\r\nProxyLogin:\r\nProxyPassword:\r\n"),
            std::string::npos);
}

TEST_F(OptionsFileTest, ZeroPortsAndCostTakeTheirDefaults) {
  Program_Options po = LoadFrom("Port:0\r\nSettingsPort:0\r\nTrafficCost:0\r\nStatSince:5\r\n");
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_EQ(po.dStatSince, 5);
  po = LoadFrom("Port:8080 SettingsPort:9000 TrafficCost:1.5 Port:70000\r\n");
  EXPECT_EQ(po.iPort, 70000) << "the later word wins; the port keeps its full value";
  EXPECT_EQ(po.iSettingsPort, 9000);
  EXPECT_EQ(po.dTrafficCost, 1.5);
}

TEST_F(OptionsFileTest, ValueRulesOfTheWordReader) {
  Program_Options start;
  start.sProxyName = "previous";
  start.sProxyLogin = "old";
  SetProgramOptions(start);
  // A key with nothing after the colon leaves the member as it was.
  Program_Options po = LoadFrom("ProxyName:\r\nProxyLogin:two words\r\nPassword:abc:def\r\n");
  EXPECT_EQ(po.sProxyName, "previous");
  EXPECT_EQ(po.sProxyLogin, "two") << "a blank ends the value";
  EXPECT_EQ(po.sPassword, "abc") << "anything after a second colon is lost";

  po = LoadFrom("ProxyName:host:8080\r\n");
  EXPECT_EQ(po.sProxyName, "host");

  // Keys are case-sensitive.
  SetProgramOptions(Program_Options());
  po = LoadFrom("port:8080\r\nLOGIN:7\r\nLogin:12\r\n");
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iLogin, 12);
}

TEST_F(OptionsFileTest, ListsAndFlagsRoundTrip) {
  Program_Options po = LoadFrom(
      "BlockingUrls:a;;b\r\nAllowHosts:10.0.0.*;192.168.0.5;\r\nBlockingContent:;x;\r\n"
      "BlockingFlash:2\r\nBlockingActiveX:1\r\nBlockingBanners:01\r\nCompressOff:yes\r\n");
  EXPECT_EQ(po.vsBlockingUrls, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(po.vsAllowHosts, (std::vector<std::string>{"10.0.0.*", "192.168.0.5"}));
  EXPECT_EQ(po.vsBlockingContent, (std::vector<std::string>{"x"}));
  EXPECT_FALSE(po.bBlockFlash) << "only the number 1 is true";
  EXPECT_TRUE(po.bBlockActiveX);
  EXPECT_TRUE(po.bBlockBanners) << "atoi(\"01\") is 1";
  EXPECT_FALSE(po.bCompressOff);

  const std::string text = ReadIni();  // normalised because it ended in CR LF
  EXPECT_EQ(ValueOf(text, "BlockingUrls"), "a;b;");
  EXPECT_EQ(ValueOf(text, "AllowHosts"), "10.0.0.*;192.168.0.5;");
  EXPECT_EQ(ValueOf(text, "BlockingContent"), "x;");
  EXPECT_EQ(ValueOf(text, "BlockingFlash"), "0");
  EXPECT_EQ(ValueOf(text, "BlockingActiveX"), "1");
}

TEST_F(OptionsFileTest, DoublesAreSavedInShortFormAndReadInSinglePrecision) {
  Program_Options po = LoadFrom("TotalTraffic:1234567\r\nCompressTraffic:1104537600\r\n");
  EXPECT_EQ(po.dTotalTraffic, 1234567);
  std::string text = ReadIni();
  EXPECT_EQ(ValueOf(text, "TotalTraffic"), "1.23457e+006");
  EXPECT_EQ(ValueOf(text, "CompressTraffic"), "1.10454e+009");

  SetProgramOptions(Program_Options());
  LoadProgramOptions();  // reads the file just written
  po = GetProgramOptions();
  EXPECT_EQ(po.dTotalTraffic, 1234570);
  EXPECT_EQ(po.dCompressTraffic, static_cast<double>(1.10454e9f));

  // Any number of exponent digits is accepted on reading.
  po = LoadFrom("Money:1.5e+06 TrafficCost:2.5E1\r\n");
  EXPECT_EQ(po.dMoney, 1500000);
  EXPECT_EQ(po.dTrafficCost, 25);
}

TEST(OptionDoubleFormat, ExponentHasThreeDigits) {
  EXPECT_EQ(FormatOptionDouble(3), "3");
  EXPECT_EQ(FormatOptionDouble(0.5), "0.5");
  EXPECT_EQ(FormatOptionDouble(1234.567), "1234.57");
  EXPECT_EQ(FormatOptionDouble(1234567), "1.23457e+006");
  EXPECT_EQ(FormatOptionDouble(-1234567), "-1.23457e+006");
  EXPECT_EQ(FormatOptionDouble(0.00001), "1e-005");
  EXPECT_EQ(FormatOptionDouble(1e100), "1e+100");
  EXPECT_EQ(FormatOptionDouble(1e-300), "1e-300");
}

TEST_F(OptionsFileTest, OnlyAFileEndingInWhiteSpaceIsRewritten) {
  const std::string noBreak = "Port:5000\r\nLogin:3";
  WriteIni(noBreak);
  LoadProgramOptions();
  EXPECT_EQ(ReadIni(), noBreak) << "the last read found a word: no rewrite";
  EXPECT_EQ(GetProgramOptions().iLogin, 3);

  WriteIni("Port:5000\r\nLogin:3\r\n");
  LoadProgramOptions();
  EXPECT_EQ(ValueOf(ReadIni(), "Port"), "5000");
  EXPECT_EQ(KeysOf(ReadIni()).size(), 21u);

  WriteIni("");
  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  EXPECT_EQ(KeysOf(ReadIni()).size(), 21u) << "an empty file is rewritten";
}

TEST_F(OptionsFileTest, RandomBytesDoNotCrashAndYieldDefaults) {
  std::mt19937 rng(20261208);
  std::string junk;
  for (int i = 0; i < 64 * 1024; ++i) junk += static_cast<char>(rng() & 0xFF);
  Program_Options po = LoadFrom(junk);
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_EQ(po.iSettingsPort, 3344);
  EXPECT_EQ(po.dTrafficCost, 3);
  EXPECT_TRUE(po.vsAllowHosts.empty());
  EXPECT_TRUE(po.sProxyName.empty());
}

TEST_F(OptionsFileTest, FailedSaveLeavesTheOldFileWhole) {
  WriteIni("Port:5000\r\nProxyName:keep\r\n");
  LoadProgramOptions();
  const std::string before = ReadIni();
  ASSERT_EQ(ValueOf(before, "Port"), "5000");

  // A directory where the temporary file must go: the write fails before
  // anything could be renamed over the options file.
  std::filesystem::create_directory(OptionsTempFileName());
  ChangeProgramOptions([](Program_Options& po) { po.iPort = 6000; });
  EXPECT_FALSE(SaveProgramOptions());
  EXPECT_EQ(ReadIni(), before);
  EXPECT_EQ(GetProgramOptions().iPort, 6000) << "the record in memory is unaffected";

  std::filesystem::remove(OptionsTempFileName());
  EXPECT_TRUE(SaveProgramOptions());
  EXPECT_EQ(ValueOf(ReadIni(), "Port"), "6000");
  EXPECT_EQ(ValueOf(ReadIni(), "ProxyName"), "keep");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename(), kOptionsFileName) << "left behind";
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(OptionsFileTest, ValuesCannotInjectFurtherKeys) {
  Program_Options po;
  po.iPort = 4321;
  po.sProxyLogin = "user\r\nAllowHosts:*";
  po.sProxyPassword = "pw Port:1";
  po.vsBlockingUrls = {"ads", "x\nAllowHosts:*", " "};
  SetProgramOptions(po);
  ASSERT_TRUE(SaveProgramOptions());
  const std::string text = ReadIni();
  EXPECT_EQ(KeysOf(text).size(), 21u);

  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  Program_Options back = GetProgramOptions();
  EXPECT_TRUE(back.vsAllowHosts.empty());
  EXPECT_EQ(back.iPort, 4321);
  EXPECT_EQ(back.sProxyLogin, "user");
  EXPECT_EQ(back.sProxyPassword, "pw");
  EXPECT_EQ(back.vsBlockingUrls, (std::vector<std::string>{"ads", "x"}));
}

TEST_F(OptionsFileTest, FullRecordSurvivesSaveAndLoad) {
  Program_Options po;
  po.iLogin = 123456;
  po.sPassword = "0123456789abcdef0123456789abcdef";
  po.sRemoteLogin = "form-only";
  po.sProxyName = "proxy.example";
  po.sProxyPort = "3128";
  po.sProxyLogin = "alice";
  po.sProxyPassword = "s3cret";
  po.iPort = 8080;
  po.iSettingsPort = 8081;
  po.iJpegLvl = 2;
  po.bBlockFlash = true;
  po.bBlockBanners = true;
  po.bCompressOff = true;
  po.vsBlockingContent = {"casino", "\xF1\xEB\xEE\xE2\xEE"};  // a Windows-1251 word
  po.vsBlockingUrls = {"adserver", "GetAd"};
  po.vsAllowHosts = {"192.168.*"};
  po.dTrafficCost = 2.5;
  po.dTotalTraffic = 2048;
  po.dCompressTraffic = 1024;
  po.dMoney = -1;
  po.dStatSince = 1104537600;
  SetProgramOptions(po);
  ASSERT_TRUE(SaveProgramOptions());

  SetProgramOptions(Program_Options());
  LoadProgramOptions();
  Program_Options back = GetProgramOptions();
  EXPECT_EQ(back.iLogin, po.iLogin);
  EXPECT_EQ(back.sPassword, po.sPassword);
  EXPECT_TRUE(back.sRemoteLogin.empty()) << "never stored";
  EXPECT_EQ(back.sProxyName, po.sProxyName);
  EXPECT_EQ(back.sProxyPort, po.sProxyPort);
  EXPECT_EQ(back.sProxyLogin, po.sProxyLogin);
  EXPECT_EQ(back.sProxyPassword, po.sProxyPassword);
  EXPECT_EQ(back.iPort, 8080);
  EXPECT_EQ(back.iSettingsPort, 8081);
  EXPECT_EQ(back.iJpegLvl, 2);
  EXPECT_TRUE(back.bBlockFlash);
  EXPECT_FALSE(back.bBlockActiveX);
  EXPECT_TRUE(back.bBlockBanners);
  EXPECT_TRUE(back.bCompressOff);
  EXPECT_EQ(back.vsBlockingContent, po.vsBlockingContent);
  EXPECT_EQ(back.vsBlockingUrls, po.vsBlockingUrls);
  EXPECT_EQ(back.vsAllowHosts, po.vsAllowHosts);
  EXPECT_EQ(back.dTrafficCost, 2.5);
  EXPECT_EQ(back.dTotalTraffic, 2048);
  EXPECT_EQ(back.dMoney, -1);
  EXPECT_EQ(back.dStatSince, static_cast<double>(1.10454e9f)) << "six digits, then float";
}
