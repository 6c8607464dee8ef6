#include "settings_link.h"

#include <cctype>

int SettingsPortFromOptions(const std::string& options) {
  static const std::string kKey = "SettingsPort:";
  int port = kDefaultSettingsPort;
  std::size_t from = 0;
  while (from < options.size()) {
    std::size_t end = options.find('\n', from);
    if (end == std::string::npos) end = options.size();
    std::string line = options.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    long v = 0;
    std::size_t i = kKey.size();
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && v <= 65535; ++i)
      v = v * 10 + (line[i] - '0');
    port = (i == line.size() && i > kKey.size() && v >= 1 && v <= 65535) ? static_cast<int>(v)
                                                                         : kDefaultSettingsPort;
  }
  return port;
}

std::string SettingsShortcut(int port, const std::string& iconFile, int iconIndex) {
  return "[InternetShortcut]\r\nURL=http://localhost:" + std::to_string(port) +
         "/\r\nIconFile=" + iconFile + "\r\nIconIndex=" + std::to_string(iconIndex) + "\r\n";
}
