// String conversions, list helpers and replacement.
#include "support/nbString.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

namespace {

// Formatted stream extraction of one T; 0 when nothing could be extracted or
// the value is out of the type's range.
template <typename T>
T Extract(const std::string& s) {
  std::istringstream in(s);
  T value{};
  in >> value;
  if (in.fail()) return T{};
  return value;
}

// Writes v with the stream's default formatting and reads it back as one word.
template <typename T>
std::string Format(T v) {
  std::ostringstream out;
  out << v;
  std::istringstream back(out.str());
  std::string word;
  back >> word;
  return word;
}

// One left-to-right pass: every occurrence of sFind in the original text is
// replaced once; replacement text is never searched again.
std::string ReplaceOnePass(const std::string& sMain, const std::string& sFind,
                           const std::string& sReplace) {
  std::string out;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = sMain.find(sFind, from);
    if (at == std::string::npos) break;
    out.append(sMain, from, at - from);
    out += sReplace;
    from = at + sFind.size();
  }
  out.append(sMain, from, std::string::npos);
  return out;
}

}  // namespace

int StrToInteger(std::string s) { return Extract<int>(s); }

long long StrToLongLong(std::string s) { return Extract<long long>(s); }

double StrToDbl(std::string s) { return static_cast<double>(Extract<float>(s)); }

std::string IntToStr(int i) { return Format(i); }

std::string LongLongToStr(long long i) { return Format(i); }

std::string DblToStr(double d, int iDecimals) {
  if (iDecimals >= 0) {
    double scale = std::pow(10.0, iDecimals);
    double scaled = d * scale;
    // Truncation through a 32-bit integer; a product that does not fit is
    // truncated in floating point instead of overflowing the conversion.
    if (scaled > -2147483649.0 && scaled < 2147483648.0) {
      d = static_cast<double>(static_cast<std::int32_t>(scaled)) / scale;
    } else if (std::isfinite(scaled)) {
      d = std::trunc(scaled) / scale;
    }
  }
  return Format(d);
}

std::vector<std::string> StrExplode(std::string sMain, std::string sBr, bool bSkipVoid) {
  std::vector<std::string> result;
  if (sBr.empty()) {
    // No separator to split on: the whole text is the one piece.
    if (!sMain.empty() || !bSkipVoid) result.push_back(sMain);
    return result;
  }
  if (sMain.size() < sBr.size()) return result;
  if (sMain.compare(sMain.size() - sBr.size(), sBr.size(), sBr) != 0) sMain += sBr;
  std::size_t start = 0;
  while (start < sMain.size()) {
    std::size_t at = sMain.find(sBr, start);
    if (at == std::string::npos) break;
    if (at > start || !bSkipVoid) result.push_back(sMain.substr(start, at - start));
    start = at + sBr.size();
  }
  return result;
}

std::string StrJoin(std::vector<std::string> vs, std::string sBr, bool bSkipVoid) {
  std::string out;
  for (const std::string& s : vs) {
    if (!bSkipVoid || !s.empty()) {
      out += s;
      out += sBr;
    }
  }
  return out;
}

std::string StrTrim(std::string sMain) {
  std::size_t first = sMain.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  std::size_t last = sMain.find_last_not_of(' ');
  return sMain.substr(first, last - first + 1);
}

std::string StrLCase(std::string sMain) {
  for (char& c : sMain) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return sMain;
}

bool IsInSet(std::string s, std::vector<std::string> vs) {
  return std::find(vs.begin(), vs.end(), s) != vs.end();
}

// Searching again from the start after every replacement is done without
// rescanning: the text is fed one byte at a time into `out`, which never
// holds an occurrence; when its tail becomes one, that is the leftmost
// occurrence of the whole text, and its replacement is fed again in front of
// the rest. Rewrites that would never end (the replacement contains the
// searched text) or run away fall back to one left-to-right pass.
std::string StrReplace(std::string sMain, std::string sFind, std::string sReplace) {
  if (sFind.empty()) return sMain;
  if (sReplace.find(sFind) != std::string::npos) return ReplaceOnePass(sMain, sFind, sReplace);
  const std::size_t budget = 1000000 + 16 * sMain.size();
  std::size_t replacements = 0;
  std::string pending(sMain.rbegin(), sMain.rend());  // next byte at the back
  std::string out;
  out.reserve(sMain.size());
  const std::size_t n = sFind.size();
  while (!pending.empty()) {
    out.push_back(pending.back());
    pending.pop_back();
    if (out.size() >= n && out.compare(out.size() - n, n, sFind) == 0) {
      if (++replacements > budget) return ReplaceOnePass(sMain, sFind, sReplace);
      out.resize(out.size() - n);
      pending.append(sReplace.rbegin(), sReplace.rend());
    }
  }
  return out;
}

nbString::operator double() const { return StrToDbl(*this); }

nbString nbString::operator=(double d) {
  std::string::operator=(DblToStr(d, -1));
  return *this;
}
