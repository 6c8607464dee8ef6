// JPEG recoding and the packets an answer is cut into.
#include <gtest/gtest.h>

#include <random>

#include "http_response.h"
#include "jpeg_meta.h"
#include "jpeg_recode.h"
#include "packer.h"
#include "service_test_util.h"

namespace {

std::string JpegResponse(const std::string& image) {
  return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
         std::to_string(image.size()) + "\r\nETag: \"abc\"\r\n\r\n" + image;
}

// Checks the packet limits and returns the concatenated content.
std::string CheckPackets(const nbsvc::PackedAnswer& a) {
  std::vector<nbtest::ClientPacket> ps;
  std::uint64_t before = 0, after = 0;
  for (const auto& p : a.packets) {
    EXPECT_LE(p.header.size, kMaxBodySize);
    EXPECT_LE(p.header.decompSize, kMaxBodySize);
    EXPECT_EQ(p.header.size, p.body.size());
    before += p.header.decompSize;
    after += p.header.size;
    ps.push_back({p.header, p.body});
  }
  EXPECT_EQ(before, a.before);
  EXPECT_EQ(after, a.after);
  return nbtest::Contents(ps);
}

TEST(JpegRecode, SmallerDecodableSameSize) {
  std::string original = nbtest::MakePhotoJpeg(640, 480, 92, 1);
  int w0, h0;
  ASSERT_TRUE(nbtest::DecodeJpeg(original, &w0, &h0));
  std::string medium, low;
  ASSERT_TRUE(nbsvc::RecodeJpeg(original, 40, &medium));
  ASSERT_TRUE(nbsvc::RecodeJpeg(original, 20, &low));
  int w, h;
  ASSERT_TRUE(nbtest::DecodeJpeg(medium, &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  ASSERT_TRUE(nbtest::DecodeJpeg(low, &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_LT(medium.size(), original.size() * 6 / 10);
  EXPECT_LT(low.size(), medium.size());
}

TEST(JpegRecode, DamagedOrForeignDataIsNotRecoded) {
  std::string original = nbtest::MakePhotoJpeg(320, 240, 90, 3);
  std::string out;
  EXPECT_FALSE(nbsvc::RecodeJpeg("GIF89a....", 40, &out));
  EXPECT_TRUE(out.empty());
  // Cut in the middle of the scan: libjpeg warns and pads; not trusted.
  EXPECT_FALSE(nbsvc::RecodeJpeg(original.substr(0, original.size() / 2), 40, &out));
  EXPECT_FALSE(nbsvc::RecodeJpeg(original, 0, &out));
  EXPECT_FALSE(nbsvc::RecodeJpeg("", 40, &out));
}

// A JPEG segment: marker, big-endian length, payload.
std::string Segment(unsigned char marker, const std::string& payload) {
  std::size_t n = payload.size() + 2;
  return std::string{'\xff', static_cast<char>(marker), static_cast<char>(n >> 8),
                     static_cast<char>(n & 0xff)} +
         payload;
}

// A camera's EXIF block in byte order "II" or "MM": orientation, another
// tag before it, and a thumbnail-sized tail.
std::string CameraExif(bool little, int orientation) {
  auto u16 = [little](int v) {
    return little ? std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)}
                  : std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xff)};
  };
  auto u32 = [&](int v) {
    return little ? u16(v & 0xffff) + u16(v >> 16) : u16(v >> 16) + u16(v & 0xffff);
  };
  std::string tiff = (little ? "II" : "MM") + u16(42) + u32(8) + u16(2);
  tiff += u16(0x010f) + u16(2) + u32(4) + "Cam";  // maker name, then
  tiff += std::string(1, '\0');
  tiff += u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0) + u32(0);
  return std::string("Exif\0\0", 6) + tiff + std::string(20000, 't');
}

