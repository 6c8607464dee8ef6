// The text coder of the service link and the pages both sides keep per site.
#include "protocol/text_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/site_pages.h"

namespace {

std::string Page(int variant) {
  std::string s = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html>";
  for (int i = 0; i < 400; ++i) {
    s += "<li><a href=\"chapter" + std::to_string(i) + ".html\">Chapter " + std::to_string(i) +
         "</a></li>\n";
  }
  return s + "<p>variant " + std::to_string(variant) + "</p></html>\n";
}

TEST(Text2Codec, RoundTripsAloneAndAgainstAPageAndRefusesWhatIsNotItsStream) {
  const std::string page = Page(1), next = Page(2), none;
  std::string alone, coded, back;
  ASSERT_TRUE(Text2Compress(next.data(), next.size(), kText2Level, none, alone));
  ASSERT_TRUE(Text2Compress(next.data(), next.size(), kText2Level, page, coded));
  EXPECT_LT(coded.size() * 4, alone.size());
  ASSERT_TRUE(Text2Decompress(alone.data(), alone.size(), next.size(), none, back));
  EXPECT_EQ(back, next);
  ASSERT_TRUE(Text2Decompress(coded.data(), coded.size(), next.size(), page, back));
  EXPECT_EQ(back, next);
  std::string empty;
  ASSERT_TRUE(Text2Compress("", 0, kText2Level, none, empty));
  ASSERT_TRUE(Text2Decompress(empty.data(), empty.size(), 0, none, back));
  EXPECT_EQ(back, "");

  // Against another page or none, a damaged or cut stream, or more output
  // than allowed: refused, never wrong bytes.
  const std::string other(page.rbegin(), page.rend());
  EXPECT_FALSE(Text2Decompress(coded.data(), coded.size(), next.size(), other, back));
  EXPECT_FALSE(Text2Decompress(coded.data(), coded.size(), next.size(), none, back));
  std::string damaged = alone;
  damaged[damaged.size() / 2] ^= 0x55;
  EXPECT_FALSE(Text2Decompress(damaged.data(), damaged.size(), next.size(), none, back));
  EXPECT_FALSE(Text2Decompress(alone.data(), alone.size() - 3, next.size(), none, back));
  EXPECT_FALSE(Text2Decompress(alone.data(), alone.size(), next.size() - 1, none, back));
  EXPECT_FALSE(Text2Decompress("not a frame", 11, 100, none, back));

  // A page prepared once codes as densely, and the client decodes it with
  // the page as it stands.
  Text2Dictionary prepared(std::make_shared<const std::string>(page), kText2Level);
  ASSERT_TRUE(prepared.ok());
  std::string viaPrepared;
  ASSERT_TRUE(prepared.Compress(next.data(), next.size(), viaPrepared));
  EXPECT_LE(viaPrepared.size(), coded.size() + 16);
  ASSERT_TRUE(Text2Decompress(viaPrepared.data(), viaPrepared.size(), next.size(), page, back));
  EXPECT_EQ(back, next);
  EXPECT_FALSE(Text2Decompress(viaPrepared.data(), viaPrepared.size(), next.size(), other, back));
}

TEST(SitePages, FieldIsAddedAndTakenAndOnlyPagesAreKept) {
  const std::string req = "GET /a HTTP/1.1\r\nHost: Docs.Example\r\nAccept: */*\r\n\r\n";
  std::string named = WithSitePageField(req, "abc-12");
  EXPECT_EQ(RequestSite(named), "docs.example");
  std::string twice = WithSitePageField(named, "def-34");
  EXPECT_EQ(TakeSitePageField(&twice), "def-34");
  EXPECT_EQ(twice, req);  // every such line goes; nothing else changes
  std::string plain = req;
  EXPECT_EQ(TakeSitePageField(&plain), "");
  EXPECT_EQ(plain, req);

  EXPECT_TRUE(IsSitePage(Page(1)));
  EXPECT_FALSE(IsSitePage("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\nx"));
  EXPECT_FALSE(IsSitePage("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\nx"));
  EXPECT_FALSE(IsSitePage("HTTP/1.1 200 OK\r\nContent-Type: text/css\r\n\r\nx"));
  EXPECT_FALSE(IsSitePage(Page(1) + std::string(kSitePageMaxBytes, 'x')));
}

TEST(SitePages, StoreKeepsAFewPagesPerSiteWithinItsBytesLeastRecentFirstOut) {
  const std::string a = Page(1), b = Page(2), c = Page(3);
  SitePageStore store(2, 2 * a.size() + a.size() / 2);
  store.Keep("s", a);
  store.Keep("s", b);
  store.Keep("s", c);  // a third page of the site pushes out its oldest
  EXPECT_EQ(store.Pages(), 2u);
  EXPECT_EQ(store.Find("s", SitePageDigest(a)), nullptr);
  std::string latest;
  ASSERT_NE(store.Latest("s", &latest), nullptr);
  EXPECT_EQ(latest, SitePageDigest(c));
  EXPECT_EQ(store.Find("other", SitePageDigest(c)), nullptr);

  SitePage held = store.Find("s", SitePageDigest(b));  // b is now the most recent
  ASSERT_NE(held, nullptr);
  store.Keep("t", a);  // over the byte bound: c, the least recent, goes
  EXPECT_LE(store.Bytes(), 2 * a.size() + a.size() / 2);
  EXPECT_EQ(store.Find("s", SitePageDigest(c)), nullptr);
  EXPECT_NE(store.Find("s", SitePageDigest(b)), nullptr);
  store.Keep("s", b);  // the same page again is held once
  EXPECT_EQ(store.Pages(), 2u);
  EXPECT_EQ(*held, b);  // a page in use outlives its eviction
}

}  // namespace
