// The kernel's IPv4 routing table rendered as numeric text, one route a line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace nbplat {
namespace {

// /proc/net/route prints each address as the hexadecimal value of its
// in-memory (network order) word, so the parsed word's bytes are the
// address bytes in order.
bool HexAddress(const std::string& hex, std::string* dotted) {
  if (hex.size() != 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  std::uint32_t word = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
  unsigned char b[4];
  std::memcpy(b, &word, sizeof b);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  *dotted = text;
  return true;
}

std::string Pad(const std::string& s, std::size_t width) {
  return s.size() >= width ? s + " " : s + std::string(width - s.size(), ' ');
}

}  // namespace

std::string ReadRouteTable() {
  std::ifstream in("/proc/net/route");
  if (!in) return std::string();
  std::string line;
  std::getline(in, line);  // column titles
  std::string out =
      "Kernel IP routing table\n"
      "Destination     Gateway         Genmask         Flags Metric Iface\n";
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gw, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask)) continue;
    std::string d, g, m;
    if (!HexAddress(dest, &d) || !HexAddress(gw, &g) || !HexAddress(mask, &m)) continue;
    unsigned long f = std::strtoul(flags.c_str(), nullptr, 16);
    std::string fl;
    if (f & 0x1) fl += 'U';
    if (f & 0x2) fl += 'G';
    if (f & 0x4) fl += 'H';
    out += Pad(d, 16) + Pad(g, 16) + Pad(m, 16) + Pad(fl, 6) + Pad(metric, 7) + iface + "\n";
  }
  return out;
}

}  // namespace nbplat