// The APP segments of a JPEG up to its first scan: marker and payload.
std::vector<std::pair<int, std::string>> AppSegments(const std::string& jpeg) {
  std::vector<std::pair<int, std::string>> out;
  std::size_t i = 2;
  while (i + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[i]) == 0xff) {
    int marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (marker == 0xda) break;
    std::size_t n =
        static_cast<unsigned char>(jpeg[i + 2]) << 8 | static_cast<unsigned char>(jpeg[i + 3]);
    if (marker >= 0xe0 && marker <= 0xef) out.emplace_back(marker, jpeg.substr(i + 4, n - 2));
    i += 2 + n;
  }
  return out;
}

TEST(JpegRecode, KeepsColourProfileAndOrientationOnly) {
  std::string icc(3000, '\0');
  for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = static_cast<char>(i * 7);
  std::string photo = nbtest::MakePhotoJpeg(320, 240, 92, 12);
  photo.insert(2, Segment(0xe1, CameraExif(true, 6)) +
                      Segment(0xe2, std::string("ICC_PROFILE\0\1\1", 14) + icc));
  std::string out;
  ASSERT_TRUE(nbsvc::RecodeJpeg(photo, 40, &out));
  std::string gotIcc;
  int orientation = 0;
  std::size_t exifBytes = 0;
  for (const auto& seg : AppSegments(out)) {
    const std::string& p = seg.second;
    if (seg.first == 0xe2 && p.compare(0, 12, std::string("ICC_PROFILE\0", 12)) == 0)
      gotIcc += p.substr(14);
    if (seg.first == 0xe1) {
      orientation =
          nbsvc::ExifOrientation(reinterpret_cast<const unsigned char*>(p.data()), p.size());
      exifBytes += p.size();
    }
  }
  EXPECT_EQ(gotIcc, icc);
  EXPECT_EQ(orientation, 6);
  EXPECT_LT(exifBytes, 64u);  // the camera's other data and thumbnail are gone
  int w, h;
  EXPECT_TRUE(nbtest::DecodeJpeg(out, &w, &h));
  // Big-endian blocks read alike; a cut one reads as none.
  std::string mm = CameraExif(false, 8);
  const auto* raw = reinterpret_cast<const unsigned char*>(mm.data());
  EXPECT_EQ(nbsvc::ExifOrientation(raw, mm.size()), 8);
  EXPECT_EQ(nbsvc::ExifOrientation(raw, 30), 0);
}

TEST(Packer, TextGoesAsBzip2AndRestoresExactly) {
  std::string page = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  for (int i = 0; i < 3000; ++i)
    page += "<p>Paragraph " + std::to_string(i) + " of the page.</p>\n";
  nbsvc::PackedAnswer a = nbsvc::PackResponse(page, 1);
  ASSERT_EQ(a.packets.size(), 1u);
  EXPECT_EQ(a.packets[0].header.msg, NB_PACKET_BZ2);
  EXPECT_EQ(a.packets[0].header.decompSize, page.size());
  EXPECT_LT(a.after, page.size() / 5);
  EXPECT_EQ(CheckPackets(a), page);
}

TEST(Packer, BigAnswersAreCutAtThePacketLimitInOrder) {
  std::mt19937 gen(5);
  std::string noise(450001, '\0');
  for (auto& c : noise) c = static_cast<char>(gen());
  std::string text(kMaxBodySize, 'a');
  std::string content = noise + text;  // 650001 bytes: four pieces
  nbsvc::PackedAnswer a = nbsvc::PackPlain(content);
  ASSERT_EQ(a.packets.size(), 4u);
  EXPECT_EQ(a.packets[0].header.msg, NB_PACKET_NOCOMPRESS);  // random: no gain
  EXPECT_EQ(a.packets[0].header.size, kMaxBodySize);
  EXPECT_EQ(a.packets[3].header.msg, NB_PACKET_BZ2);  // the run of 'a'
  EXPECT_EQ(a.before, content.size());
  EXPECT_EQ(CheckPackets(a), content);
  EXPECT_TRUE(nbsvc::PackPlain("").packets.empty());
}

