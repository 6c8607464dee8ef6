// Recoding to WebP, the answer fields it changes, and when it happens.
#include <gtest/gtest.h>
#include <png.h>
#include <webp/decode.h>

#include <cstring>
#include <random>

#include "http_request.h"
#include "packer.h"
#include "service_test_util.h"
#include "webp_recode.h"

namespace {

using nbsvc::ImageType;

std::string Response(const char* type, const std::string& body, const char* extra = "") {
  return std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nETag: \"e1\"\r\n" + extra +
         "\r\n" + body;
}

// A w x h noisy RGBA image whose left half is fully transparent.
std::string HalfTransparentPng(int w, int h) {
  std::vector<unsigned char> px(static_cast<std::size_t>(w) * h * 4);
  std::mt19937 noise(3);
  for (std::size_t i = 0; i < px.size(); ++i) {
    bool alpha = i % 4 == 3, left = (i / 4) % w < static_cast<std::size_t>(w / 2);
    px[i] = static_cast<unsigned char>(alpha ? (left ? 0 : 255) : (i / 4) % 200 + noise() % 40);
  }
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(w);
  img.height = static_cast<png_uint_32>(h);
  img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 1 << 22;
  std::string out(size, '\0');
  EXPECT_TRUE(png_image_write_to_memory(&img, &out[0], &size, 0, px.data(), 0, nullptr));
  out.resize(size);
  return out;
}

// One transparent pixel; kFrame is its frame, repeated for an animation.
const char kGifHead[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff";
const char kFrame[] =
    "\x21\xf9\x04\x01\x00\x00\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00"
    "\x02\x02\x44\x01\x00";
std::string Gif(int frames) {
  std::string g(kGifHead, sizeof kGifHead - 1);
  for (int i = 0; i < frames; ++i) g.append(kFrame, sizeof kFrame - 1);
  return g + ";";
}

TEST(WebpRecode, PhotosShrinkAndTransparencyStays) {
  std::string jpeg = nbtest::MakePhotoJpeg(640, 480, 92, 5);
  std::string webp;
  ASSERT_TRUE(nbsvc::RecodeToWebp(jpeg, ImageType::Jpeg,
                                  nbsvc::WebpQualityForCode(1, ImageType::Jpeg), &webp));
  int w = 0, h = 0;
  ASSERT_TRUE(WebPGetInfo(reinterpret_cast<const uint8_t*>(webp.data()), webp.size(), &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_LT(webp.size(), jpeg.size() / 2);

  std::string png = HalfTransparentPng(64, 48);
  ASSERT_TRUE(nbsvc::RecodeToWebp(png, ImageType::Png, nbsvc::WebpQualityForCode(2, ImageType::Png),
                                  &webp));
  uint8_t* px = WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(webp.data()), webp.size(), &w, &h);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(px[(10 * 64 + 5) * 4 + 3], 0);     // left half
  EXPECT_EQ(px[(10 * 64 + 50) * 4 + 3], 255);  // right half
  WebPFree(px);

  ASSERT_TRUE(nbsvc::RecodeToWebp(Gif(1), ImageType::Gif, 50, &webp));
  px = WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(webp.data()), webp.size(), &w, &h);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(px[3], 0);
  WebPFree(px);
}

TEST(WebpRecode, AnimationsDamageAndWrongTypesAreLeftAlone) {
  std::string out = "x";
  EXPECT_FALSE(nbsvc::RecodeToWebp(Gif(2), ImageType::Gif, 50, &out));
  EXPECT_TRUE(out.empty());
  std::string png = HalfTransparentPng(32, 32);
  EXPECT_FALSE(nbsvc::RecodeToWebp(png.substr(0, png.size() - 30), ImageType::Png, 50, &out));
  EXPECT_FALSE(nbsvc::RecodeToWebp(png, ImageType::Gif, 50, &out));
}

TEST(WebpAnswer, AcceptNamesWebp) {
  const char* chrome = "image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8";
  EXPECT_TRUE(nbsvc::AcceptsWebp(std::string("GET /a.png HTTP/1.1\r\nHost: h\r\nAccept: ") +
                                 chrome + "\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsWebp("GET / HTTP/1.1\r\nAccept: image/webp;q=0\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsWebp("GET / HTTP/1.1\r\nAccept: image/*,*/*\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsWebp("GET / HTTP/1.1\r\nAccept-Language: image/webp\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsWebp("POST / HTTP/1.1\r\nHost: h\r\n\r\nAccept: image/webp\r\n"));
}

TEST(WebpAnswer, HeadFieldsFollowTheNewFormat) {
  std::string r = Response("image/png", "old", "Vary: Origin\r\n");
  nbsvc::ResponseHead head = nbsvc::ParseResponseHead(r);
  std::string out = nbsvc::RebuildAsWebp(r, head, "RIFFnew");
  EXPECT_NE(out.find("Content-Type: image/webp\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Vary: Origin, Accept\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ETag: W/\"e1\"\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Content-Length: 7\r\n\r\nRIFFnew"), std::string::npos) << out;
}

TEST(WebpAnswer, OnlyAskedForAndOnlyWhenSmaller) {
  std::string jpeg = Response("image/jpeg", nbtest::MakePhotoJpeg(320, 240, 92, 9, 3));
  std::string png = Response("image/png", HalfTransparentPng(200, 100));
  for (const std::string& r : {jpeg, png}) {
    nbsvc::PackedAnswer a = nbsvc::PackResponse(r, 1, nullptr, {}, true);
    ASSERT_FALSE(a.packets.empty());
    EXPECT_EQ(a.packets[0].header.msg, NB_PACKET_JPG);
    EXPECT_NE(a.packets[0].body.find("image/webp"), std::string::npos);
    EXPECT_LT(a.after, r.size());
    // Untouched stays untouched, WebP or not.
    nbsvc::PackedAnswer same = nbsvc::PackResponse(r, 0, nullptr, {}, true);
    EXPECT_EQ(same.packets[0].body.find("image/webp"), std::string::npos);
  }
  // Without WebP: the JPEG road, and a PNG packed as any other content.
  nbsvc::PackedAnswer a = nbsvc::PackResponse(jpeg, 1, nullptr, {}, false);
  EXPECT_NE(a.packets[0].body.find("image/jpeg"), std::string::npos);
  a = nbsvc::PackResponse(png, 1, nullptr, {}, false);
  EXPECT_NE(a.packets[0].header.msg, NB_PACKET_JPG);
  // A tiny GIF gains nothing: the original goes as it came.
  std::string gif = Response("image/gif", Gif(1));
  a = nbsvc::PackResponse(gif, 1, nullptr, {}, true);
  EXPECT_NE(a.packets[0].header.msg, NB_PACKET_JPG);
  EXPECT_EQ(a.before, gif.size());
}

}  // namespace
