#include "foundation/StringLib.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

using namespace SLib;

TEST(NumberText, ShortestFormDropsRepresentationNoise) {
  STR_ResetMinDecimalPlaces();
  EXPECT_EQ(STR_FromNum(0.1 + 0.2), "0.30");
  EXPECT_EQ(STR_FromNum(0.1 + 0.7), "0.80");  // shortest text 0.7999999999999999
  EXPECT_EQ(STR_FromNum(1.0000000000000002), "1.00");
  EXPECT_EQ(STR_FromNum(2.5), "2.5");
  EXPECT_EQ(STR_FromNum(3.0), "3");
  EXPECT_EQ(STR_FromNum(1.9999999f), "2.00");  // below float precision: noise
  STR_ChangeMinDecimalPlaces(0);
  EXPECT_EQ(STR_FromNum(0.1 + 0.2), "0.3");
  STR_ResetMinDecimalPlaces();
  EXPECT_EQ(SLIB_MIN_DECIMAL_PLACES, 2);
}

// Values on which trimming every trailing "0" or "9" of the whole text goes wrong.
TEST(NumberText, TrimmingNeverChangesTheValue) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1.5e20, "1.5e+20"},   {1e20, "1e+20"},        {2.5e-7, "2.5e-07"},
      {1.05, "1.05"},        {19.99, "19.99"},       {-122.409, "-122.409"},
      {1.9999999, "1.9999999"}, {100.0, "100"},      {1500000.0, "1500000"},
      {1.99e100, "1.99e+100"},  {-0.5, "-0.5"},      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (const Case& c : cases) EXPECT_EQ(STR_FromNum(c.value), c.text) << c.text;
  EXPECT_EQ(STR_FromNum(1.5e20f), "1.5e+20");
  EXPECT_EQ(STR_FromNum(19.99f), "19.99");
}

// The whole text is a number, and it lies within the type's precision of `value`.
void ExpectCloseText(const std::string& text, double value, double relative) {
  char* end = nullptr;
  double back = std::strtod(text.c_str(), &end);
  EXPECT_EQ(*end, '\0') << text;
  EXPECT_LE(std::fabs(back - value), std::fabs(value) * relative) << text << " for " << value;
}

TEST(NumberText, RandomValuesReadBackAtTheirTypePrecision) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    double d = mantissa(rng) * std::pow(10.0, exponent(rng));
    ExpectCloseText(STR_FromNum(d), d, 1e-14);
    float f = static_cast<float>(d);
    ExpectCloseText(STR_FromNum(f), f, 1.1e-5);
  }
}

TEST(NumberText, FixedDecimals) {
  EXPECT_EQ(STR_FromNum(1.005, 2), "1.00");  // 1.005 is stored just below
  EXPECT_EQ(STR_FromNum(2.5, 0), "2");       // printf rounds half to even
  EXPECT_EQ(STR_FromNum(-3.14159, 3), "-3.142");
  EXPECT_EQ(STR_FromNum(1.5f, 3), "1.500");
  // Too wide for fixed notation: the exponent of the shortest text is kept.
  EXPECT_EQ(STR_FromNum(1.5e200, 2), "1.50e+200");
  EXPECT_EQ(STR_FromNum(3.0e38f, 1), "3.0e+38");
  EXPECT_EQ(STR_FromNum(1.5e200, 20), "1.5e+200");
  EXPECT_EQ(STR_FromNum(std::numeric_limits<double>::infinity(), 2), "inf");
  EXPECT_EQ(STR_FromNum(1.25, 2, 10, 15), "1.25");
  EXPECT_EQ(STR_FromNum(19.999, 0, 3, 15), "19.999");
  EXPECT_EQ(STR_FromNum(7.0, 1, 6, 15), "7.0");
  EXPECT_EQ(STR_FromNum(2.5f, 0, 4, 6), "2.5");
}