TEST(Packer, JpegRecodedWithCorrectedLengthAsKind4) {
  std::string image = nbtest::MakePhotoJpeg(640, 480, 92, 7);
  std::string response = JpegResponse(image);
  for (int code : {1, 2}) {
    nbsvc::PackedAnswer a = nbsvc::PackResponse(response, code);
    EXPECT_TRUE(a.jpeg);
    EXPECT_TRUE(a.recoded);
    for (const auto& p : a.packets) EXPECT_EQ(p.header.msg, NB_PACKET_JPG);
    std::string got = CheckPackets(a);
    EXPECT_EQ(a.before, response.size());  // statistics count the original
    EXPECT_LT(got.size(), response.size() * 6 / 10);
    auto head = nbsvc::ParseResponseHead(got);
    ASSERT_TRUE(head.complete);
    ASSERT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, got.size() - head.headLen);
    EXPECT_NE(got.find("ETag: \"abc\"\r\n"), std::string::npos);
    int w, h;
    ASSERT_TRUE(nbtest::DecodeJpeg(got.substr(head.headLen), &w, &h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
  }
}

TEST(Packer, ImageCodeFourAndUnshrinkableImagesStayUntouched) {
  std::string image = nbtest::MakePhotoJpeg(320, 240, 92, 8);
  std::string response = JpegResponse(image);
  nbsvc::PackedAnswer keep = nbsvc::PackResponse(response, 4);
  EXPECT_FALSE(keep.jpeg);
  EXPECT_EQ(CheckPackets(keep), response);
  // An image already recoded at low quality grows when recoded at medium.
  std::string lowImage;
  ASSERT_TRUE(nbsvc::RecodeJpeg(image, 20, &lowImage));
  std::string tiny = JpegResponse(lowImage);
  nbsvc::PackedAnswer a = nbsvc::PackResponse(tiny, 1);
  EXPECT_TRUE(a.jpeg);
  EXPECT_FALSE(a.recoded);
  EXPECT_EQ(CheckPackets(a), tiny);
  // A damaged image is passed on as it came.
  std::string cut = JpegResponse(image.substr(0, image.size() / 2));
  nbsvc::PackedAnswer c = nbsvc::PackResponse(cut, 2);
  EXPECT_EQ(CheckPackets(c), cut);
}

TEST(Packer, ChunkedJpegIsReframedWithContentLength) {
  std::string image = nbtest::MakePhotoJpeg(400, 300, 92, 10);
  std::string chunked =
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  for (std::size_t pos = 0; pos < image.size(); pos += 4096) {
    std::string piece = image.substr(pos, 4096);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  nbsvc::PackedAnswer a = nbsvc::PackResponse(chunked, 1);
  ASSERT_TRUE(a.recoded);
  std::string got = CheckPackets(a);
  auto head = nbsvc::ParseResponseHead(got);
  EXPECT_FALSE(head.chunked);
  EXPECT_EQ(head.contentLength, got.size() - head.headLen);
  int w, h;
  EXPECT_TRUE(nbtest::DecodeJpeg(got.substr(head.headLen), &w, &h));
}

TEST(Packer, LargeRecodedJpegIsSplitWithinLimits) {
  // A photo whose recoded form is still above one packet.
  std::string image = nbtest::MakePhotoJpeg(2000, 1500, 97, 11, 40);
  std::string response = JpegResponse(image);
  nbsvc::PackedAnswer a = nbsvc::PackResponse(response, 1);
  ASSERT_TRUE(a.recoded);
  ASSERT_GT(a.after, kMaxBodySize) << "test image too small to need several packets";
  EXPECT_GE(a.packets.size(), 2u);
  std::string got = CheckPackets(a);  // limits on size and decompSize checked inside
  EXPECT_EQ(a.before, response.size());
  auto head = nbsvc::ParseResponseHead(got);
  int w, h;
  ASSERT_TRUE(nbtest::DecodeJpeg(got.substr(head.headLen), &w, &h));
  EXPECT_EQ(w, 2000);
}

TEST(Packer, ErrorPageIsAWholeResponse) {
  std::string r = nbsvc::MakeErrorResponse(502, "Bad Gateway", "down");
  auto head = nbsvc::ParseResponseHead(r);
  EXPECT_EQ(head.status, 502);
  EXPECT_TRUE(nbsvc::ResponseComplete(r, false));
  EXPECT_EQ(head.contentLength, r.size() - head.headLen);
}

}  // namespace
