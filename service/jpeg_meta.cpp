// EXIF orientation: reading it from a camera's APP1 segment and writing a
// segment that holds nothing else.
#include "jpeg_meta.h"

#include <cstdint>
#include <cstring>

namespace nbsvc {

namespace {

constexpr char kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;

// Reads 16- and 32-bit values of a TIFF block in its byte order; every
// read is checked against the block's end.
class TiffReader {
 public:
  TiffReader(const unsigned char* p, std::size_t len, bool little)
      : p_(p), len_(len), le_(little) {}
  bool U16(std::size_t at, std::uint16_t* v) const {
    if (at > len_ || len_ - at < 2) return false;
    *v = le_ ? static_cast<std::uint16_t>(p_[at] | p_[at + 1] << 8)
             : static_cast<std::uint16_t>(p_[at] << 8 | p_[at + 1]);
    return true;
  }
  bool U32(std::size_t at, std::uint32_t* v) const {
    std::uint16_t a, b;
    if (!U16(at, &a) || !U16(at + 2, &b)) return false;
    *v = le_ ? (std::uint32_t{b} << 16 | a) : (std::uint32_t{a} << 16 | b);
    return true;
  }

 private:
  const unsigned char* p_;
  std::size_t len_;
  bool le_;
};

void PutU16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, std::uint32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v & 0xffff));
  PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

int ExifOrientation(const unsigned char* data, std::size_t len) {
  if (len < sizeof kExifId + 8 || std::memcmp(data, kExifId, sizeof kExifId) != 0) return 0;
  const unsigned char* tiff = data + sizeof kExifId;
  std::size_t tiffLen = len - sizeof kExifId;
  bool little;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    little = true;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    little = false;
  } else {
    return 0;
  }
  TiffReader r(tiff, tiffLen, little);
  std::uint16_t magic, count;
  std::uint32_t ifd;
  if (!r.U16(2, &magic) || magic != 42 || !r.U32(4, &ifd) || !r.U16(ifd, &count)) return 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::size_t entry = std::size_t{ifd} + 2 + 12 * std::size_t{i};
    std::uint16_t tag, type, value;
    std::uint32_t n;
    if (!r.U16(entry, &tag)) return 0;
    if (tag != kOrientationTag) continue;
    if (!r.U16(entry + 2, &type) || type != kTypeShort || !r.U32(entry + 4, &n) || n != 1 ||
        !r.U16(entry + 8, &value)) {
      return 0;
    }
    return value >= 1 && value <= 8 ? value : 0;
  }
  return 0;
}

std::string MinimalExif(int orientation) {
  std::string out(kExifId, sizeof kExifId);
  out += "II";
  PutU16(&out, 42);
  PutU32(&out, 8);  // IFD0 right after the TIFF header
  PutU16(&out, 1);  // one entry
  PutU16(&out, kOrientationTag);
  PutU16(&out, kTypeShort);
  PutU32(&out, 1);
  PutU16(&out, static_cast<std::uint16_t>(orientation));
  PutU16(&out, 0);  // value padded to four bytes
  PutU32(&out, 0);  // no further IFD
  return out;
}

}  // namespace nbsvc
