// Response framing: completeness, chunked bodies and rebuilding.
#include "http_response.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "http_request.h"
#include "response_framer.h"

namespace {

using nbsvc::ResponseComplete;

TEST(ResponseFraming, ContentLengthDecidesCompleteness) {
  std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
      "content-length: 10\r\n\r\n";
  EXPECT_FALSE(ResponseComplete(head, false));
  EXPECT_FALSE(ResponseComplete(head + "012345678", false));
  EXPECT_TRUE(ResponseComplete(head + "0123456789", false));
  EXPECT_TRUE(ResponseComplete(head, true));  // HEAD: no body follows
  auto h = nbsvc::ParseResponseHead(head);
  EXPECT_EQ(h.status, 200);
  EXPECT_EQ(h.contentType, "text/html");
  EXPECT_EQ(h.contentLength, 10u);
  EXPECT_EQ(h.headLen, head.size());
}

TEST(ResponseFraming, NoLengthMeansUntilClose) {
  EXPECT_FALSE(ResponseComplete("HTTP/1.0 200 OK\r\n\r\nabc", false));
  EXPECT_FALSE(ResponseComplete("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n", false));
  EXPECT_TRUE(ResponseComplete("HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n", false));
  EXPECT_TRUE(ResponseComplete("HTTP/1.1 204 No Content\r\n\r\n", false));
}

TEST(ResponseFraming, InterimResponsesAreSkipped) {
  std::string r = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
  EXPECT_FALSE(ResponseComplete(r, false));
  EXPECT_TRUE(ResponseComplete(r + "ok", false));
  EXPECT_EQ(nbsvc::FinalResponseOffset(r), 25u);
}

TEST(ResponseFraming, ChunkedBodies) {
  std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string body = "5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\nX-Trailer: 1\r\n\r\n";
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    EXPECT_FALSE(ResponseComplete(head + body.substr(0, cut), false)) << cut;
  }
  EXPECT_TRUE(ResponseComplete(head + body, false));
  std::string out;
  std::size_t end = 0;
  ASSERT_EQ(nbsvc::Dechunk(head + body, head.size(), &out, &end), nbsvc::ChunkState::Complete);
  EXPECT_EQ(out, "hello, world");
  EXPECT_EQ(end, head.size() + body.size());
  EXPECT_EQ(nbsvc::Dechunk(head + "zz\r\n", head.size(), &out, &end), nbsvc::ChunkState::Bad);
  EXPECT_EQ(nbsvc::Dechunk(head + "3\r\nabcX", head.size(), &out, &end), nbsvc::ChunkState::Bad);
}

// Followed piece by piece, a response is complete exactly where the whole
// text says so, and an end before that is a cut unless nothing frames it.
TEST(ResponseFraming, FollowedWhileArrivingAgreesWithTheWholeText) {
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string cases[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789",
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
      chunkedHead + "5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\nX-Trailer: 1\r\n\r\n",
      chunkedHead + "3\nabc\n0\n\n",
      chunkedHead + "zz\r\n",
      chunkedHead + "3\r\nabcX",
      "HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n",
      "HTTP/1.0 200 OK\r\n\r\nuntil the end",
      "not http at all",
  };
  for (const std::string& r : cases) {
    for (std::size_t step : {1u, 7u}) {
      nbsvc::ResponseFramer framer(false);
      for (std::size_t pos = 0; pos < r.size(); pos += step) {
        std::size_t n = std::min(step, r.size() - pos);
        framer.Feed(r.data() + pos, n);
        std::string prefix = r.substr(0, pos + n);
        bool whole = ResponseComplete(prefix, false);
        ASSERT_EQ(framer.Complete(), whole) << r << " @" << pos + n;
        EXPECT_EQ(framer.WholeAtEnd(false), whole) << r << " @" << pos + n;
      }
      // Ended cleanly where the text ends: whole, framed or not.
      EXPECT_TRUE(framer.WholeAtEnd(true)) << r;
    }
  }
  for (std::size_t cut : {std::size_t{12}, std::size_t{44}}) {
    nbsvc::ResponseFramer framer(false);  // part of a head, part of a body
    framer.Feed(cases[0].data(), cut);
    EXPECT_FALSE(framer.WholeAtEnd(true)) << cut;
  }
  nbsvc::ResponseFramer head(true);
  head.Feed(cases[0].data(), 39);  // the head alone answers a HEAD request
  EXPECT_TRUE(head.Complete());
  EXPECT_EQ(head.Head().contentLength, 10u);
}

TEST(ResponseFraming, RebuildReplacesFramingFields) {
  std::string r =
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nTransfer-Encoding: chunked\r\n"
      "X-Keep: yes\r\nContent-Length: 99\r\n\r\nignored";
  auto h = nbsvc::ParseResponseHead(r);
  std::string out = nbsvc::RebuildWithBody(r, h, "NEWBODY");
  EXPECT_EQ(out,
            "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nX-Keep: yes\r\n"
            "Content-Length: 7\r\n\r\nNEWBODY");
}

TEST(ResponseFraming, RecodableJpegNeeds200AndNoContentEncoding) {
  auto ok = nbsvc::ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Type: Image/JPEG\r\n\r\n");
  EXPECT_TRUE(nbsvc::IsRecodableJpeg(ok));
  EXPECT_FALSE(nbsvc::IsRecodableJpeg(
      nbsvc::ParseResponseHead("HTTP/1.1 206 Partial\r\nContent-Type: image/jpeg\r\n\r\n")));
  EXPECT_FALSE(nbsvc::IsRecodableJpeg(nbsvc::ParseResponseHead(
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Encoding: gzip\r\n\r\n")));
  EXPECT_FALSE(nbsvc::IsRecodableJpeg(
      nbsvc::ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n")));
}

TEST(RequestRewrite, AcceptEncodingLeavesOnlyTheHead) {
  std::string req =
      "GET / HTTP/1.1\r\nHost: a\r\nAccept-Encoding: gzip, br\r\n"
      "accept-encoding : deflate\r\nX-Accept-Encoding: keep\r\n\r\n"
      "Accept-Encoding: body text stays";
  EXPECT_EQ(nbsvc::WithoutAcceptEncoding(req),
            "GET / HTTP/1.1\r\nHost: a\r\nX-Accept-Encoding: keep\r\n\r\n"
            "Accept-Encoding: body text stays");
  std::string plain = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(nbsvc::WithoutAcceptEncoding(plain), plain);
  std::string partial = "GET / HTTP/1.0\r\nAccept-Encoding: gzip";  // no line end
  EXPECT_EQ(nbsvc::WithoutAcceptEncoding(partial), partial);
}

}  // namespace
