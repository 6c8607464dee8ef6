// The service link's settings record.
#include "kernel/link_settings.h"

#include <mutex>

#ifndef NIMBREL_SERVICE_HOST
#define NIMBREL_SERVICE_HOST "localhost"
#endif

namespace {

// Built on first use, so no static object depends on another's start.
std::mutex& SettingsLock() {
  static std::mutex m;
  return m;
}

ServiceLinkSettings& Current() {
  static ServiceLinkSettings s = [] {
    ServiceLinkSettings d;
    d.host = NIMBREL_SERVICE_HOST;
    return d;
  }();
  return s;
}

}  // namespace

ServiceLinkSettings GetServiceLinkSettings() {
  std::lock_guard<std::mutex> lock(SettingsLock());
  return Current();
}

void SetServiceLinkSettings(const ServiceLinkSettings& settings) {
  std::lock_guard<std::mutex> lock(SettingsLock());
  Current() = settings;
}
