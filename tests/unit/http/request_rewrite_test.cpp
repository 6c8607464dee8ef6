// The rewriting of a proxy request's head.
#include "http/request_rewrite.h"

#include <gtest/gtest.h>

#include <string>

#include "http/http_head.h"

namespace {

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
  EXPECT_EQ(GetHostFromHttpRequest(oneLine), "h");
  EXPECT_EQ(GetParameterFromHttpHeader(oneLine, "Host"), "h");
  EXPECT_EQ(getRequestSize(oneLine), static_cast<int>(oneLine.size()));
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

}  // namespace
