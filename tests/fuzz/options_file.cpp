// The options file's text, as arbitrary bytes: loaded, saved and loaded
// again, the second save must match the first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kernel/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Program_Options po;
  ParseProgramOptions(std::string(reinterpret_cast<const char*>(data), size), po);
  const std::string saved = FormatProgramOptions(po);
  Program_Options again;
  ParseProgramOptions(saved, again);
  if (FormatProgramOptions(again) != saved) {
    std::fprintf(stderr, "options changed by a save and load:\n%s\n----\n%s\n", saved.c_str(),
                 FormatProgramOptions(again).c_str());
    std::abort();
  }
  return 0;
}