TEST(NumberText, DecimalRound) {
  struct Case {
    const char* in;
    int places;
    const char* out;
  } cases[] = {
      {"9.996", 2, "10.00"}, {"-9.996", 2, "-10.00"}, {"1.234", 1, "1.2"}, {"1.25", 0, "1"},
      {"1.5", 0, "2"},       {"1.25", 2, "1.25"},     {"123", 1, "123"},   {"0.95", 1, "1.0"},
      {"1.25e+20", 1, "1.3e+20"}, {"9.99e-05", 1, "10.0e-05"}, {".96", 1, "1.0"},
      {"-.96", 1, "-1.0"},        {".96", 0, "1"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    STR_DecimalRound(s, c.places);
    EXPECT_EQ(s, c.out) << c.in << " to " << c.places;
  }
}

TEST(NumberText, ZeroTrimmingKeepsTheExponent) {
  std::string s = "1.500e+20";
  STR_TrimDecimalZeros(s);
  EXPECT_EQ(s, "1.5e+20");
  s = "1.5e+20";
  STR_TrimDecimalZeros(s);
  EXPECT_EQ(s, "1.5e+20");
  s = "2.000";
  STR_TrimDecimalZeros(s);
  EXPECT_EQ(s, "2");
  s = "100";
  STR_TrimDecimalZeros(s);
  EXPECT_EQ(s, "100");

  s = "0.500";
  STR_NumTrimZeros(s, true);
  EXPECT_EQ(s, "0.5");
  s = "0.500";
  STR_NumTrimZeros(s, false);
  EXPECT_EQ(s, ".5");
  s = "1.5e+20";
  STR_NumTrimZeros(s, true);
  EXPECT_EQ(s, "1.5e+20");
  s = "000";
  STR_NumTrimZeros(s, true);
  EXPECT_EQ(s, "");
  s = "0e5";
  STR_NumTrimZeros(s, true);
  EXPECT_EQ(s, "0e5");
}

TEST(NumberText, CommaSeparators) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"1234567.89", "1,234,567.89"}, {"123", "123"}, {"1234", "1,234"},
               {"-123456", "-123,456"},        {"-123", "-123"}, {"", ""}};
  for (const Case& c : cases) {
    std::string s = c.in;
    STR_NumCommaSep(s);
    EXPECT_EQ(s, c.out);
  }
}

