// JPEG recoding. libjpeg reports fatal errors through error_exit, which must
// not return: it jumps back to the setjmp point of the call, and every
// resource is released there. Nothing with a destructor lives between setjmp
// and the jump.
#include "jpeg_recode.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpeg_meta.h"

namespace nbsvc {

namespace {

struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int warnings;
};

void OnError(j_common_ptr cinfo) {
  ErrorMgr* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Negative levels are warnings about damaged data; they make the result
  // untrustworthy, so they are counted and the recode given up.
  if (level < 0) reinterpret_cast<ErrorMgr*>(cinfo->err)->warnings++;
}

// Destination manager that appends the encoded bytes to a string owned by
// the caller, so an error jump leaves no allocation of libjpeg's behind.
struct StringDest {
  jpeg_destination_mgr pub;
  std::string* out;
  unsigned char buf[16384];
};

void DestInit(j_compress_ptr cinfo) {
  StringDest* d = reinterpret_cast<StringDest*>(cinfo->dest);
  d->pub.next_output_byte = d->buf;
  d->pub.free_in_buffer = sizeof d->buf;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  StringDest* d = reinterpret_cast<StringDest*>(cinfo->dest);
  d->out->append(reinterpret_cast<const char*>(d->buf), sizeof d->buf);
  d->pub.next_output_byte = d->buf;
  d->pub.free_in_buffer = sizeof d->buf;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  StringDest* d = reinterpret_cast<StringDest*>(cinfo->dest);
  d->out->append(reinterpret_cast<const char*>(d->buf), sizeof d->buf - d->pub.free_in_buffer);
}

// Images above this many pixels are not recoded (memory bound per request).
constexpr unsigned long long kMaxPixels = 40ull * 1000 * 1000;

void InitErrors(ErrorMgr* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = OnError;
  err->pub.emit_message = OnMessage;
  err->warnings = 0;
}

// What the recoded image carries over from the original: its colour
// profile and its orientation. Camera data and thumbnails are left behind.
struct KeptMeta {
  std::string icc;      // the whole ICC profile, empty when none
  int orientation = 0;  // EXIF orientation 1..8, 0 when none
};

void ReadMeta(j_decompress_ptr cinfo, KeptMeta* meta) {
  JOCTET* icc = nullptr;
  unsigned int iccLen = 0;
  if (jpeg_read_icc_profile(cinfo, &icc, &iccLen)) {
    meta->icc.assign(reinterpret_cast<const char*>(icc), iccLen);
    std::free(icc);
  }
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    int o = ExifOrientation(m->data, m->data_length);
    if (o != 0) {
      meta->orientation = o;
      break;
    }
  }
}

// Decodes into pixels; fills w, h, components and the metadata to keep.
// False on any error or warning.
bool Decode(const std::string& jpeg, std::vector<unsigned char>* pixels, int* w, int* h, int* comps,
            J_COLOR_SPACE* space, KeptMeta* meta) {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = &err.pub;
  InitErrors(&err);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()),
               static_cast<unsigned long>(jpeg.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xffff);  // EXIF
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xffff);  // ICC profile
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  ReadMeta(&cinfo, meta);
  if (cinfo.jpeg_color_space == JCS_GRAYSCALE) {
    cinfo.out_color_space = JCS_GRAYSCALE;
  } else if (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB) {
    cinfo.out_color_space = JCS_RGB;
  } else {
    jpeg_destroy_decompress(&cinfo);  // CMYK/YCCK: left as they are
    return false;
  }
  if (static_cast<unsigned long long>(cinfo.image_width) * cinfo.image_height > kMaxPixels) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  *w = static_cast<int>(cinfo.output_width);
  *h = static_cast<int>(cinfo.output_height);
  *comps = cinfo.output_components;
  *space = cinfo.out_color_space;
  std::size_t stride = static_cast<std::size_t>(*w) * static_cast<std::size_t>(*comps);
  // resize() may allocate; done before the scanlines so a failure leaves nothing behind.
  pixels->resize(stride * static_cast<std::size_t>(*h));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels->data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return err.warnings == 0;
}

bool Encode(const std::vector<unsigned char>& pixels, int w, int h, int comps, J_COLOR_SPACE space,
            int quality, const KeptMeta& meta, std::string* out) {
  // Built before setjmp: nothing with a destructor may be created after it.
  std::string exif = meta.orientation > 1 ? MinimalExif(meta.orientation) : std::string();
  jpeg_compress_struct cinfo;
  ErrorMgr err;
  StringDest dest;
  std::memset(&cinfo, 0, sizeof cinfo);
  dest.out = out;
  dest.pub.init_destination = DestInit;
  dest.pub.empty_output_buffer = DestEmpty;
  dest.pub.term_destination = DestTerm;
  cinfo.err = &err.pub;
  InitErrors(&err);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  cinfo.dest = &dest.pub;
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = comps;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.optimize_coding = TRUE;
  jpeg_simple_progression(&cinfo);
  // EXIF must follow the start of image directly, so no JFIF segment then.
  if (!exif.empty()) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (!exif.empty()) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.data()),
                      static_cast<unsigned int>(exif.size()));
  }
  if (!meta.icc.empty()) {
    jpeg_write_icc_profile(&cinfo, reinterpret_cast<const JOCTET*>(meta.icc.data()),
                           static_cast<unsigned int>(meta.icc.size()));
  }
  std::size_t stride = static_cast<std::size_t>(w) * static_cast<std::size_t>(comps);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + stride * cinfo.next_scanline;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool RecodeJpeg(const std::string& jpeg, int quality, std::string* out) {
  out->clear();
  if (jpeg.empty() || quality < 1 || quality > 100) return false;
  std::vector<unsigned char> pixels;
  int w = 0, h = 0, comps = 0;
  J_COLOR_SPACE space = JCS_UNKNOWN;
  KeptMeta meta;
  if (!Decode(jpeg, &pixels, &w, &h, &comps, &space, &meta)) return false;
  if (!Encode(pixels, w, h, comps, space, quality, meta, out)) {
    out->clear();
    return false;
  }
  return true;
}

bool DecodeJpegRgba(const std::string& jpeg, std::size_t maxPixels,
                    std::vector<unsigned char>* rgba, int* w, int* h, std::string* icc,
                    int* orientation) {
  std::vector<unsigned char> pixels;
  int comps = 0;
  J_COLOR_SPACE space = JCS_UNKNOWN;
  KeptMeta meta;
  if (jpeg.empty() || !Decode(jpeg, &pixels, w, h, &comps, &space, &meta)) return false;
  std::size_t n = static_cast<std::size_t>(*w) * static_cast<std::size_t>(*h);
  if (n > maxPixels || (comps != 1 && comps != 3)) return false;
  rgba->resize(n * 4);
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char* d = rgba->data() + i * 4;
    const unsigned char* s = pixels.data() + i * static_cast<std::size_t>(comps);
    d[0] = s[0];
    d[1] = s[comps == 3 ? 1 : 0];
    d[2] = s[comps == 3 ? 2 : 0];
    d[3] = 255;
  }
  *icc = std::move(meta.icc);
  *orientation = meta.orientation;
  return true;
}

}  // namespace nbsvc
