// Request and content filters, and the choice of the direct road.
#include "kernel/filters.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/context.h"
#include "kernel/options.h"
#include "kernel/road.h"
#include "test_support.h"

namespace {

// IPv4 address in network byte order from its four dotted parts.
using nbtest::Ip;

std::string Get(const std::string& url) { return "GET " + url + " HTTP/1.1\r\nHost: x\r\n\r\n"; }

// Each test starts from default options and an empty route table, and
// leaves them so.
class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    SetProgramOptions(Program_Options());
    gClient.proxy.sRouteTable.clear();
  }
  static void Change(void (*f)(Program_Options&)) {
    Program_Options po = GetProgramOptions();
    f(po);
    SetProgramOptions(po);
  }
};

TEST_F(FilterTest, BannerRefusedOnlyWhileBlockingIsOn) {
  Change([](Program_Options& po) { po.vsBlockingUrls = {"", "ads.example", "GetAd"}; });
  const std::string req = Get("http://ads.example/b.gif");
  EXPECT_FALSE(isBanner(req));
  Change([](Program_Options& po) { po.bBlockBanners = true; });
  EXPECT_TRUE(isBanner(req));
  EXPECT_TRUE(isBanner(Get("http://site.example/cgi/GetAd?x=1")));
  EXPECT_FALSE(isBanner(Get("http://site.example/page.html")));
  // The search is case-sensitive, and a match at the very start of the URL
  // does not count.
  EXPECT_FALSE(isBanner(Get("http://site.example/getad")));
  EXPECT_FALSE(isBanner(Get("GetAd/x")));
}

TEST_F(FilterTest, RequestWithoutUrlIsRefusedEvenWithBlockingOff) {
  EXPECT_TRUE(isBanner("GET\r\n\r\n"));
  EXPECT_TRUE(isBanner("GET /a b HTTP/1.1\r\n\r\n"));  // four words: no URL
  EXPECT_FALSE(isBanner(Get("/a")));
}

TEST_F(FilterTest, FlashAndActiveXBlockedOnlyByTheirOwnFlag) {
  const std::string swf = Get("http://h/movie.swf");
  const std::string ocx = Get("http://h/ctl.ocx?v=1");
  EXPECT_FALSE(isBlockFileExtension(swf));
  EXPECT_FALSE(isBlockFileExtension(ocx));
  Change([](Program_Options& po) { po.bBlockFlash = true; });
  EXPECT_TRUE(isBlockFileExtension(swf));
  EXPECT_FALSE(isBlockFileExtension(ocx));
  Change([](Program_Options& po) {
    po.bBlockFlash = false;
    po.bBlockActiveX = true;
  });
  EXPECT_FALSE(isBlockFileExtension(swf));
  EXPECT_TRUE(isBlockFileExtension(ocx));
  Change([](Program_Options& po) { po.bBlockFlash = true; });
  EXPECT_FALSE(isBlockFileExtension(Get("http://h/index.html")));
  EXPECT_FALSE(isBlockFileExtension(Get("http://h/dir/")));
  EXPECT_FALSE(isBlockFileExtension(Get("http://h/MOVIE.SWF")));
}

TEST_F(FilterTest, FreeOfChargeAddresses) {
  EXPECT_TRUE(isFreeOfChargeIP(Ip(192, 168, 5, 7)));
  EXPECT_TRUE(isFreeOfChargeIP(Ip(192, 168, 0, 1)));
  EXPECT_FALSE(isFreeOfChargeIP(Ip(192, 169, 5, 7)));
  EXPECT_FALSE(isFreeOfChargeIP(Ip(168, 192, 5, 7)));
  // Other private ranges are not recognised by themselves.
  EXPECT_FALSE(isFreeOfChargeIP(Ip(10, 1, 2, 3)));
  EXPECT_FALSE(isFreeOfChargeIP(Ip(172, 16, 0, 1)));

  gClient.proxy.sRouteTable = "default via 10.0.2.2 dev eth0\n10.1.2.0/24 dev eth1 src 10.1.2.3\n";
  EXPECT_TRUE(isFreeOfChargeIP(Ip(10, 1, 2, 3)));  // interface column
  EXPECT_TRUE(isFreeOfChargeIP(Ip(10, 0, 2, 2)));  // gateway column
  EXPECT_TRUE(isFreeOfChargeIP(Ip(10, 1, 2, 0)));  // destination column
  EXPECT_FALSE(isFreeOfChargeIP(Ip(10, 1, 2, 4)));
}

