// Helpers shared by the service's unit tests: temporary folders, synthetic
// photos and a minimal client side of the service link.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "protocol/packet.h"

namespace nbtest {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A photo-like w x h colour image (gradients, texture and noise of the given
// amplitude) encoded as JPEG at quality.
std::string MakePhotoJpeg(int w, int h, int quality, unsigned seed, int noise = 12);

// Decodes a JPEG; false when libjpeg reports any error or warning.
bool DecodeJpeg(const std::string& jpeg, int* w, int* h);

// 127.0.0.1 in network order.
std::uint32_t Loopback(int last = 1);

// One answer packet as the client reads it.
struct ClientPacket {
  nbServiceHeader header;
  std::string body;
};

// Connects to 127.0.0.1:port; kNoSocket on failure.
nbplat::Socket ConnectLocal(std::uint16_t port);
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
