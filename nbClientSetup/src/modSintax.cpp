#include "modSintax.h"

std::vector<std::string> SplitText(const std::string& text, const std::string& sep) {
  if (sep.empty()) return {text};
  const std::string doubled = sep + sep;
  std::string s = text;
  // Replace every doubled separator by one, again and again, until no run is left.
  while (s.find(doubled) != std::string::npos) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = s.find(doubled, from)) != std::string::npos;
         from = at + doubled.size())
      out.append(s, from, at - from).append(sep);
    s = out.append(s, from, std::string::npos);
  }
  if (s.size() < sep.size() || s.compare(s.size() - sep.size(), sep.size(), sep) != 0) s += sep;

  std::vector<std::string> pieces;
  for (std::size_t from = 0, at; (at = s.find(sep, from)) != std::string::npos;
       from = at + sep.size())
    pieces.push_back(s.substr(from, at - from));
  return pieces;
}
