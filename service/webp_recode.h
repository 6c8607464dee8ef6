// Recodes the web's still images (JPEG, PNG, static GIF) into WebP with
// libwebp, for clients and browsers that take it.
#pragma once

#include <string>

#include "http_response.h"

namespace nbsvc {

enum class ImageType { None, Jpeg, Png, Gif };

// The type of an image answer that may become WebP: a complete 200 answer
// without content coding whose Content-Type is JPEG, PNG or GIF.
ImageType WebpSource(const ResponseHead& head);

// WebP quality (1..100) for a client's quality code and the source's
// format; 0 for "leave untouched" or no image.
int WebpQualityForCode(int code, ImageType type);

// Decodes image and encodes it as WebP at quality: lossy for photos (JPEG
// keeps its colour profile), and for PNG and GIF the smaller of lossy (with
// lossless alpha when the image has transparency) and lossless. False (and
// *out empty) when the image does not decode cleanly or is left alone (an
// EXIF-rotated JPEG, an animation, too many pixels).
bool RecodeToWebp(const std::string& image, ImageType type, int quality, std::string* out);

// The answer data (head at its start, described by head) with body as a
// WebP image: Content-Type image/webp, Accept added to Vary, a strong ETag
// made weak (the bytes differ from the origin's), Content-Length set.
std::string RebuildAsWebp(const std::string& data, const ResponseHead& head,
                          const std::string& body);

// As RebuildAsWebp, with Content-Type mime (an image type of another format).
std::string RebuildAsImage(const std::string& data, const ResponseHead& head,
                           const std::string& body, const std::string& mime);

}  // namespace nbsvc
