// Packing cache and packing while an answer arrives.
#include "pack_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "answer_stream.h"
#include "packer.h"
#include "service_limits.h"
#include "service_test_util.h"

namespace {

using nbsvc::AnswerPacket;
using nbsvc::PackCache;

std::string Contents(const std::vector<AnswerPacket>& packets) {
  std::vector<nbtest::ClientPacket> ps;
  for (const auto& p : packets) ps.push_back({p.header, p.body});
  return nbtest::Contents(ps);
}

// Text that compresses, varied so that its pieces differ.
std::string Text(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += "line " + std::to_string(rng() % 1000) + " of the page\n";
  s.resize(n);
  return s;
}

std::string Response(const std::string& body, const std::string& date) {
  return "HTTP/1.1 200 OK\r\nDate: " + date + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

TEST(PackCache, KeepsWithinItsBoundAndDropsTheLeastRecent) {
  PackCache cache(3000);
  std::string k1 = nbsvc::PackKey('z', 0, "one", 3), k2 = nbsvc::PackKey('z', 0, "two", 3);
  std::string k3 = nbsvc::PackKey('z', 0, "three", 5);
  // The packing variant and its parameter are part of the key.
  EXPECT_NE(k1, nbsvc::PackKey('j', 0, "one", 3));
  EXPECT_NE(nbsvc::PackKey('j', 40, "one", 3), nbsvc::PackKey('j', 20, "one", 3));
  cache.Put(k1, std::string(1000, 'a'));
  cache.Put(k2, std::string(1000, 'b'));
  std::string v;
  ASSERT_TRUE(cache.Get(k1, &v));  // k1 is now the most recent
  EXPECT_EQ(v, std::string(1000, 'a'));
  cache.Put(k3, std::string(1000, 'c'));
  EXPECT_FALSE(cache.Get(k2, &v));
  EXPECT_TRUE(cache.Get(k1, &v));
  EXPECT_TRUE(cache.Get(k3, &v));
  EXPECT_LE(cache.Bytes(), 3000u);
  cache.Put(nbsvc::PackKey('z', 0, "big", 3), std::string(5000, 'd'));  // never fits
  EXPECT_TRUE(cache.Get(k3, &v));
}

TEST(PackCache, BodySeenAgainUnderANewHeadIsTakenFromTheCache) {
  PackCache cache(64 << 20);
  std::string body = Text(450000, 1);
  std::string first = Response(body, "Tue, 08 Dec 2026 10:00:00 GMT");
  std::string second = Response(body, "Tue, 08 Dec 2026 10:00:07 GMT");
  nbsvc::PackedAnswer a = nbsvc::PackResponse(first, 0, &cache);
  std::uint64_t misses = cache.Misses();
  EXPECT_EQ(cache.Hits(), 0u);
  nbsvc::PackedAnswer b = nbsvc::PackResponse(second, 0, &cache);
  EXPECT_EQ(cache.Hits(), misses);
  EXPECT_EQ(Contents(a.packets), first);
  EXPECT_EQ(Contents(b.packets), second);
  // Every body piece is packed exactly as without the cache.
  nbsvc::PackedAnswer plain = nbsvc::PackResponse(second, 0, nullptr);
  EXPECT_EQ(plain.before, b.before);
  EXPECT_EQ(a.packets.back().body, b.packets.back().body);
  // A recoded image is cached per quality and gives the same bytes.
  std::string image = nbtest::MakePhotoJpeg(400, 300, 92, 5);
  std::string jpeg = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                     std::to_string(image.size()) + "\r\n\r\n" + image;
  std::string once = Contents(nbsvc::PackResponse(jpeg, 1, &cache).packets);
  std::uint64_t hits = cache.Hits();
  EXPECT_EQ(Contents(nbsvc::PackResponse(jpeg, 1, &cache).packets), once);
  EXPECT_EQ(cache.Hits(), hits + 1);
  EXPECT_EQ(once, Contents(nbsvc::PackResponse(jpeg, 1, nullptr).packets));
  EXPECT_NE(Contents(nbsvc::PackResponse(jpeg, 2, &cache).packets), once);
}

// Feeds response in reads of step bytes; returns the packets taken before
// the end and all packets, and the most bytes the stream held at once. With
// two pieces packing at once, the first piece is surely ready once a third
// has started.
std::size_t Feed(const std::string& response, int jpegCode, std::size_t step,
                 std::vector<AnswerPacket>* early, std::vector<AnswerPacket>* all,
                 bool earlyPages = false, std::string* whole = nullptr) {
  PackCache cache(64 << 20);
  nbsvc::AnswerStream stream(jpegCode, &cache, 2, nbsvc::TextCoding(), false, earlyPages);
  std::size_t held = 0;
  for (std::size_t pos = 0; pos < response.size(); pos += step) {
    stream.Offer(response.data() + pos, std::min(step, response.size() - pos));
    held = std::max(held, stream.HeldBytes());
    for (auto& p : stream.TakeReady()) early->push_back(p);
  }
  *all = *early;
  for (auto& p : stream.Finish(whole)) all->push_back(std::move(p));
  return held;
}

TEST(AnswerStream, LargeAnswersLeaveBeforeTheirEndSmallOnesWhole) {
  std::string big = Response(Text(1500000, 2), "now");
  std::vector<AnswerPacket> early, all;
  Feed(big, 0, 65536, &early, &all);
  EXPECT_FALSE(early.empty());
  EXPECT_EQ(Contents(all), big);
  for (const auto& p : all) EXPECT_LE(p.header.decompSize, kMaxBodySize);

  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                        std::string("b71b0\r\n") + Text(750000, 3) + "\r\n0\r\n\r\n";
  early.clear();
  Feed(chunked, 0, 4096, &early, &all);
  EXPECT_FALSE(early.empty());
  EXPECT_EQ(Contents(all), chunked);

  // Only the connection's end frames these; they leave as they come too
  // (a cut one ends with the cut marker), and what is held stays within
  // the pieces packing and the one being read, whatever the size.
  const std::size_t bound = 4 * kMaxBodySize + 65536;
  std::string closeEnded = "HTTP/1.0 200 OK\r\n\r\n" + Text(3000000, 4);
  std::string notHttp = Text(1500000, 6);
  // An image too large to hold for recoding passes as it comes (its start
  // only: the stream does not judge completeness).
  std::string hugeJpeg = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                         std::to_string(nbsvc::kMaxRecodedImage + 1) + "\r\n\r\n" +
                         Text(1500000, 7);
  for (const std::string* r : {&closeEnded, &notHttp, &hugeJpeg}) {
    early.clear();
    EXPECT_LE(Feed(*r, 1, 65536, &early, &all), bound);
    EXPECT_FALSE(early.empty());
    EXPECT_EQ(Contents(all), *r);
  }

  std::string small = Response(Text(150000, 5), "now");
  early.clear();
  Feed(small, 0, 1000, &early, &all);
  EXPECT_TRUE(early.empty());
  EXPECT_EQ(Contents(all), small);
}

TEST(AnswerStream, EarlyPageLeavesHeadAndSmallFirstPieceAndStaysWhole) {
  std::string page =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
      "Content-Length: 150000\r\n\r\n" +
      Text(150000, 8);
  std::vector<AnswerPacket> early, all;
  std::string whole;
  Feed(page, 0, 4096, &early, &all, true, &whole);
  // The head and the first piece left before the end, the piece small.
  ASSERT_EQ(early.size(), 2u);
  EXPECT_TRUE(early[0].head);
  EXPECT_GT(early[1].header.decompSize, 0u);
  EXPECT_LE(early[1].header.decompSize, nbsvc::kEarlyPieceBytes);
  EXPECT_EQ(Contents(all), page);
  // The page as a whole stays at hand to be kept as the site's page.
  EXPECT_EQ(whole, page);

  // Not a page, or no early start asked for: packed whole as before.
  std::string css = page;
  css.replace(css.find("text/html"), 9, "text/css");
  for (const auto& [answer, ask] : {std::pair{&css, true}, std::pair{&page, false}}) {
    early.clear();
    Feed(*answer, 0, 4096, &early, &all, ask);
    EXPECT_TRUE(early.empty());
    EXPECT_EQ(Contents(all), *answer);
  }
}

}  // namespace
