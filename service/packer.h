// Turns a web server's complete answer into service answer packets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packet.h"

namespace nbsvc {

struct AnswerPacket {
  nbServiceHeader header;  // money is filled in by the caller before sending
  std::string body;
};

struct PackedAnswer {
  std::vector<AnswerPacket> packets;
  std::uint64_t before = 0;  // sum of decompSize: bytes the content had
  std::uint64_t after = 0;   // sum of size: body bytes on the link
  bool jpeg = false;         // sent as recoded-image packets
  bool recoded = false;      // the image was replaced by a smaller one
};

// Quality for a client's JPEG code: 1 medium, 2 low, 0 for "leave untouched".
int JpegQualityForCode(int code);

// Cuts response into packets of at most kMaxBodySize content bytes, in
// order, so that the concatenated contents are the exact HTTP response.
// Each piece goes as bzip2 (kind 2) when that is smaller, else plain
// (kind 3). A JPEG response under codes 1 and 2 is recoded (Content-Length
// corrected; the original kept when recoding does not shrink it) and sent
// as kind 4 pieces whose decompSize spreads the original size over them.
PackedAnswer PackResponse(const std::string& response, int jpegCode);

// The bzip2/plain packets of content only, without any image handling.
PackedAnswer PackPlain(const std::string& content);

// A short HTTP/1.0 response the service makes itself (errors).
std::string MakeErrorResponse(int status, const std::string& reason, const std::string& text);

}  // namespace nbsvc
