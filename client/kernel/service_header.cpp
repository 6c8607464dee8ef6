// Request headers and the service clock.
#include "kernel/service_header.h"

#include "kernel/capabilities.h"
#include "protocol/hash.h"

std::int32_t ServiceClock(std::uint32_t tickMs, std::int32_t shift) {
  return AsSigned(tickMs / 1000u + AsUnsigned(shift));
}

std::int32_t ServiceTimeShift(std::uint32_t tickMs, std::int32_t serviceTime) {
  return AsSigned(AsUnsigned(serviceTime) - tickMs / 1000u);
}

nbClientHeader MakeRequestHeader(const Program_Options& po, std::uint32_t ip, int port,
                                 std::int32_t time, std::uint32_t compSize, std::uint32_t iSize) {
  nbClientHeader h;
  h.login = po.iLogin;
  h.ipNet = ip;
  h.port = static_cast<std::uint16_t>(static_cast<unsigned>(port) & 0xFFFFu);
  h.authCode = static_cast<std::uint16_t>(getAuthCode(po.sPassword.c_str(), time) & 0xFFFF);
  h.jpegLevel = static_cast<std::uint16_t>(JpegCodeForLevel(po.iJpegLvl));
  h.caps = ClientCapabilities();
  h.time = time;
  h.size = compSize;
  h.decompSize = iSize;
  h.caps = ClientCapabilities();
  return h;
}

nbClientHeader MakeTimeShiftReply(const Program_Options& po, std::int32_t serviceTime) {
  nbClientHeader h;
  h.login = po.iLogin;
  h.authCode = static_cast<std::uint16_t>(getAuthCode(po.sPassword.c_str(), serviceTime) & 0xFFFF);
  h.jpegLevel = 0;
  h.time = serviceTime;
  return h;
}
