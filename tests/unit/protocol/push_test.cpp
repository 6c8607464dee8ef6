// Push packet bodies: what the client takes from them, and what it refuses.
#include "protocol/push.h"

#include <gtest/gtest.h>

namespace {

PushPiece Piece(std::uint16_t kind, const std::string& content) {
  PushPiece p;
  p.header.msg = kind;
  p.header.decompSize = static_cast<std::uint32_t>(content.size());
  if (kind == NB_PACKET_BZ2) Bz2Compress(content.data(), content.size(), p.body);
  if (kind != NB_PACKET_BZ2) p.body = content;
  p.header.size = static_cast<std::uint32_t>(p.body.size());
  return p;
}

TEST(PushBody, DecodesItsPiecesAndRefusesWhatDoesNotAddUp) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n";
  const std::string body = EncodePush(
      "http://a/s.css", {Piece(NB_PACKET_NOCOMPRESS, head), Piece(NB_PACKET_BZ2, "p { x: 1; }\n")});
  std::string url, answer;
  ASSERT_TRUE(DecodePush(body.data(), body.size(), 1000, &url, &answer));
  EXPECT_EQ(url, "http://a/s.css");
  EXPECT_EQ(answer, head + "p { x: 1; }\n");
  // Cut short, over the bound, or an inner kind it does not know: refused.
  EXPECT_FALSE(DecodePush(body.data(), body.size() - 1, 1000, &url, &answer));
  EXPECT_FALSE(DecodePush(body.data(), body.size(), head.size() + 5, &url, &answer));
  const std::string odd = EncodePush("http://a/x", {Piece(NB_PACKET_NOMONEY, "zz")});
  EXPECT_FALSE(DecodePush(odd.data(), odd.size(), 1000, &url, &answer));
  // The URL alone: not coming.
  const std::string none = EncodePush("http://a/n.js", {});
  ASSERT_TRUE(DecodePush(none.data(), none.size(), 1000, &url, &answer));
  EXPECT_EQ(url, "http://a/n.js");
  EXPECT_TRUE(answer.empty());
}

TEST(PushBody, PromiseAndHeldLineGoAndComeBack) {
  const std::vector<std::string> urls = {"http://a/s.css", "http://a/j.js"};
  const std::string body = EncodePromise(urls);
  std::vector<std::string> got;
  ASSERT_TRUE(DecodePromise(body.data(), body.size(), &got));
  EXPECT_EQ(got, urls);
  EXPECT_FALSE(DecodePromise(body.data(), body.size() - 1, &got));
  EXPECT_FALSE(DecodePromise("\0\0", 2, &got));

  const std::string request = "GET / HTTP/1.1\r\nHost: a\r\n\r\nNb-Held: body";
  std::string held = WithHeldField(request, {"0000000a", "0000000b"});
  EXPECT_EQ(TakeHeldField(&held), (std::set<std::string>{"0000000a", "0000000b"}));
  EXPECT_EQ(held, request);  // the line is gone, the body's text is not touched
  std::string twice = "GET / HTTP/1.1\r\nnb-held: 1\r\nNb-Held: 2\r\nHost: a\r\n\r\n";
  EXPECT_EQ(TakeHeldField(&twice), (std::set<std::string>{"1"}));
  EXPECT_EQ(twice, "GET / HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_NE(UrlHash("http://a/s.css"), UrlHash("http://a/j.js"));
}

TEST(PushBody, UrlOfRequestIsTheSameForBothRequestForms) {
  EXPECT_EQ(PushUrlOfRequest("GET http://Site.Example/a.css HTTP/1.1\r\nHost: x\r\n\r\n"),
            "http://site.example/a.css");
  EXPECT_EQ(PushUrlOfRequest("GET /a.css HTTP/1.1\r\nHOST: Site.Example\r\n\r\n"),
            "http://site.example/a.css");
  EXPECT_EQ(PushUrlOfRequest("POST http://site.example/a.css HTTP/1.1\r\n\r\n"), "");
  EXPECT_TRUE(RequestCarriesCredentials("GET / HTTP/1.1\r\nhost: a\r\ncookie: x=1\r\n\r\n"));
  EXPECT_FALSE(RequestCarriesCredentials("GET / HTTP/1.1\r\nHost: a\r\n\r\nCookie: body\r\n"));
}

}  // namespace
