// Request handling without a socket: the file a URL names, the address check
// and the guard against requests forged by other sites.
#include <gtest/gtest.h>

#include "settings/settingsman.h"

namespace {

std::string FileFor(const std::string& requestLine) {
  SettingsMan sm(gClient);
  std::string request = requestLine + "\r\nHost: localhost:3344\r\n\r\n";
  std::string file = "unchanged";
  EXPECT_EQ(sm.GetFileNameFromRequest(request, file), 0) << requestLine;
  return file;
}

TEST(SettingsUrl, FileChosenByTextInTheUrl) {
  EXPECT_EQ(FileFor("GET / HTTP/1.1"), "share/ClientHtmlGUI.htm");
  EXPECT_EQ(FileFor("GET /settings HTTP/1.1"), "share/ClientHtmlGUI.htm");
  EXPECT_EQ(FileFor("GET /favicon.ico HTTP/1.1"), "share/ClientHtmlGUI.htm");
  EXPECT_EQ(FileFor("GET /elefant256.jpg HTTP/1.1"), "share/elefant256.jpg");
  EXPECT_EQ(FileFor("GET /img/x/elefant256.jpg?stop HTTP/1.1"), "share/elefant256.jpg");
  EXPECT_EQ(FileFor("GET /stop? HTTP/1.1"), "stop");
  EXPECT_EQ(FileFor("GET /stop HTTP/1.0"), "stop");
  // Only the path /stop ends the program.
  EXPECT_EQ(FileFor("GET /nonstop.html HTTP/1.0"), "share/ClientHtmlGUI.htm");
  EXPECT_EQ(FileFor("GET /settings?stop HTTP/1.1"), "share/ClientHtmlGUI.htm");
  EXPECT_EQ(FileFor("GET /stop/x HTTP/1.1"), "share/ClientHtmlGUI.htm");
}

TEST(SettingsUrl, RequestWithoutUrlIsAnError) {
  SettingsMan sm(gClient);
  std::string file = "unchanged";
  std::string request = "GET";
  EXPECT_EQ(sm.GetFileNameFromRequest(request, file), NBC_ERR_COULDNOT_EXTRACT_URL);
  EXPECT_EQ(file, "unchanged");
}

TEST(SettingsUrl, OnlyLoopbackOneAndLocalhostAreValidPeers) {
  SettingsMan sm(gClient);
  EXPECT_TRUE(sm.IsHostValid("127.0.0.1"));
  EXPECT_TRUE(sm.IsHostValid("localhost"));
  EXPECT_FALSE(sm.IsHostValid("127.0.0.2"));
  EXPECT_FALSE(sm.IsHostValid("192.168.0.5"));
  EXPECT_FALSE(sm.IsHostValid(""));
}

std::string Post(const std::string& headers) {
  return "POST /settings HTTP/1.1\r\n" + headers + "Content-Length: 10\r\n\r\nidJpgLvl=1";
}

TEST(SettingsGuard, BrowserFormFromTheOwnPageIsAccepted) {
  EXPECT_TRUE(IsSameOriginRequest(
      Post("Host: localhost:3344\r\nOrigin: http://localhost:3344\r\n"
           "Sec-Fetch-Site: same-origin\r\nReferer: http://localhost:3344/\r\n"),
      3344));
  EXPECT_TRUE(IsSameOriginRequest(Post("host: 127.0.0.1:3344\r\norigin: http://127.0.0.1:3344\r\n"
                                       "referer: http://127.0.0.1:3344/settings\r\n"),
                                  3344));
  // A plain client that sends only the host.
  EXPECT_TRUE(IsSameOriginRequest(Post("Host: localhost\r\n"), 3344));
  EXPECT_TRUE(
      IsSameOriginRequest("GET /stop HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                          "Sec-Fetch-Site: none\r\n\r\n",
                          3344));
}

TEST(SettingsGuard, HostMustNameThisComputerAndPort) {
  EXPECT_FALSE(IsSameOriginRequest(Post(""), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post("Host: evil.example:3344\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post("Host: localhost.evil.example\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post("Host: localhost:4444\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post("Host: localhost:3344x\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post("Host: localhost:3344\r\nHost: evil.example\r\n"), 3344));
}

TEST(SettingsGuard, EveryRequestNeedsTheConsoleHost) {
  const std::string get = "GET / HTTP/1.1\r\nHost: ";
  EXPECT_TRUE(IsConsoleHost(get + "localhost:3344\r\n\r\n", 3344));
  EXPECT_TRUE(IsConsoleHost(get + "127.0.0.5:3344\r\n\r\n", 3344, "127.0.0.5"));
  EXPECT_TRUE(IsSameOriginRequest(Post("Host: 127.0.0.5:3344\r\nOrigin: http://127.0.0.5:3344\r\n"),
                                  3344, "127.0.0.5"));
  EXPECT_FALSE(IsConsoleHost(get + "127.0.0.5:3344\r\n\r\n", 3344, "127.0.0.1"));
}

TEST(SettingsGuard, ForeignOriginRefererOrFetchSiteIsRefused) {
  const std::string host = "Host: localhost:3344\r\n";
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Origin: http://127.0.0.2\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Origin: null\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Origin: http://localhost:33445\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Sec-Fetch-Site: cross-site\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Sec-Fetch-Site: same-site\r\n"), 3344));
  EXPECT_FALSE(
      IsSameOriginRequest(Post(host + "Referer: http://localhost:3344.evil.example/\r\n"), 3344));
  EXPECT_FALSE(IsSameOriginRequest(Post(host + "Referer: http://evil.example/?http://"
                                               "localhost:3344/\r\n"),
                                   3344));
  // An image tag on another site pointing at /stop.
  EXPECT_FALSE(
      IsSameOriginRequest("GET /stop HTTP/1.1\r\nHost: localhost:3344\r\n"
                          "Sec-Fetch-Site: cross-site\r\nReferer: http://127.0.0.2/\r\n\r\n",
                          3344));
}

TEST(SettingsGuard, HeadersInTheBodyDoNotCount) {
  std::string request =
      "POST /settings HTTP/1.1\r\nHost: evil.example\r\n\r\nHost: localhost:3344\r\n";
  EXPECT_FALSE(IsSameOriginRequest(request, 3344));
}

}  // namespace
