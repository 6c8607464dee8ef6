// Registry paths in the script-host form "HKCU\Key\Sub\Value": root
// abbreviation, key path, and the value name after the last backslash (empty
// when the path ends in a backslash: the key's default value).
#pragma once

#include <string>

struct RegPath {
  std::string root;  // as written, e.g. "HKLM" or "HKEY_CURRENT_USER"
  std::string key;   // may be empty (a value directly under the root)
  std::string name;
};

// False when the path has no backslash (no root).
bool SplitRegPath(const std::string& path, RegPath* out);
