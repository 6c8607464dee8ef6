// The files the installer carries: resource name (type "CUSTOM") and the file
// it becomes, relative to the installation folder, in writing order.
#pragma once

#include <cstddef>

struct PayloadItem {
  const char* resName;   // resource name; matched without regard to case
  const char* fileName;  // relative to the installation folder, '\' separated
};

inline constexpr std::size_t kPayloadCount = 8;
extern const PayloadItem kPayload[kPayloadCount];

// True when an existing file of this resource is kept on reinstall (the
// user's options file).
bool KeepsExistingFile(const char* resName);
