// Chunked request bodies: how a head frames its body, and the scanner's
// refusals (the relay tests follow well-formed bodies to their end).
#include "http/chunked.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

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
    for (std::size_t at = 0; at < text.size(); at += 3)
      sc.Feed(text.data() + at, std::min<std::size_t>(3, text.size() - at));
    EXPECT_TRUE(sc.failed()) << text.substr(0, 20);
  }
}

TEST(ChunkedBody, FramingOfTheHead) {
  EXPECT_EQ(RequestBodyFraming("POST / HTTP/1.1\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"),
            BodyFraming::Chunked);
  EXPECT_EQ(RequestBodyFraming("POST / HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n"),
            BodyFraming::Invalid);
  EXPECT_EQ(RequestBodyFraming(
                "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"),
            BodyFraming::Invalid);
}

}  // namespace
