// Helpers of the service's unit tests: synthetic photos and a minimal client
// side of the service link (addresses, listeners and folders: test_support.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "protocol/packet.h"
#include "test_support.h"

namespace nbtest {

// A photo-like w x h colour image (gradients, texture and noise of the given
// amplitude) encoded as JPEG at quality.
std::string MakePhotoJpeg(int w, int h, int quality, unsigned seed, int noise = 12);

// Decodes a JPEG; false when libjpeg reports any error or warning.
bool DecodeJpeg(const std::string& jpeg, int* w, int* h);

// One answer packet as the client reads it.
struct ClientPacket {
  nbServiceHeader header;
  std::string body;
};

// Sends a request header and the bzip2 body of request.
bool SendRequest(nbplat::Socket s, nbClientHeader h, const std::string& request);
// Reads answer packets until the service closes (kinds 5 and 7 carry no body).
// On a kind 5 packet, when resend is given, replies as the client does: a
// header with resend's login, the service clock and its code over digest.
std::vector<ClientPacket> ReadAnswers(nbplat::Socket s, const nbClientHeader* resend = nullptr,
                                      const std::string& digest = "");
// The content of kinds 2, 3 and 4 concatenated, as the browser receives it.
std::string Contents(const std::vector<ClientPacket>& packets);

}  // namespace nbtest
