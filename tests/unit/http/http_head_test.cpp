// The HTTP-head parser and the texts around HTTP.
#include "http/http_head.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/http_text.h"

namespace {

// A complete POST head of exactly `headLen` bytes announcing `length`.
std::string PostHead(std::size_t headLen, int length) {
  std::string head =
      "POST /form HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\nX-Pad: ";
  head += std::string(headLen - head.size() - 4, 'p');
  head += "\r\n\r\n";
  return head;
}

TEST(HttpHead, CompleteHeadOfAKnownKind) {
  const char* get = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(std::strlen(get), 18u);
  EXPECT_TRUE(isHttpHeaderExists(BufferView(get, 18)));
  EXPECT_FALSE(isHttpHeaderExists(BufferView(get, 10)));
  EXPECT_FALSE(isHttpHeaderExists(BufferView(get, 17))) << "terminator not yet complete";
  EXPECT_FALSE(isHttpHeaderExists(BufferView(get, -1)));
  EXPECT_FALSE(isHttpHeaderExists("HEAD / HTTP/1.0\r\n\r\n"));
  EXPECT_FALSE(isHttpHeaderExists("get / HTTP/1.0\r\n\r\n")) << "case-sensitive";
  EXPECT_TRUE(isHttpHeaderExists("POST / HTTP/1.0\r\n\r\nbody"));
  EXPECT_TRUE(isHttpHeaderExists("HTTP/1.1 200 OK\r\n\r\n"));
  EXPECT_FALSE(isHttpHeaderExists("GET\r\n\r\n12")) << "10 bytes are too few";
  // Bytes beyond the view are not looked at.
  EXPECT_FALSE(isHttpHeaderExists(BufferView("GET / HTTP/1.0\r\nA: b\r\n\r\n", 20)));

  EXPECT_EQ(GetHttpHeader("GET / HTTP/1.0\r\n\r\nbody"), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(GetHttpHeader("HTTP/1.1 200 OK\r\n\r\nx"), "HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(GetHttpHeader("HEAD / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(GetHttpHeader("GET / HTTP/1.0\r\n"), "");
}

TEST(HttpHead, HeaderLength) {
  EXPECT_EQ(getHeaderLen("GET / HTTP/1.0\r\nHost: a\r\n\r\nbody"), 27);
  EXPECT_EQ(getHeaderLen("\r\n\r\nGET"), 0);
  EXPECT_EQ(getHeaderLen("GET / HTTP/1.0\r\nHost: a\r\n"), 0);
}

TEST(HttpHeaderValue, NamesMatchCaseInsensitivelyAndValuesAreTrimmed) {
  const std::string req =
      "GET http://a/ HTTP/1.0\r\nX-Empty:\r\nHOST:   example.org  \r\n"
      "Referer: http://site.example:8080/page\r\nX-Empty: second\r\n\r\nHost: body";
  EXPECT_EQ(GetParameterFromHttpHeader(req, "host"), "example.org");
  EXPECT_EQ(GetParameterFromHttpHeader(req, "referer"), "http://site.example:8080/page")
      << "colons put back";
  EXPECT_EQ(GetParameterFromHttpHeader(req, "X-Empty"), "second")
      << "a line with nothing after the colon is skipped";
  EXPECT_EQ(GetParameterFromHttpHeader(req, "GET http"), std::nullopt)
      << "the request line is never a header";
  EXPECT_EQ(GetParameterFromHttpHeader(req, "Cookie"), std::nullopt);
  EXPECT_EQ(GetParameterFromHttpHeader("GET / HTTP/1.0\r\n\r\n", "Host"), std::nullopt);
  EXPECT_EQ(GetParameterFromHttpHeader("GET / HTTP/1.0\r\nHost: h\r\n", "Host"), std::nullopt)
      << "head incomplete";
  // A value of any length comes whole.
  const std::string huge = std::string(100, '9');
  EXPECT_EQ(GetParameterFromHttpHeader("GET / HTTP/1.0\r\nContent-Length: " + huge + "\r\n\r\n",
                                       "Content-Length"),
            huge);
}

TEST(HttpHeaderValue, HostAndPortReadings) {
  const std::string req = "GET / HTTP/1.1\r\nHost: h.example:8080\r\nReferer: http://r/x\r\n\r\n";
  EXPECT_EQ(GetPortFromHttpRequest(req), "8080");
  EXPECT_EQ(GetHostFromHttpRequest(req), "h.example");
  EXPECT_EQ(GetParameterFromHttpHeader(req, "Host"), "h.example:8080") << "the whole value";
  const std::string plain = "GET / HTTP/1.1\r\nHOST: h.example\r\n\r\n";
  EXPECT_EQ(GetPortFromHttpRequest(plain), "80");
  EXPECT_EQ(GetHostFromHttpRequest(plain), "h.example");
  const std::string none = "GET / HTTP/1.1\r\nAccept: */*\r\n\r\n";
  EXPECT_EQ(GetHostFromHttpRequest(none), "");
  EXPECT_EQ(GetPortFromHttpRequest(none), "");
}

TEST(HttpRequestSize, PostGetAndAnswer) {
  const std::string head = PostHead(100, 50);
  ASSERT_EQ(head.size(), 100u);
  const std::string msg = head + std::string(100, 'b');
  EXPECT_EQ(getRequestSize(BufferView(msg.data(), 120)), 146);
  EXPECT_EQ(getRequestSize(BufferView(msg.data(), 200)), 200) << "raised to what has arrived";
  EXPECT_EQ(getRequestSize(BufferView(msg.data(), 99)), -1) << "head not complete yet";

  EXPECT_EQ(getRequestSize("GET / HTTP/1.0\r\nHost: a\r\n\r\n"), 27);
  const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(getRequestSize(answer), static_cast<int>(answer.size()) + 10);
  EXPECT_EQ(getRequestSize("GET / HTTP/1.0\r\nContent-Length: 5\r\n\r\n"), -1);
  EXPECT_EQ(getRequestSize("POST / HTTP/1.0\r\nContent-Length: -500\r\n\r\n"), -1);
  // Huge lengths do not overflow.
  EXPECT_GT(getRequestSize("POST / HTTP/1.0\r\nContent-Length: 99999999999999\r\n\r\n"), 200000);
  EXPECT_GT(getRequestSize("HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n"), 200000);
}

TEST(HttpUrl, SecondOfExactlyThreeWords) {
  EXPECT_EQ(GetUrlFromHttpRequest("GET http://h/p?q=1 HTTP/1.1\r\n\r\n"), "http://h/p?q=1");
  EXPECT_EQ(GetUrlFromHttpRequest("GET  /a HTTP/1.1\r\n\r\n"), "/a") << "double space";
  EXPECT_EQ(GetUrlFromHttpRequest("GET /a b HTTP/1.1\r\n\r\n"), "") << "four words";
  EXPECT_EQ(GetUrlFromHttpRequest("GET /only\r\n"), "");
  EXPECT_EQ(GetUrlFromHttpRequest("\r\nGET /a HTTP/1.1\r\n"), "");
  EXPECT_EQ(GetUrlFromHttpRequest("GET /a HTTP/1.1"), "");
}

// One rule for every caller: the text after the last dot of the path's last
// segment, case kept.
TEST(HttpUrl, ExtensionOfThePath) {
  auto ext = [](const std::string& url) {
    return GetFileExtensionFromHttpRequest("GET " + url + " HTTP/1.1\r\n\r\n");
  };
  EXPECT_EQ(ext("/index.html"), "html");
  EXPECT_EQ(ext("/a/b.tar.gz?x=1.html"), "gz");
  EXPECT_EQ(ext("/logo.JPG?x=1"), "JPG");
  EXPECT_EQ(ext("/photo.jpeg"), "jpeg");
  EXPECT_EQ(ext("/clip.mpeg"), "mpeg") << "not the last three characters";
  EXPECT_EQ(ext("/get/zip"), "") << "no dot, no extension";
  EXPECT_EQ(ext("/dir.old/file"), "");
  EXPECT_EQ(ext("/win\\a.b\\c"), "");
  EXPECT_EQ(ext("http://h.example/movie.swf"), "swf");
  EXPECT_EQ(ext("http://h.example"), "") << "a host name is no path";
  EXPECT_EQ(ext("http://h.example/"), "");
  EXPECT_EQ(GetFileExtensionFromHttpRequest("GET /a.zip\r\n\r\n"), "") << "no URL";
}

TEST(HttpText, PercentEscapes) {
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

TEST(HttpText, DottedAddressAndHtmlAnswer) {
  const unsigned char bytes[4] = {192, 168, 0, 5};
  std::uint32_t ip;
  std::memcpy(&ip, bytes, sizeof ip);
  EXPECT_EQ(IpIntToStr(ip), "192.168.0.5");
  EXPECT_EQ(IpIntToStr(0), "0.0.0.0");
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(HtmlAnswer("502 Bad Gateway", "<b>x</b>"),
            "HTTP/1.0 502 Bad Gateway\r\nContent-Type: text/html\r\nContent-Length: 8\r\n"
            "Connection: close\r\n\r\n<b>x</b>");
}

}  // namespace
