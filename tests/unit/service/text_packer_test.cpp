// Text for clients that take the denser coder: kinds, fallbacks and the
// dense versions made in the background.
#include <gtest/gtest.h>

#include <string>

#include "answer_stream.h"
#include "dense_packer.h"
#include "pack_cache.h"
#include "packer.h"
#include "prepared_pages.h"
#include "protocol/capabilities.h"
#include "protocol/text_codec.h"

namespace {

using nbsvc::AnswerPacket;
using nbsvc::TextCoding;

std::string Manual(int chapter) {
  std::string s = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  for (int i = 0; i < 600; ++i) {
    s += "<div class=\"section\"><h2>Function " + std::to_string(i * 7 % 1000) +
         "</h2><p>Returns the value of the option named in the call.</p></div>\n";
  }
  return s + "<p>chapter " + std::to_string(chapter) + "</p>";
}

std::string Decode(const AnswerPacket& p, const std::string& page) {
  std::string out;
  if (p.header.msg == NB_PACKET_BZ2) {
    Bz2Decompress(p.body.data(), p.body.size(), p.header.decompSize, out);
  } else if (p.header.msg == NB_PACKET_NOCOMPRESS) {
    out = p.body;
  } else {
    Text2Decompress(p.body.data(), p.body.size(), p.header.decompSize,
                    p.header.msg == NB_PACKET_TEXT2_DICT ? page : std::string(), out);
  }
  return out;
}

TEST(TextPacker, KindsFollowWhatTheClientTakesAndAlwaysDecode) {
  const std::string one = Manual(1), two = Manual(2);
  // Today's client: bzip2, whatever else the service could do.
  AnswerPacket old = nbsvc::PackPiece(one.data(), one.size(), nullptr);
  EXPECT_EQ(old.header.msg, NB_PACKET_BZ2);

  TextCoding text2;
  text2.text2 = true;
  AnswerPacket alone = nbsvc::PackPiece(two.data(), two.size(), nullptr, text2);
  EXPECT_TRUE(alone.header.msg == NB_PACKET_TEXT2 || alone.header.msg == NB_PACKET_BZ2);
  EXPECT_LE(alone.body.size(), old.body.size() + 64);
  EXPECT_EQ(Decode(alone, ""), two);

  TextCoding site = text2;
  site.page = std::make_shared<const std::string>(one);
  AnswerPacket against = nbsvc::PackPiece(two.data(), two.size(), nullptr, site);
  EXPECT_EQ(against.header.msg, NB_PACKET_TEXT2_DICT);
  EXPECT_LT(against.body.size() * 4, alone.body.size());
  EXPECT_EQ(against.header.decompSize, two.size());
  EXPECT_EQ(Decode(against, one), two);

  // A page that does not help: the piece goes as if there were none.
  site.page = std::make_shared<const std::string>(std::string(5000, '\x01'));
  AnswerPacket unhelped = nbsvc::PackPiece(two.data(), two.size(), nullptr, site);
  EXPECT_EQ(unhelped.header.msg, alone.header.msg);
  EXPECT_EQ(Decode(unhelped, ""), two);

  // The page prepared once serves every request naming it, within a bound.
  nbsvc::PreparedPages prepared(2, kText2Level);
  site.page = std::make_shared<const std::string>(one);
  site.prepared = prepared.For(site.page);
  ASSERT_TRUE(site.prepared);
  EXPECT_EQ(prepared.For(site.page), site.prepared);
  AnswerPacket viaPrepared = nbsvc::PackPiece(two.data(), two.size(), nullptr, site);
  EXPECT_EQ(viaPrepared.header.msg, NB_PACKET_TEXT2_DICT);
  EXPECT_EQ(Decode(viaPrepared, one), two);
  prepared.For(std::make_shared<const std::string>(two));
  prepared.For(std::make_shared<const std::string>(two + "x"));
  EXPECT_EQ(prepared.Count(), 2u);
  EXPECT_NE(prepared.For(site.page), site.prepared);  // the oldest went first
  EXPECT_EQ(prepared.For(nullptr), nullptr);
}

TEST(TextPacker, PieceAskedForAgainIsPackedDenselyOnceInTheBackground) {
  nbsvc::PackCache cache(64 * 1024 * 1024);
  nbsvc::DensePacker dense(&cache);
  TextCoding coding;
  coding.text2 = true;
  coding.dense = &dense;
  std::string page;
  for (int i = 0; i < 3000; ++i)
    page += "entry " + std::to_string(i * 7919 % 4096) + " of the index; ";
  AnswerPacket first = nbsvc::PackPiece(page.data(), page.size(), &cache, coding);
  dense.Drain();
  EXPECT_EQ(dense.Done(), 0u);  // seen once: nothing more is spent on it
  AnswerPacket again = nbsvc::PackPiece(page.data(), page.size(), &cache, coding);
  EXPECT_EQ(again.body, first.body);
  dense.Drain();
  EXPECT_EQ(dense.Done(), 1u);
  AnswerPacket third = nbsvc::PackPiece(page.data(), page.size(), &cache, coding);
  EXPECT_EQ(third.header.msg, NB_PACKET_TEXT2);
  EXPECT_LT(third.body.size(), first.body.size());
  EXPECT_EQ(Decode(third, ""), page);
  nbsvc::PackPiece(page.data(), page.size(), &cache, coding);
  dense.Drain();
  EXPECT_EQ(dense.Done(), 1u);  // packed hard once
}

// Decodes an answer's packets in order as a client that chains does: the
// number of chained pieces, or -1 as soon as one does not decode.
int DecodeAnswer(const std::vector<AnswerPacket>& packets, const SitePage& page, std::string* out) {
  int chained = 0;
  out->clear();
  for (const AnswerPacket& p : packets) {
    std::string piece = Decode(p, page ? *page : std::string());
    if (p.header.msg == NB_PACKET_TEXT2_CHAIN) {
      ++chained;
      const bool withPage = p.body[0] == kChainWithPage;
      if (withPage && !page) return -1;
      Text2Decompress(p.body.data() + 1, p.body.size() - 1, p.header.decompSize,
                      ChainPrefix(withPage ? page.get() : nullptr, *out), piece);
    }
    if (piece.size() != p.header.decompSize) return -1;
    *out += piece;
  }
  return chained;
}

TEST(TextPacker, ChainedPiecesOfABigAnswerDecodeOnlyAgainstWhatCameBefore) {
  std::string answer = Manual(3), back;
  for (int i = 0; answer.size() < 3 * kMaxBodySize; ++i) answer += Manual(i).substr(40);
  const SitePage page = std::make_shared<const std::string>(Manual(4));
  for (const SitePage& named : {SitePage(), page}) {
    TextCoding coding;
    coding.text2 = coding.chain = true;
    coding.page = named;
    // Packed while it arrives, pieces in parallel, as the service does.
    nbsvc::AnswerStream stream(0, nullptr, 3, coding);
    std::vector<AnswerPacket> packets;
    for (std::size_t pos = 0; pos < answer.size(); pos += 70000) {
      stream.Offer(answer.substr(pos, 70000));
      for (AnswerPacket& p : stream.TakeReady()) packets.push_back(std::move(p));
    }
    for (AnswerPacket& p : stream.Finish()) packets.push_back(std::move(p));
    EXPECT_GE(DecodeAnswer(packets, named, &back), 2);
    EXPECT_EQ(back, answer);
    // Without the page, or with a piece missing before it, a chained piece
    // fails instead of giving wrong bytes.
    if (named) {
      EXPECT_EQ(DecodeAnswer(packets, nullptr, &back), -1);
    }
    packets.erase(packets.begin() + 1);
    EXPECT_EQ(DecodeAnswer(packets, named, &back), -1);
  }
}

}  // namespace