TEST_F(FilterTest, RouteTableMatchesWholeAddressesOnly) {
  gClient.proxy.sRouteTable = "Destination Gateway\n11.2.3.45 0.0.0.0\n";
  EXPECT_FALSE(isFreeOfChargeIP(Ip(1, 2, 3, 4)));
  EXPECT_FALSE(isFreeOfChargeIP(Ip(11, 2, 3, 4)));
  EXPECT_TRUE(isFreeOfChargeIP(Ip(11, 2, 3, 45)));
}

TEST_F(FilterTest, IncompressibleExtensionsAreExactAndLowerCase) {
  for (const char* ext : {"rar", "zip", "mp3", "avi", "mpg"}) EXPECT_TRUE(isFileCantCompress(ext));
  for (const char* ext : {"ZIP", "Zip", "zi", "zipx", "tml", "", ".gz"}) {
    EXPECT_FALSE(isFileCantCompress(ext)) << ext;
  }
}

TEST_F(FilterTest, ForbiddenWords) {
  EXPECT_FALSE(BadKeywordsInContent("anything at all"));
  Change([](Program_Options& po) { po.vsBlockingContent = {"", "casino", "Poker"}; });
  EXPECT_TRUE(BadKeywordsInContent("casino at the start"));
  EXPECT_TRUE(BadKeywordsInContent("<p>play Poker</p>"));
  EXPECT_FALSE(BadKeywordsInContent("play poker"));  // case-sensitive
  // An empty list entry does not block every page.
  EXPECT_FALSE(BadKeywordsInContent("harmless"));
  // The text ends at its first zero byte.
  const char binary[] = "head\0casino";
  EXPECT_FALSE(BadKeywordsInContent(binary));
}

// A request that would go to the service when nothing steers it away.
RoadFacts ServiceFacts() {
  RoadFacts f;
  f.iNoMoneyLogin = 0;
  f.iRequestSize = 500;
  f.bOnLine = true;
  f.ipHost = Ip(10, 9, 8, 7);
  f.sExt = "tml";
  return f;
}

TEST_F(FilterTest, RoadSizeLimit) {
  RoadFacts f = ServiceFacts();
  EXPECT_FALSE(ChooseDirectRoad(f));
  f.iRequestSize = 199999;
  EXPECT_FALSE(ChooseDirectRoad(f));
  f.iRequestSize = 200000;
  EXPECT_TRUE(ChooseDirectRoad(f));
  f.iRequestSize = 200001;
  EXPECT_TRUE(ChooseDirectRoad(f));
}

TEST_F(FilterTest, EachRoadTestAloneSendsTheRequestDirect) {
  RoadFacts f = ServiceFacts();
  f.iNoMoneyLogin = 5;
  EXPECT_TRUE(ChooseDirectRoad(f));
  f = ServiceFacts();
  f.bOnLine = false;
  EXPECT_TRUE(ChooseDirectRoad(f));
  f = ServiceFacts();
  f.ipHost = Ip(192, 168, 1, 10);
  EXPECT_TRUE(ChooseDirectRoad(f));
  f = ServiceFacts();
  f.sExt = "mp3";
  EXPECT_TRUE(ChooseDirectRoad(f));
  f = ServiceFacts();
  f.ipHost = Ip(127, 0, 0, 1);
  EXPECT_TRUE(ChooseDirectRoad(f));
  f.ipHost = Ip(127, 0, 0, 2);  // only 127.0.0.1 itself
  EXPECT_FALSE(ChooseDirectRoad(f));
  gClient.proxy.sRouteTable = "10.9.8.7 dev eth0";
  f = ServiceFacts();
  EXPECT_TRUE(ChooseDirectRoad(f));
}

}  // namespace
