// Where the compression service is and how long the link waits for it: one
// record, read afresh by each exchange. Tests point it at a scripted peer.
#pragma once

#include <string>

#include "kernel/limits.h"

struct ServiceLinkSettings {
  std::string host;                 // the build setting NIMBREL_SERVICE_HOST
  int port = nb::kServicePort;      // used when the ServiceHost option names none
  int idleMs = nb::kServiceIdleMs;  // each read from the service or the tunnelling proxy
};

// A copy of the current record (under its own lock).
ServiceLinkSettings GetServiceLinkSettings();
// Replaces the record; exchanges that start afterwards use it.
void SetServiceLinkSettings(const ServiceLinkSettings& settings);
