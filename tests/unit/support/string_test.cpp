#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/nbString.h"

using Strings = std::vector<std::string>;

TEST(StrExplode, SplitsOnWholeSeparatorAndDropsEmptyPieces) {
  EXPECT_EQ(StrExplode("a;b", ";", true), (Strings{"a", "b"}));
  EXPECT_EQ(StrExplode(";a;;b;", ";", true), (Strings{"a", "b"}));
  EXPECT_EQ(StrExplode(";", ";", true), Strings{});
  EXPECT_EQ(StrExplode("", ";", true), Strings{});
  EXPECT_EQ(StrExplode("x=1\r\ny=2", "\r\n", true), (Strings{"x=1", "y=2"}));
  EXPECT_EQ(StrExplode("x=1\r\ny=2\r\n", "\r\n", true), (Strings{"x=1", "y=2"}));
  // A lone "\r" or "\n" is not the separator "\r\n".
  EXPECT_EQ(StrExplode("a\rb\nc", "\r\n", true), Strings{"a\rb\nc"});
}

TEST(StrExplode, MultiCharacterSeparatorEdges) {
  EXPECT_EQ(StrExplode("a", "++", true), Strings{});
  EXPECT_EQ(StrExplode("ab", "++", true), Strings{"ab"});
  EXPECT_EQ(StrExplode("a++b++++c", "++", true), (Strings{"a", "b", "c"}));
  // Occurrences are found left to right without overlap; the trailing
  // fragment of a separator is lost.
  EXPECT_EQ(StrExplode("a+++", "++", true), Strings{"a"});
  EXPECT_EQ(StrExplode("a+++b", "++", true), (Strings{"a", "+b"}));
}

TEST(StrExplode, KeepsEmptyPiecesWhenAskedAndHandlesEmptySeparator) {
  EXPECT_EQ(StrExplode(";a;;b", ";", false), (Strings{"", "a", "", "b"}));
  EXPECT_EQ(StrExplode("abc", "", true), Strings{"abc"});
  EXPECT_EQ(StrExplode("", "", true), Strings{});
}

TEST(StrJoin, EveryElementIsFollowedBySeparator) {
  EXPECT_EQ(StrJoin({"a", "", "b"}, "\n", true), "a\nb\n");
  EXPECT_EQ(StrJoin({"a", "", "b"}, "\n", false), "a\n\nb\n");
  EXPECT_EQ(StrJoin({}, "\n", true), "");
  EXPECT_EQ(StrJoin({"", ""}, ";", true), "");
  EXPECT_EQ(StrJoin({"x"}, "++", false), "x++");
}

TEST(StrTrimAndLCase, OnlySpacesAndAsciiCapitalsAreTouched) {
  EXPECT_EQ(StrTrim("  a b  "), "a b");
  EXPECT_EQ(StrTrim("\ta "), "\ta");
  EXPECT_EQ(StrTrim("a\r\n "), "a\r\n");
  EXPECT_EQ(StrTrim("   "), "");
  EXPECT_EQ(StrTrim(""), "");
  EXPECT_EQ(StrLCase("ABC-Def"), "abc-def");
  // Cyrillic capitals in Windows-1251 (0xC0..0xDF) and other high bytes stay.
  const std::string cyr = "\xC0\xC1\xDF\xA8\xFF";
  EXPECT_EQ(StrLCase(cyr), cyr);
  EXPECT_EQ(StrLCase("@[`{Z"), "@[`{z");
}

TEST(StrReplace, SearchesAgainFromTheStart) {
  std::string s = StrReplace("a\r\nb", "\r", "+");
  EXPECT_EQ(StrReplace(s, "\n", "+"), "a++b");
  EXPECT_EQ(StrReplace("abb", "ab", "a"), "a");
  EXPECT_EQ(StrReplace("aabb", "ab", ""), "");
  EXPECT_EQ(StrReplace("xxabcabcxx", "abc", "-"), "xx--xx");
  // "ba" -> "ab" moves every 'a' to the front, one swap at a time.
  EXPECT_EQ(StrReplace("bbbaaa", "ba", "ab"), "aaabbb");
  EXPECT_EQ(StrReplace("idPortValue: idPortValue", "idPortValue", "4321"), "4321: 4321");
  EXPECT_EQ(StrReplace("nothing here", "zz", "y"), "nothing here");
  EXPECT_EQ(StrReplace("", "a", "b"), "");
}