TEST(NumberTests, IsNumAndIsInt) {
  struct Case {
    const char* text;
    bool isNum, isInt;
  } cases[] = {
      {"1.0", true, false}, {"1.2.3", false, false}, {"", false, false}, {"+", false, false},
      {"-", false, false},  {".", false, false},     {"5.", true, false}, {"+.", true, false},
      {".5", true, false},  {"-12", true, true},     {"+7", true, true},  {"0", true, true},
      {"1e5", false, false}, {" 1", false, false},   {"1 ", false, false}, {"--1", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(STR_IsNum(c.text), c.isNum) << '"' << c.text << '"';
    EXPECT_EQ(STR_IsInt(c.text), c.isInt) << '"' << c.text << '"';
  }
  bool isFloat = true;
  EXPECT_TRUE(STR_IsNum("+", isFloat));
  EXPECT_FALSE(isFloat);
  EXPECT_TRUE(STR_IsNum(".", isFloat));
  EXPECT_TRUE(isFloat);
  EXPECT_FALSE(STR_IsNum("", isFloat));
  // The tests stop at the first zero byte.
  EXPECT_TRUE(STR_IsInt(std::string("12\0x", 4)));
  EXPECT_FALSE(STR_IsInt(std::string("\0" "12", 3)));
}

TEST(TextEdits, TrimPadCaseAndQuotes) {
  EXPECT_EQ(STR_Trim("--a-b--", "-"), "a-b");
  EXPECT_EQ(STR_Trim("----", "-"), "");
  EXPECT_EQ(STR_TrimSpaces(" \t x y\t "), "x y");
  EXPECT_EQ(STR_RemoveChars("a1b2c3", "123"), "abc");
  EXPECT_EQ(STR_FixedWidth("abc", 5), "abc  ");
  EXPECT_EQ(STR_FixedWidth("abc", 2), "ab");
  EXPECT_EQ(STR_PadZeros("42", 5), "00042");
  EXPECT_EQ(STR_PadZeros("123456", 5), "123456");
  std::string s = "MiXeD\xC9";
  STR_ToLower(s);
  EXPECT_EQ(s, "mixed\xC9");
  STR_ToUpper(s);
  EXPECT_EQ(s, "MIXED\xC9");
  EXPECT_EQ(STR_RemoveQuotes("\"ab\""), "ab");
  EXPECT_EQ(STR_RemoveQuotes("'ab'"), "ab");
  EXPECT_EQ(STR_RemoveQuotes("\"ab'"), "\"ab'");
  EXPECT_EQ(STR_RemoveQuotes("\""), "\"");
  EXPECT_EQ(STR_AddQuotes("ab"), "\"ab\"");
  EXPECT_EQ(STR_AddQuotes("'ab'"), "\"ab\"");
  EXPECT_EQ(STR_AddQuotes("\"ab\""), "\"ab\"");
  EXPECT_EQ(STR_AddSingleQuotes("\"ab\""), "'ab'");
  EXPECT_TRUE(STR_IsQuoted("\"\""));
  EXPECT_FALSE(STR_IsQuoted("\""));
  EXPECT_TRUE(STR_StartsWith("abc", ""));
  EXPECT_FALSE(STR_StartsWith("ab", "abc"));
  EXPECT_TRUE(STR_EndsWith("abc", "bc"));
  EXPECT_FALSE(STR_EndsWith("c", "bc"));
  EXPECT_TRUE(STR_IsAllOf("", 'x'));
  EXPECT_FALSE(STR_IsAllOf("xxy", 'x'));
}

TEST(TextEdits, Replacement) {
  std::string s = "aXbXc";
  EXPECT_EQ(STR_ReplaceFirst(s, "X", "--"), "a--bXc");
  EXPECT_EQ(s, "a--bXc");
  s = "aa";
  STR_ReplaceAll(s, "a", "aa");  // the inserted text is not scanned again
  EXPECT_EQ(s, "aaaa");
  STR_ReplaceAll(s, "", "z");
  EXPECT_EQ(s, "aaaa");
  EXPECT_EQ(STR_DoubleBackSlashes("a\\b"), "a\\\\b");
  EXPECT_EQ(STR_RemoveDoubleSlashes("a//b\\\\c///d"), "a/b\\c//d");
  EXPECT_TRUE(STR_MatchStart("a-b-c", "abcd", "-"));
  EXPECT_FALSE(STR_MatchStart("abx", "aby", ""));
  EXPECT_TRUE(STR_MatchStart("", "abc", ""));
  EXPECT_FALSE(STR_MatchStart("ab--", "abc", "-"));
}

TEST(Lists, JoinSplitAndLines) {
  EXPECT_EQ(STR_JoinList({"a", "b"}, "; ", false), "a; b; ");
  EXPECT_EQ(STR_JoinList({"a", "b"}, "; ", true), "a; b");
  EXPECT_EQ(STR_JoinList({"a", "b"}, ',', true), "a,b");
  EXPECT_EQ(STR_JoinList({}, ',', true), "");
  EXPECT_EQ(STR_SplitByDelimiter("a,,b,", ','), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(STR_SplitByDelimiter(",", ','), (std::vector<std::string>{""}));
  EXPECT_TRUE(STR_SplitByDelimiter("", ',').empty());
  EXPECT_EQ(STR_SplitLines("x\r\ny\n"), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(STR_LocateMap({"b", "z"}, "abc"), (std::vector<int>{1, -1}));

  EXPECT_EQ(STR_GetTextLine(1, "l0\r\nl1\r\nl2", "\r\n"), "l1");
  EXPECT_EQ(STR_GetTextLine(2, "l0\nl1\nl2", "\n"), "l2");
  EXPECT_EQ(STR_GetTextLine(3, "l0\nl1\nl2", "\n"), "");
  EXPECT_EQ(STR_GetTextLine(1, "abc", ""), "b");
  EXPECT_EQ(STR_GetTextLine(0, "abc", "\t"), "");
  EXPECT_EQ(STR_ReplaceTextLine(1, "a\nb\nc", "XY", "\n"), "a\nXY\nc");
  EXPECT_EQ(STR_ReplaceTextLine(1, "a\nb\nc", "XY", ";"), "a\nb\nc");
  EXPECT_EQ(STR_ReplaceTextLine(1, "abc", "XY", ""), "aXYc");
  EXPECT_THROW(STR_ReplaceTextLine(3, "abc", "XY", ""), std::out_of_range);
  EXPECT_EQ(STR_RemoveLines("#x\nkeep\n#y\nlast", "#"), "keep\nlast");

  std::string rest;
  EXPECT_EQ(STR_GetEndDigits("track12", rest), 12);
  EXPECT_EQ(rest, "track");
  EXPECT_EQ(STR_GetEndDigits("track", rest), -1);
  EXPECT_EQ(rest, "track");
  EXPECT_THROW(STR_GetEndDigits("t99999999999", rest), std::out_of_range);
}

}  // namespace
