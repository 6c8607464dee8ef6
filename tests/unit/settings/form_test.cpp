// The settings form: every field rule, and the stored and saved result.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "protocol/md5.h"
#include "settings/settingsman.h"
#include "test_support.h"

namespace {

std::string Md5(const std::string& s) {
  char out[33] = {0};
  md5str(out, s.c_str());
  return out;
}

Program_Options Stored() {
  Program_Options po;
  po.iLogin = 100;
  po.sPassword = Md5("old");
  po.sProxyName = "proxy.lan";
  po.sProxyPort = "3128";
  po.sProxyLogin = "ivan";
  po.sProxyPassword = "pw";
  po.iPort = 4321;
  po.iJpegLvl = 1;
  po.bBlockFlash = true;
  po.bBlockActiveX = true;
  po.bBlockBanners = true;
  po.vsBlockingContent = {"casino"};
  po.vsBlockingUrls = {"adserver", "GetAd"};
  po.vsAllowHosts = {"192.168.0.*"};
  po.dTrafficCost = 3;
  return po;
}

Program_Options Applied(const std::string& form) {
  Program_Options po = Stored();
  ApplySettingsForm(form, po);
  return po;
}

TEST(SettingsForm, QualityAndFlags) {
  Program_Options po = Applied("idJpgLvl=2&idBlockFlash=0");
  EXPECT_EQ(po.iJpegLvl, 2);
  EXPECT_FALSE(po.bBlockFlash);
  EXPECT_TRUE(po.bBlockActiveX);  // not sent: unchanged
  po = Applied("idJpgLvl=0&idBlockFlash=1&idBlockActiveX=0&idBlockBanners=0");
  EXPECT_EQ(po.iJpegLvl, 0);
  EXPECT_TRUE(po.bBlockFlash);
  EXPECT_FALSE(po.bBlockActiveX);
  EXPECT_FALSE(po.bBlockBanners);
  po = Applied("idJpgLvl=7.9&idBlockBanners=0.5");
  EXPECT_EQ(po.iJpegLvl, 7);  // truncated, stored out of range as it is
  EXPECT_TRUE(po.bBlockBanners);
  po = Applied("idJpgLvl=&idBlockFlash=");  // no values: unchanged
  EXPECT_EQ(po.iJpegLvl, 1);
  EXPECT_TRUE(po.bBlockFlash);
}

TEST(SettingsForm, NumbersLoginAndPrice) {
  Program_Options po = Applied("idPort=8080&idLogin=555&idTrafficCost=2.5");
  EXPECT_EQ(po.iPort, 8080);
  EXPECT_EQ(po.iLogin, 555);
  EXPECT_DOUBLE_EQ(po.dTrafficCost, 2.5);
  po = Applied("idLogin=abc");
  EXPECT_EQ(po.iLogin, 0);
  po = Applied("idLogin=&idPort=&idTrafficCost=");
  EXPECT_EQ(po.iLogin, 100);
  EXPECT_EQ(po.iPort, 4321);
  EXPECT_DOUBLE_EQ(po.dTrafficCost, 3);
}

TEST(SettingsForm, ServicePassword) {
  EXPECT_EQ(Applied("idPassword=********").sPassword, Md5("old"));
  EXPECT_EQ(Applied("idPassword=").sPassword, Md5("old"));
  Program_Options po = Applied("idPassword=n3w");
  EXPECT_EQ(po.sPassword, Md5("n3w"));
  EXPECT_EQ(po.sPassword.size(), 32u);
}

TEST(SettingsForm, ProxyFields) {
  Program_Options po = Applied("idProxyName=&idProxyPort=&idProxyLogin=&idProxyPassword=");
  EXPECT_EQ(po.sProxyName, "");
  EXPECT_EQ(po.sProxyPort, "");
  EXPECT_EQ(po.sProxyLogin, "");
  EXPECT_EQ(po.sProxyPassword, "pw");  // empty: unchanged
  po = Applied("idProxyPassword=********");
  EXPECT_EQ(po.sProxyPassword, "pw");
  po = Applied("idProxyName=squid.lan&idProxyPort=8080&idProxyLogin=petr&idProxyPassword=s3");
  EXPECT_EQ(po.sProxyName, "squid.lan");
  EXPECT_EQ(po.sProxyPort, "8080");
  EXPECT_EQ(po.sProxyLogin, "petr");
  EXPECT_EQ(po.sProxyPassword, "s3");  // kept as typed
}

TEST(SettingsForm, RemoteLoginAndPassword) {
  Program_Options po = Stored();
  po.sRemotePassword = Md5("r");
  ApplySettingsForm("idRemoteLogin=x&idRemotePassword=********", po);
  EXPECT_EQ(po.sRemoteLogin, "x");
  EXPECT_EQ(po.sRemotePassword, Md5("r"));
  ApplySettingsForm("idRemotePassword=q", po);
  EXPECT_EQ(po.sRemotePassword, Md5("q"));
  ApplySettingsForm("idRemoteLogin=&idRemotePassword=", po);
  EXPECT_EQ(po.sRemoteLogin, "");
  EXPECT_EQ(po.sRemotePassword, "");
}

TEST(SettingsForm, TextAreas) {
  // Three lines, the middle one empty: two entries.
  Program_Options po = Applied("idForbiddenUrls=ads.one%0D%0A%0D%0Aads.two");
  EXPECT_EQ(po.vsBlockingUrls, (std::vector<std::string>{"ads.one", "ads.two"}));
  po = Applied("idForbiddenContent=");
  EXPECT_TRUE(po.vsBlockingContent.empty());
  po = Applied("idForbiddenContent=%0D%0A%0D%0A");
  EXPECT_TRUE(po.vsBlockingContent.empty());
  // Line breaks that were not turned into "+" earlier are split too.
  po = Applied("idChildClients=10.0.0.1\r\n10.0.0.2\r\n\r\n10.0.0.3");
  EXPECT_EQ(po.vsAllowHosts, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
}

TEST(SettingsForm, UnknownAndRepeatedFields) {
  Program_Options po = Applied("idJpgLvl=0&idSettingsPort=9&bogus&=5&idJpgLvl=2&&");
  EXPECT_EQ(po.iJpegLvl, 2);  // the later field wins
  EXPECT_EQ(po.iSettingsPort, 0);
  po = Applied("idProxyName=a=b");  // a third piece is ignored
  EXPECT_EQ(po.sProxyName, "a");
}

TEST(SettingsForm, EncodedTextArrivesWhole) {
  // "+" is a blank; "&", "=" and "+" typed by the user arrive as escapes and
  // stay inside their value.
  Program_Options po = Applied(
      "idPassword=a+b&idProxyPassword=p%26q%3Dr%2B&idForbiddenContent=x%26y%0D%0Ac%2B%2B"
      "&idProxyLogin=two+words");
  EXPECT_EQ(po.sPassword, Md5("a b"));
  EXPECT_EQ(po.sProxyPassword, "p&q=r+");
  EXPECT_EQ(po.vsBlockingContent, (std::vector<std::string>{"x&y", "c++"}));
  EXPECT_EQ(po.sProxyLogin, "two words");
}

TEST(SettingsForm, ServiceHost) {
  Program_Options po = Applied("idServiceHost=+svc.example%3A8443+");
  EXPECT_EQ(po.sServiceHost, "svc.example:8443");
  ApplySettingsForm("idServiceHost=bad%3A99999", po);
  EXPECT_EQ(po.sServiceHost, "svc.example:8443") << "a malformed address is not taken";
  ApplySettingsForm("idServiceHost=", po);
  EXPECT_EQ(po.sServiceHost, "") << "empty: back to the build setting";
}

// ProcessPostRequest stores the result and rewrites the options file.
class SettingsFormSaved : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetProgramOptions();
    SetProgramOptions(Stored());
  }
  void TearDown() override { SetProgramOptions(saved_); }
  nbtest::WorkDir work_;
  Program_Options saved_;
};

TEST_F(SettingsFormSaved, StoresKeepsStatisticsAndWritesTheFile) {
  Program_Options before = GetProgramOptions();
  before.dTotalTraffic = 777;
  SetProgramOptions(before);
  std::string form = "idJpgLvl=2&idBlockFlash=0&idForbiddenUrls=x.example%0D%0Ay.example";
  nbSocket unused;
  SettingsMan sm(gClient);
  EXPECT_EQ(sm.ProcessPostRequest(form, unused), 0);
  Program_Options po = GetProgramOptions();
  EXPECT_EQ(po.iJpegLvl, 2);
  EXPECT_FALSE(po.bBlockFlash);
  EXPECT_DOUBLE_EQ(po.dTotalTraffic, 777);
  std::ifstream in(kOptionsFileName, std::ios::binary);
  ASSERT_TRUE(in.good());
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_NE(ss.str().find("JpgLvl:2\r\n"), std::string::npos) << ss.str();
  EXPECT_NE(ss.str().find("BlockingFlash:0\r\n"), std::string::npos);
  EXPECT_NE(ss.str().find("BlockingUrls:x.example;y.example;\r\n"), std::string::npos);
}

}  // namespace
