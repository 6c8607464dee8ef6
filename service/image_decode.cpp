// PNG through libpng's simplified reader, GIF through giflib.
#include "image_decode.h"

#include <gif_lib.h>
#include <png.h>

#include <cstring>

namespace nbsvc {

bool Pixels::HasAlpha() const {
  for (std::size_t i = 3; i < rgba.size(); i += 4) {
    if (rgba[i] != 255) return true;
  }
  return false;
}

namespace {

std::uint32_t BigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// True when the chunks before the image data name an animation or a colour
// profile; also true for a chunk list that runs off the end.
bool PngHasUnkeptChunks(const std::string& png) {
  const auto* d = reinterpret_cast<const unsigned char*>(png.data());
  std::size_t pos = 8;  // after the signature
  while (pos + 8 <= png.size()) {
    std::uint32_t len = BigEndian32(d + pos);
    const char* type = png.data() + pos + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) return false;
    if (std::memcmp(type, "acTL", 4) == 0 || std::memcmp(type, "iCCP", 4) == 0) return true;
    if (len > png.size()) return true;
    pos += 12 + std::size_t{len};
  }
  return true;
}

struct GifSource {
  const std::string* data;
  std::size_t pos;
};

int ReadGif(GifFileType* gif, GifByteType* buf, int len) {
  auto* src = static_cast<GifSource*>(gif->UserData);
  std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(len), src->data->size() - src->pos);
  std::memcpy(buf, src->data->data() + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

// Closes a giflib decoder however the decoding ends.
struct GifCloser {
  GifFileType* gif;
  ~GifCloser() {
    if (gif != nullptr) DGifCloseFile(gif, nullptr);
  }
};

}  // namespace

bool DecodePng(const std::string& png, std::size_t maxPixels, Pixels* out) {
  if (png.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(png.data()), 0, 8) != 0 ||
      PngHasUnkeptChunks(png)) {
    return false;
  }
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, png.data(), png.size())) return false;
  if (std::size_t{img.width} * img.height > maxPixels || img.width == 0 || img.height == 0) {
    png_image_free(&img);
    return false;
  }
  img.format = PNG_FORMAT_RGBA;
  out->w = static_cast<int>(img.width);
  out->h = static_cast<int>(img.height);
  out->rgba.assign(PNG_IMAGE_SIZE(img), 0);
  if (!png_image_finish_read(&img, nullptr, out->rgba.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  // Warnings mean the data was damaged and partly guessed.
  return (img.warning_or_error & PNG_IMAGE_ERROR) == 0 && img.warning_or_error == 0;
}

bool DecodeStaticGif(const std::string& gif, std::size_t maxPixels, Pixels* out) {
  GifSource src{&gif, 0};
  int err = 0;
  GifCloser closer{DGifOpen(&src, ReadGif, &err)};
  GifFileType* g = closer.gif;
  if (g == nullptr) return false;
  if (g->SWidth <= 0 || g->SHeight <= 0 ||
      static_cast<std::size_t>(g->SWidth) * static_cast<std::size_t>(g->SHeight) > maxPixels) {
    return false;
  }
  if (DGifSlurp(g) != GIF_OK || g->ImageCount != 1) return false;
  const SavedImage& frame = g->SavedImages[0];
  const GifImageDesc& desc = frame.ImageDesc;
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : g->SColorMap;
  if (map == nullptr || frame.RasterBits == nullptr || desc.Left < 0 || desc.Top < 0 ||
      desc.Width <= 0 || desc.Height <= 0 || desc.Left + desc.Width > g->SWidth ||
      desc.Top + desc.Height > g->SHeight) {
    return false;
  }
  GraphicsControlBlock gcb;
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  DGifSavedExtensionToGCB(g, 0, &gcb);
  out->w = g->SWidth;
  out->h = g->SHeight;
  out->rgba.assign(static_cast<std::size_t>(out->w) * static_cast<std::size_t>(out->h) * 4, 0);
  for (int y = 0; y < desc.Height; ++y) {
    for (int x = 0; x < desc.Width; ++x) {
      int index = frame.RasterBits[static_cast<std::size_t>(y) * desc.Width + x];
      if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
      const GifColorType& c = map->Colors[index];
      unsigned char* d = out->rgba.data() + (static_cast<std::size_t>(desc.Top + y) *
                                                 static_cast<std::size_t>(out->w) +
                                             static_cast<std::size_t>(desc.Left + x)) *
                                                4;
      d[0] = c.Red;
      d[1] = c.Green;
      d[2] = c.Blue;
      d[3] = 255;
    }
  }
  return true;
}

}  // namespace nbsvc
