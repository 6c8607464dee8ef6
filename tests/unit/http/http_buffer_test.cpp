// The buffer family of HTTP helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "http/http.h"

namespace {

int Size(const std::string& s) { return static_cast<int>(s.size()); }

// A complete POST head of exactly `headLen` bytes announcing `length`.
std::string PostHead(int headLen, int length) {
  std::string head =
      "POST /form HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\nX-Pad: ";
  head += std::string(headLen - head.size() - 4, 'p');
  head += "\r\n\r\n";
  return head;
}

}  // namespace

TEST(HttpHead, CompleteHeadOfAKnownKind) {
  const std::string get = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(get.size(), 18u);
  EXPECT_TRUE(isHttpHeaderExists(get.c_str(), 18));
  EXPECT_FALSE(isHttpHeaderExists(get.c_str(), 10));
  EXPECT_FALSE(isHttpHeaderExists(get.c_str(), 17)) << "terminator not yet complete";
  EXPECT_FALSE(isHttpHeaderExists("HEAD / HTTP/1.0\r\n\r\n", 19));
  EXPECT_FALSE(isHttpHeaderExists("get / HTTP/1.0\r\n\r\n", 18)) << "case-sensitive";
  EXPECT_TRUE(isHttpHeaderExists("POST / HTTP/1.0\r\n\r\nbody", 23));
  EXPECT_TRUE(isHttpHeaderExists("HTTP/1.1 200 OK\r\n\r\n", 19));
  // Bytes after iSize are not looked at.
  EXPECT_FALSE(isHttpHeaderExists("GET / HTTP/1.0\r\nA: b\r\n\r\n", 20));
}

TEST(HttpHead, HeaderLength) {
  EXPECT_EQ(getHeaderLen("GET / HTTP/1.0\r\nHost: a\r\n\r\nbody"), 27);
  EXPECT_EQ(getHeaderLen("\r\n\r\nGET"), 0);
  EXPECT_EQ(getHeaderLen("GET / HTTP/1.0\r\nHost: a\r\n"), 0);
}

TEST(HttpHeaderValue, NamesMatchCaseInsensitivelyAndValuesAreTrimmed) {
  const char* req =
      "GET http://a/ HTTP/1.0\r\nX-Empty:\r\nHOST:   example.org  \r\n"
      "Referer: http://site.example:8080/page\r\nX-Empty: second\r\n\r\nHost: body";
  char value[64] = "untouched";
  EXPECT_TRUE(getParameterFromHttpHeader("host", value, sizeof value, req));
  EXPECT_STREQ(value, "example.org");
  EXPECT_TRUE(getParameterFromHttpHeader("referer", value, sizeof value, req));
  EXPECT_STREQ(value, "http://site.example:8080/page") << "colons put back";
  EXPECT_TRUE(getParameterFromHttpHeader("X-Empty", value, sizeof value, req));
  EXPECT_STREQ(value, "second") << "a line with nothing after the colon is skipped";
  std::strcpy(value, "untouched");
  EXPECT_FALSE(getParameterFromHttpHeader("GET http", value, sizeof value, req))
      << "the request line is never a header";
  EXPECT_FALSE(getParameterFromHttpHeader("Cookie", value, sizeof value, req));
  EXPECT_STREQ(value, "untouched");
  EXPECT_FALSE(getParameterFromHttpHeader("Host", value, sizeof value, "GET / HTTP/1.0\r\n\r\n"));
}