TEST(StrReplace, EndsWhenReplacementContainsSearchedText) {
  EXPECT_EQ(StrReplace("xax", "a", "aa"), "xaax");
  EXPECT_EQ(StrReplace("aa", "a", "[a]"), "[a][a]");
  EXPECT_EQ(StrReplace("idLogin", "idLogin", "my idLogin"), "my idLogin");
  EXPECT_EQ(StrReplace("abc", "", "x"), "abc");
}

TEST(StrReplace, LargeInputStaysLinearEnough) {
  // Every CR of a large form field becomes "+": one pass must do.
  std::string big;
  for (int i = 0; i < 100000; ++i) big += "x\r";
  std::string out = StrReplace(big, "\r", "+");
  ASSERT_EQ(out.size(), big.size());
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_EQ(out.substr(0, 4), "x+x+");
}

TEST(NumberToText, DefaultStreamForm) {
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(2147483647), "2147483647");
  EXPECT_EQ(LongLongToStr(10000000000LL), "10000000000");
  EXPECT_EQ(LongLongToStr(-9223372036854775807LL - 1), "-9223372036854775808");
  EXPECT_EQ(DblToStr(1234.567), "1234.57");
  EXPECT_EQ(DblToStr(2.0), "2");
  EXPECT_EQ(DblToStr(0.5), "0.5");
  EXPECT_EQ(DblToStr(0.000123, -1), "0.000123");
}

TEST(NumberToText, DecimalsTruncateNeverRound) {
  EXPECT_EQ(DblToStr(2.6789, 2), "2.67");
  EXPECT_EQ(DblToStr(-1.239, 2), "-1.23");
  EXPECT_EQ(DblToStr(0.29, 2), "0.28");  // 0.29 * 100 lies just below 29
  EXPECT_EQ(DblToStr(2.0, 3), "2");
  EXPECT_EQ(DblToStr(0.5, 2), "0.5");
  EXPECT_EQ(DblToStr(7.9, 0), "7");
  // Six significant digits still apply after truncation: exponent form.
  std::string big = DblToStr(1234567.891, 2);
  EXPECT_EQ(big.substr(0, 9), "1.23457e+") << big;
  EXPECT_EQ(std::stod(big), 1234570.0);
}

TEST(NumberToText, ScaledValueBeyondThirtyTwoBitsStillTruncates) {
  // 5e9 * 100 does not fit a 32-bit integer; the result must still be the
  // value itself, not a wrapped or saturated number.
  EXPECT_EQ(std::stod(DblToStr(5e9, 2)), 5e9);
  EXPECT_EQ(std::stod(DblToStr(-5e9, 2)), -5e9);
}

TEST(TextToNumber, IntegersTakeLongestDecimalPrefix) {
  EXPECT_EQ(StrToInteger("  17xyz"), 17);
  EXPECT_EQ(StrToInteger("-0042"), -42);
  EXPECT_EQ(StrToInteger("+8"), 8);
  EXPECT_EQ(StrToInteger(" 42 "), 42);
  EXPECT_EQ(StrToInteger("12.7"), 12);
  EXPECT_EQ(StrToInteger("0x10"), 0);
  EXPECT_EQ(StrToInteger("012"), 12);
  EXPECT_EQ(StrToLongLong("10000000000"), 10000000000LL);
}

TEST(TextToNumber, NoNumberOrOutOfRangeGivesZero) {
  EXPECT_EQ(StrToInteger(""), 0);
  EXPECT_EQ(StrToInteger("abc"), 0);
  EXPECT_EQ(StrToInteger("2147483648"), 0);
  EXPECT_EQ(StrToLongLong("99999999999999999999"), 0);
  EXPECT_EQ(StrToDbl("x1"), 0.0);
  EXPECT_EQ(StrToDbl(""), 0.0);
}

TEST(TextToNumber, DoublesCarrySinglePrecision) {
  EXPECT_EQ(StrToDbl("1e3"), 1000.0);
  EXPECT_EQ(StrToDbl("3,5"), 3.0);
  EXPECT_EQ(StrToDbl("-2.5E-1"), -0.25);
  EXPECT_EQ(StrToDbl("0.1"), static_cast<double>(0.1f));
  EXPECT_NE(StrToDbl("0.1"), 0.1);
  EXPECT_EQ(StrToDbl("123456789"), 123456792.0);
}

TEST(NbString, ConvertsLikeTheFreeFunctions) {
  nbString s(std::string("0.1"));
  EXPECT_EQ(static_cast<double>(s), static_cast<double>(0.1f));
  nbString copy = (s = 1234.567);
  EXPECT_EQ(std::string(s), "1234.57");
  EXPECT_EQ(std::string(copy), "1234.57");
  s = 2.0;
  EXPECT_EQ(std::string(s), "2");
}
