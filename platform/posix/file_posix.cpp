// File operations that need the operating system.
#include <cstdio>

#include "platform/platform.h"

namespace nbplat {

// rename() replaces an existing target atomically within one file system.
bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace nbplat
