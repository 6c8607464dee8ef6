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
