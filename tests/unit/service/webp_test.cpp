// Recoding to WebP and AVIF, the answer fields it changes, and when it
// happens.
#include <avif/avif.h>
#include <gtest/gtest.h>
#include <png.h>
#include <webp/decode.h>

#include <cstring>
#include <random>

#include "avif_recode.h"
#include "http_request.h"
#include "jpeg_recode.h"
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

// RGBA pixels of an AVIF image, empty when libavif does not decode it.
std::vector<unsigned char> DecodeAvif(const std::string& data) {
  std::vector<unsigned char> px;
  avifDecoder* dec = avifDecoderCreate();
  avifImage* img = avifImageCreateEmpty();
  avifRGBImage rgb;
  if (avifDecoderReadMemory(dec, img, reinterpret_cast<const uint8_t*>(data.data()), data.size()) ==
      AVIF_RESULT_OK) {
    avifRGBImageSetDefaults(&rgb, img);  // 8-bit RGBA
    px.resize(std::size_t{img->width} * img->height * 4);
    rgb.pixels = px.data();
    rgb.rowBytes = img->width * 4;
    if (avifImageYUVToRGB(img, &rgb) != AVIF_RESULT_OK) px.clear();
  }
  avifImageDestroy(img);
  avifDecoderDestroy(dec);
  return px;
}

// Mean SSIM of the green channels of two w-wide RGBA images, 8x8 windows.
double Ssim(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, int w) {
  double sum = 0, n = 0;
  for (std::size_t y0 = 0; (y0 + 8) * w * 4 <= a.size(); y0 += 4) {
    for (std::size_t x0 = 0; x0 + 8 <= static_cast<std::size_t>(w); x0 += 4, ++n) {
      double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
      for (std::size_t k = 0; k < 64; ++k) {
        std::size_t i = ((y0 + k / 8) * w + x0 + k % 8) * 4 + 1;
        mx += a[i] / 64., my += b[i] / 64., xx += a[i] * a[i] / 64., yy += b[i] * b[i] / 64.;
        xy += a[i] * b[i] / 64.;
      }
      sum += (2 * mx * my + 6.5025) * (2 * (xy - mx * my) + 58.5225) /
             ((mx * mx + my * my + 6.5025) * (xx - mx * mx + yy - my * my + 58.5225));
    }
  }
  return sum / n;
}

TEST(AvifRecode, PhotosKeepTheJpegLevelsQualityAndTransparencyStays) {
  std::string jpeg = nbtest::MakePhotoJpeg(640, 480, 92, 5), icc;
  std::vector<unsigned char> orig, ref;
  int w = 0, h = 0, orientation = 0;
  ASSERT_TRUE(nbsvc::DecodeJpegRgba(jpeg, 1u << 24, &orig, &w, &h, &icc, &orientation));
  for (int code = 1; code <= 2; ++code) {
    // Today's road at this code; the quantizers match its mean SSIM over
    // many photos, so one photo may fall a little below it.
    std::string today, avif;
    ASSERT_TRUE(nbsvc::RecodeJpeg(jpeg, nbsvc::JpegQualityForCode(code), &today));
    ASSERT_TRUE(nbsvc::DecodeJpegRgba(today, 1u << 24, &ref, &w, &h, &icc, &orientation));
    ASSERT_TRUE(nbsvc::RecodeToAvif(jpeg, ImageType::Jpeg,
                                    nbsvc::AvifQuantizerForCode(code, ImageType::Jpeg),
                                    nbsvc::ServiceAvifEncoding(), &avif));
    std::vector<unsigned char> px = DecodeAvif(avif);
    ASSERT_EQ(px.size(), orig.size());
    EXPECT_GE(Ssim(orig, px, 640), Ssim(orig, ref, 640) - 0.02) << code;
    EXPECT_LT(avif.size(), today.size()) << code;
  }

  std::string avif;
  ASSERT_TRUE(nbsvc::RecodeToAvif(HalfTransparentPng(64, 48), ImageType::Png,
                                  nbsvc::AvifQuantizerForCode(2, ImageType::Png),
                                  nbsvc::ServiceAvifEncoding(), &avif));
  std::vector<unsigned char> px = DecodeAvif(avif);
  ASSERT_EQ(px.size(), 64u * 48 * 4);
  EXPECT_EQ(px[(10 * 64 + 5) * 4 + 3], 0);     // left half
  EXPECT_EQ(px[(10 * 64 + 50) * 4 + 3], 255);  // right half
  EXPECT_FALSE(
      nbsvc::RecodeToAvif(Gif(2), ImageType::Gif, 30, nbsvc::ServiceAvifEncoding(), &avif));
}

TEST(AvifAnswer, OnlyWithTheBitAndTheBrowsersAccept) {
  EXPECT_TRUE(nbsvc::AcceptsAvif("GET / HTTP/1.1\r\nAccept: image/avif,image/webp\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsAvif("GET / HTTP/1.1\r\nAccept: image/webp,*/*\r\n\r\n"));
  EXPECT_FALSE(nbsvc::AcceptsAvif("GET / HTTP/1.1\r\nAccept: image/avifx\r\n\r\n"));

  std::string jpeg = Response("image/jpeg", nbtest::MakePhotoJpeg(320, 240, 92, 9, 3));
  nbsvc::PackedAnswer webp = nbsvc::PackResponse(jpeg, 1, nullptr, {}, true, false);
  EXPECT_NE(webp.packets[0].body.find("image/webp"), std::string::npos);
  nbsvc::PackedAnswer a = nbsvc::PackResponse(jpeg, 1, nullptr, {}, true, true);
  EXPECT_EQ(a.packets[0].header.msg, NB_PACKET_JPG);
  EXPECT_NE(a.packets[0].body.find("Content-Type: image/avif\r\n"), std::string::npos);
  EXPECT_NE(a.packets[0].body.find("Vary: Accept\r\n"), std::string::npos);
  EXPECT_LT(a.after, webp.after);
  nbsvc::PackedAnswer same = nbsvc::PackResponse(jpeg, 0, nullptr, {}, true, true);
  EXPECT_EQ(same.packets[0].body.find("image/avif"), std::string::npos);
  // This drawing is smaller as WebP: the WebP goes.
  std::string png = Response("image/png", HalfTransparentPng(200, 100));
  webp = nbsvc::PackResponse(png, 1, nullptr, {}, true, false);
  a = nbsvc::PackResponse(png, 1, nullptr, {}, true, true);
  EXPECT_EQ(a.after, webp.after);
  EXPECT_NE(a.packets[0].body.find("image/webp"), std::string::npos);
}

}  // namespace