TEST(HttpHeaderValue, CopyIsBoundedByTheCallersCapacity) {
  const std::string req = "GET / HTTP/1.0\r\nContent-Length: " + std::string(100, '9') + "\r\n\r\n";
  std::vector<char> buf(32 + 8, '#');
  EXPECT_TRUE(getParameterFromHttpHeader("Content-Length", buf.data(), 32, req.c_str()));
  EXPECT_EQ(std::strlen(buf.data()), 31u);
  for (std::size_t i = 32; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "wrote past " << i;
  char none[1] = {'#'};
  EXPECT_TRUE(getParameterFromHttpHeader("Content-Length", none, 1, req.c_str()));
  EXPECT_EQ(none[0], '\0');
}

TEST(HttpRequestSize, PostGetAndAnswer) {
  const std::string head = PostHead(100, 50);
  ASSERT_EQ(head.size(), 100u);
  std::string msg = head + std::string(100, 'b');
  EXPECT_EQ(getRequestSize(msg.c_str(), 120), 146);
  EXPECT_EQ(getRequestSize(msg.c_str(), 200), 200) << "raised to what has arrived";
  EXPECT_EQ(getRequestSize(msg.c_str(), 99), -1) << "head not complete yet";

  const std::string get = "GET / HTTP/1.0\r\nHost: a\r\n\r\n";
  EXPECT_EQ(getRequestSize(get.c_str(), Size(get)), 27);
  const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(getRequestSize(answer.c_str(), Size(answer)), Size(answer) + 10);
  const std::string getWithLength = "GET / HTTP/1.0\r\nContent-Length: 5\r\n\r\n";
  EXPECT_EQ(getRequestSize(getWithLength.c_str(), Size(getWithLength)), -1);
  const std::string negative = "POST / HTTP/1.0\r\nContent-Length: -500\r\n\r\n";
  EXPECT_EQ(getRequestSize(negative.c_str(), Size(negative)), -1);
}

TEST(HttpRequestSize, HugeLengthDoesNotOverflow) {
  const std::string post = "POST / HTTP/1.0\r\nContent-Length: 99999999999999\r\n\r\n";
  EXPECT_GT(getRequestSize(post.c_str(), Size(post)), 200000);
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n";
  EXPECT_GT(getRequestSize(answer.c_str(), Size(answer)), 200000);
}

TEST(HttpUrl, SecondWordOfTheRequestLine) {
  char url[64] = "untouched";
  EXPECT_TRUE(getUrlFromRequest(url, sizeof url, "GET http://h/p?q=1 HTTP/1.1\r\n\r\n"));
  EXPECT_STREQ(url, "http://h/p?q=1");
  EXPECT_TRUE(getUrlFromRequest(url, sizeof url, "GET /a b HTTP/1.1\r\n"))
      << "more than three words are accepted";
  EXPECT_STREQ(url, "/a");
  EXPECT_FALSE(getUrlFromRequest(url, sizeof url, "GET /only\r\n"));
  EXPECT_FALSE(getUrlFromRequest(url, sizeof url, "GET / HTTP/1.1"));
  const std::string longLine = "GET /" + std::string(10000, 'x') + " HTTP/1.1\r\n\r\n";
  EXPECT_FALSE(getUrlFromRequest(url, sizeof url, longLine.c_str()));
  std::strcpy(url, "untouched");
  const std::string wide = "GET /" + std::string(100, 'x') + " HTTP/1.1\r\n\r\n";
  EXPECT_FALSE(getUrlFromRequest(url, sizeof url, wide.c_str())) << "does not fit the buffer";
  EXPECT_STREQ(url, "untouched");
}

TEST(HttpUrl, ExtensionIsTheLastThreeCharacters) {
  char ext[8] = "";
  EXPECT_TRUE(getFileExtensionFromRequest(ext, sizeof ext, "GET /index.html HTTP/1.1\r\n"));
  EXPECT_STREQ(ext, "tml");
  EXPECT_TRUE(getFileExtensionFromRequest(ext, sizeof ext, "GET /d/a.gz HTTP/1.1\r\n"));
  EXPECT_STREQ(ext, ".gz");
  EXPECT_TRUE(getFileExtensionFromRequest(ext, sizeof ext, "GET /logo.JPG?x=1 HTTP/1.1\r\n"));
  EXPECT_STREQ(ext, "jpg") << "lowered with a query";
  EXPECT_TRUE(getFileExtensionFromRequest(ext, sizeof ext, "GET /logo.JPG HTTP/1.1\r\n"));
  EXPECT_STREQ(ext, "JPG") << "case kept without a query";
  std::strcpy(ext, "none");
  EXPECT_FALSE(getFileExtensionFromRequest(ext, sizeof ext, "GET /ab?x HTTP/1.1\r\n"));
  EXPECT_FALSE(getFileExtensionFromRequest(ext, sizeof ext, "GET /abc HTTP/1.1\r\n"));
  EXPECT_STREQ(ext, "none");
  char tiny[3];
  EXPECT_FALSE(getFileExtensionFromRequest(tiny, sizeof tiny, "GET /a.zip HTTP/1.1\r\n"));
}

TEST(HttpUndecorate, PercentEscapes) {
  auto decode = [](std::string s) {
    UndecorateHttpString(&s);
    return s;
  };
  EXPECT_EQ(decode("%41%42"), "AB");
  EXPECT_EQ(decode("abc%"), "abc");
  EXPECT_EQ(decode("a%00b"), "ab");
  EXPECT_EQ(decode("a+b%20c"), "a+b c");
  EXPECT_EQ(decode("%zz1"), "1") << "no digits read as 0: the three characters go";
  EXPECT_EQ(decode("%2541"), "%41") << "a produced % starts no new escape";
  std::string many;
  for (int i = 0; i < 60000; ++i) many += "%41";
  EXPECT_EQ(decode(many), std::string(60000, 'A'));
}
