// The bits of JPEG metadata a recoded image keeps: the EXIF orientation
// (read from an APP1 "Exif" segment, written back as a minimal one).
#pragma once

#include <cstddef>
#include <string>

namespace nbsvc {

// Orientation 1..8 from the payload of an APP1 segment (after its length
// field); 0 when the segment is not EXIF, holds no orientation, or is damaged.
int ExifOrientation(const unsigned char* data, std::size_t len);

// Payload of an APP1 segment holding only the given orientation (1..8):
// "Exif" header, little-endian TIFF header and one IFD with one entry.
std::string MinimalExif(int orientation);

}  // namespace nbsvc
