// Capability bits of the client and the remembered bits of its services.
#include "kernel/capabilities.h"

#include <deque>
#include <mutex>
#include <utility>

#include "kernel/limits.h"
#include "protocol/capabilities.h"

namespace {

// Oldest first; a handful of services at most, so a list is enough.
std::mutex gMu;
std::deque<std::pair<std::string, std::uint16_t>> gKnown;  // guarded by gMu

}  // namespace

std::uint16_t ClientCapabilities() {
  return NB_CAP_WEBP | NB_CAP_TEXT2 | NB_CAP_SITE_DICT | NB_CAP_KEEPALIVE | NB_CAP_PUSH |
         NB_CAP_TEXT_CHAIN | NB_CAP_AVIF;
}

std::string ServiceKey(const Program_Options& po, const ServiceLinkSettings& link) {
  if (!po.sServiceHost.empty()) return po.sServiceHost;
  return link.host + ":" + std::to_string(link.port);
}

void NoteServiceCapabilities(const std::string& key, std::uint16_t caps) {
  std::lock_guard<std::mutex> lock(gMu);
  for (auto it = gKnown.begin(); it != gKnown.end(); ++it) {
    if (it->first == key) {
      gKnown.erase(it);
      break;
    }
  }
  gKnown.emplace_back(key, caps);
  while (gKnown.size() > nb::kMaxRememberedServices) gKnown.pop_front();
}

std::uint16_t ServiceCapabilities(const std::string& key) {
  std::lock_guard<std::mutex> lock(gMu);
  for (const auto& k : gKnown) {
    if (k.first == key) return k.second;
  }
  return 0;
}

bool IsRecodedImage(const std::string& sExt, std::uint16_t serviceCaps) {
  if (sExt == "jpg" || sExt == "jpeg") return true;
  return (serviceCaps & (NB_CAP_WEBP | NB_CAP_AVIF)) != 0 && (sExt == "png" || sExt == "gif");
}
