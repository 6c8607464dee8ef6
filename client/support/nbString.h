// String conversions, list helpers and text replacement shared by the whole
// client. Every function takes its arguments by value and keeps no state.
#pragma once

#include <string>
#include <vector>

// Text to number: leading white space skipped, the longest numeric prefix
// read; 0 when no number can be extracted or it is out of range.
int StrToInteger(std::string s);
long long StrToLongLong(std::string s);
// Reads a single-precision float and widens it to double ('0.1' gives
// 0.100000001490116...).
double StrToDbl(std::string s);

// Number to text in the default stream form (%g with six significant digits).
std::string IntToStr(int i);
std::string LongLongToStr(long long i);
// Truncates (never rounds) d to iDecimals decimals when iDecimals >= 0.
std::string DblToStr(double d, int iDecimals = -1);

// Splits sMain at every occurrence of sBr; with bSkipVoid no empty piece is
// returned. A text shorter than sBr gives an empty list.
std::vector<std::string> StrExplode(std::string sMain, std::string sBr, bool bSkipVoid);
// Each (non-empty when bSkipVoid) element followed by sBr, the last included.
std::string StrJoin(std::vector<std::string> vs, std::string sBr, bool bSkipVoid);
// Removes spaces (0x20 only) at both ends.
std::string StrTrim(std::string sMain);
// 'A'..'Z' to 'a'..'z'; every other byte unchanged.
std::string StrLCase(std::string sMain);
bool IsInSet(std::string s, std::vector<std::string> vs);
// Replaces every occurrence of sFind, searching again from the start after
// each replacement. Ends in finite time even when sReplace contains sFind
// (then each original occurrence is replaced once, left to right).
std::string StrReplace(std::string sMain, std::string sFind, std::string sReplace);

// A string that converts to and from double like the functions above.
class nbString : public std::string {
 public:
  nbString() = default;
  nbString(const std::string& s) : std::string(s) {}
  nbString(const nbString&) = default;
  operator double() const;
  nbString operator=(double d);
  nbString& operator=(const nbString&) = default;
};
