// The string family of HTTP helpers and the request-head rewriting.
#include "http/nbHttp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/http.h"

TEST(NbHttpHead, HeadOfAKnownKindOnly) {
  EXPECT_EQ(GetHttpHeader("GET / HTTP/1.0\r\n\r\nbody"), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(GetHttpHeader("HTTP/1.1 200 OK\r\n\r\nx"), "HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(GetHttpHeader("HEAD / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(GetHttpHeader("GET / HTTP/1.0\r\n"), "");
  EXPECT_EQ(GetHttpHeader("GET\r\n\r\n123"), "GET\r\n\r\n") << "10 bytes are enough here";
  EXPECT_EQ(GetHttpHeader("GET\r\n\r\n12"), "");
}

TEST(CorrectingHeader, AbsoluteUrlAndProxyConnection) {
  const std::string in =
      "GET http://h.example/dir/page?x=1 HTTP/1.1\r\nProxy-Connection: keep-alive\r\n"
      "Host: h.example\r\nConnection: keep-alive\r\n\r\nBODY\r\n\r\nrest";
  EXPECT_EQ(CorrectingHeader(in),
            "GET /dir/page?x=1 HTTP/1.1\r\nConnection: Close\r\nHost: h.example\r\n"
            "Connection: keep-alive\r\n\r\nBODY\r\n\r\nrest");
  // Without a Proxy-Connection line the site is still asked to close.
  EXPECT_EQ(CorrectingHeader("POST http://h:8080/ HTTP/1.0\r\nHost: h:8080\r\n\r\na=1"),
            "POST / HTTP/1.0\r\nHost: h:8080\r\nConnection: Close\r\n\r\na=1");
}

// The head with the line that asks the site to close added as its last line.
std::string Closing(std::string head) {
  return head.insert(head.size() - 2, "Connection: Close\r\n");
}

TEST(CorrectingHeader, SlashHttpFormGetsItsRealHost) {
  EXPECT_EQ(CorrectingHeader("GET /http://h.example/p/q HTTP/1.1\r\nHost: localhost:4321\r\n"
                             "HOST: other\r\nAccept: */*\r\n\r\n"),
            "GET /p/q HTTP/1.1\r\nHost: h.example\r\nHost: h.example\r\nAccept: */*\r\n"
            "Connection: Close\r\n\r\n");
  // Without a protocol version the line has no defined rewriting: unchanged.
  const std::string twoWords = "GET /http://h.example/p\r\nHost: localhost\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(twoWords), Closing(twoWords));
}

TEST(CorrectingHeader, LinesThatStayAsTheyAre) {
  // A Proxy-Connection value with a colon has three pieces.
  const std::string colon = "GET / HTTP/1.1\r\nProxy-Connection: a:b\r\nHost: h\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(colon), Closing(colon));
  // "http://" inside the query of a path URL is not an absolute URL.
  const std::string query = "GET /go?to=http://x.example/y HTTP/1.1\r\nHost: h\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(query), Closing(query));
  // An absolute URL without a path after the host.
  const std::string noPath = "GET http://h.example HTTP/1.1\r\nHost: h.example\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(noPath), Closing(noPath));
  // A line of colons only.
  const std::string colons = "GET /http://h.example/p HTTP/1.1\r\n:::\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(colons), Closing("GET /p HTTP/1.1\r\n:::\r\n\r\n"));
}

TEST(CorrectingHeader, TextWithoutCompleteHeadIsReturnedUnchanged) {
  const std::string partial = "GET http://h/p HTTP/1.1\r\nProxy-Connection: close\r\n";
  EXPECT_EQ(CorrectingHeader(partial), partial);
  EXPECT_EQ(CorrectingHeader(""), "");
  const std::string other = "PUT http://h/p HTTP/1.1\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(other), other);
}

TEST(CorrectingHeader, LargeHeadsAreHandledWhole) {
  std::string lines;
  while (lines.size() < 199000) lines += "X-Filler: 0123456789abcdef0123456789\r\n";
  const std::string in = "GET http://h.example/p HTTP/1.1\r\nHost: h.example\r\n" + lines +
                         "Proxy-Connection: close\r\n\r\n";
  const std::string out = CorrectingHeader(in);
  const std::string expected =
      "GET /p HTTP/1.1\r\nHost: h.example\r\n" + lines + "Connection: Close\r\n\r\n";
  EXPECT_EQ(out, expected);

  // One 200000-byte header line.
  const std::string oneLine =
      "GET /p HTTP/1.1\r\nCookie: " + std::string(200000, 'c') + "\r\nHost: h\r\n\r\n";
  EXPECT_EQ(CorrectingHeader(oneLine), Closing(oneLine));
  EXPECT_EQ(GetParameterFromHttpHeader(oneLine, "Host"), "h");
  char host[16];
  EXPECT_TRUE(getParameterFromHttpHeader("Host", host, sizeof host, oneLine.c_str()));
  EXPECT_STREQ(host, "h");
  EXPECT_EQ(getRequestSize(oneLine.c_str(), static_cast<int>(oneLine.size())),
            static_cast<int>(oneLine.size()));
}

TEST(CorrectingHeader, RewriteNeverGrowsBeyondItsLimit) {
  // Each Host line takes the "/http:" form's host: 2000 lines would make 2 MB.
  const std::string host(1000, 'h'), first = "GET /http://" + host + "/p HTTP/1.1\r\n";
  std::string many = first;
  for (int i = 0; i < 2000; ++i) many += "Host:x\r\n";
  EXPECT_EQ(CorrectingHeader(many + "\r\n", 200000), "");
  const std::string out = "GET /p HTTP/1.1\r\nHost: " + host + "\r\nConnection: Close\r\n\r\nbody";
  EXPECT_EQ(CorrectingHeader(first + "Host:x\r\n\r\nbody", out.size()), out);
  EXPECT_EQ(CorrectingHeader(first + "Host:x\r\n\r\nbody", out.size() - 1), "");
}

TEST(NbHttpHeaderValue, HostAndPortReadings) {
  const std::string req = "GET / HTTP/1.1\r\nHost: h.example:8080\r\nReferer: http://r/x\r\n\r\n";
  EXPECT_EQ(GetParameterFromHttpHeader(req, "Port"), "8080");
  EXPECT_EQ(GetParameterFromHttpHeader(req, "host"), "h.example");
  EXPECT_EQ(GetParameterFromHttpHeader(req, "Referer"), "http://r/x");
  EXPECT_EQ(GetParameterFromHttpHeader(req, "Cookie"), "");
  const std::string plain = "GET / HTTP/1.1\r\nHost: h.example\r\n\r\n";
  EXPECT_EQ(GetParameterFromHttpHeader(plain, "PORT"), "80");
  // The buffer twin gives the whole Host value.
  char value[32];
  ASSERT_TRUE(getParameterFromHttpHeader("Host", value, sizeof value, req.c_str()));
  EXPECT_STREQ(value, "h.example:8080");
}

TEST(NbHttpUrl, UrlAndExtension) {
  EXPECT_EQ(GetUrlFromHttpRequest("GET  /a HTTP/1.1\r\n\r\n"), "/a") << "double space";
  EXPECT_EQ(GetUrlFromHttpRequest("GET /a b HTTP/1.1\r\n\r\n"), "") << "four words";
  EXPECT_EQ(GetUrlFromHttpRequest("\r\nGET /a HTTP/1.1\r\n"), "");
  EXPECT_EQ(GetUrlFromHttpRequest("GET /a HTTP/1.1"), "");
  auto ext = [](const std::string& url) {
    return GetFileExtensionFromHttpRequest("GET " + url + " HTTP/1.1\r\n\r\n");
  };
  EXPECT_EQ(ext("/a/b.tar.gz?x=1.html"), "gz");
  EXPECT_EQ(ext("/dir.old/file"), "");
  EXPECT_EQ(ext("/nodot"), "");
  EXPECT_EQ(ext("/img/A.JPG"), "JPG");
  EXPECT_EQ(ext("/win\\a.b\\c"), "");
}

TEST(NbHttpMisc, DottedAddress) {
  const unsigned char bytes[4] = {192, 168, 0, 5};
  unsigned int ip;
  std::memcpy(&ip, bytes, sizeof ip);
  EXPECT_EQ(IpIntToStr(ip), "192.168.0.5");
  EXPECT_EQ(IpIntToStr(0), "0.0.0.0");
}
