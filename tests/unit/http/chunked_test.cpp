// Chunked request bodies: how a head frames its body, and where a chunked
// body ends whatever pieces it arrives in.
#include "http/chunked.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Feeds text in pieces of `step` bytes; returns the bytes taken as body.
std::string Scan(const std::string& text, std::size_t step, ChunkedBodyScanner& sc) {
  std::string taken;
  for (std::size_t at = 0; at < text.size(); at += step) {
    const std::string piece = text.substr(at, step);
    taken += piece.substr(0, sc.Feed(piece.data(), piece.size()));
  }
  return taken;
}

TEST(ChunkedBody, EndsAtTheLastChunkAndTrailersInAnyPieces) {
  const std::string body = "a\r\n0123456789\r\n1;ext=1\r\nx\r\n0\r\nTrailer: t\r\n\r\n";
  for (std::size_t step : {std::size_t{1}, std::size_t{7}, body.size() + 20}) {
    ChunkedBodyScanner sc;
    EXPECT_EQ(Scan(body + "GET /next HTTP/1.1\r\n\r\n", step, sc), body) << step;
    EXPECT_TRUE(sc.done());
  }
}

TEST(ChunkedBody, MalformedOrOversizedBodiesFail) {
  const std::string bad[] = {
      "\r\n",                                             // no size
      "5\r\nhelloX\r\n",                                  // data longer than its size
      "5\nhello\r\n",                                     // bare line feed
      "40000001\r\n",                                     // beyond the body limit
      "0\r\n" + std::string(kMaxChunkMetaSize + 1, 't'),  // endless trailers
  };
  for (const std::string& text : bad) {
    ChunkedBodyScanner sc;
    Scan(text, 3, sc);
    EXPECT_TRUE(sc.failed()) << text.substr(0, 20);
  }
}

TEST(ChunkedBody, FramingOfTheHead) {
  EXPECT_EQ(RequestBodyFraming("POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n"),
            BodyFraming::Length);
  EXPECT_EQ(RequestBodyFraming("POST / HTTP/1.1\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"),
            BodyFraming::Chunked);
  EXPECT_EQ(RequestBodyFraming("POST / HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n"),
            BodyFraming::Invalid);
  EXPECT_EQ(RequestBodyFraming(
                "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"),
            BodyFraming::Invalid);
}

}  // namespace
