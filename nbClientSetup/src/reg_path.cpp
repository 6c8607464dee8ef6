#include "reg_path.h"

bool SplitRegPath(const std::string& path, RegPath* out) {
  std::size_t first = path.find('\\');
  if (first == std::string::npos || first == 0) return false;
  std::size_t last = path.rfind('\\');
  out->root = path.substr(0, first);
  out->key = last > first ? path.substr(first + 1, last - first - 1) : std::string();
  out->name = path.substr(last + 1);
  return true;
}
