// Number texts of cells: strict integer parsing at the limits, float parsing bit for bit
// against the C library, and number-to-text that never changes the number.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "table/ColumnTypes.h"
#include "table/NumberText.h"

namespace {

template <typename T>
T ParseInt(const std::string& text) {
  T out = 7;
  ConvertCharsToINT<T>(out, text.data(), text.size(), std::numeric_limits<T>::min());
  return out;
}

TEST(ConvertCharsToINT, AcceptsOnlyOptionalMinusAndDigits) {
  EXPECT_EQ(ParseInt<int32_t>("12"), 12);
  EXPECT_EQ(ParseInt<int32_t>("-12"), -12);
  EXPECT_EQ(ParseInt<int32_t>("007"), 7);
  EXPECT_EQ(ParseInt<int32_t>("-0"), 0);
  for (const char* bad : {"12a", " 12", "12 ", "+12", "", "-", "--1", "1-", "0x10", "1.0"}) {
    EXPECT_EQ(ParseInt<int32_t>(bad), _null_value_int) << bad;
    EXPECT_EQ(ParseInt<int64_t>(bad), _null_value_bigint) << bad;
  }
}

TEST(ConvertCharsToINT, LimitsAndOnePast) {
  EXPECT_EQ(ParseInt<int32_t>("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInt<int32_t>("-2147483648"), INT32_MIN);  // stored, reads back as null
  EXPECT_EQ(ParseInt<int32_t>("2147483648"), _null_value_int);
  EXPECT_EQ(ParseInt<int32_t>("-2147483649"), _null_value_int);
  EXPECT_EQ(ParseInt<int32_t>("4294967296"), _null_value_int);
  EXPECT_EQ(ParseInt<int32_t>("99999999999999999999"), _null_value_int);
  EXPECT_EQ(ParseInt<int64_t>("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseInt<int64_t>("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseInt<int64_t>("9223372036854775808"), _null_value_bigint);
  EXPECT_EQ(ParseInt<int64_t>("-9223372036854775809"), _null_value_bigint);
  EXPECT_EQ(ParseInt<int64_t>("18446744073709551616"), _null_value_bigint);
  EXPECT_EQ(ParseInt<int64_t>("000000000000000000000000000001"), 1);
}

TEST(ConvertCharsToINT, AgreesWithStrtollOnRandomTexts) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 20000; ++i) {
    std::string text = (rng() & 1) ? "-" : "";
    const int digits = 1 + static_cast<int>(rng() % 21);
    for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + rng() % 10);
    errno = 0;
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    const bool fits64 = errno != ERANGE;
    EXPECT_EQ(ParseInt<int64_t>(text), fits64 ? expected : _null_value_bigint) << text;
    const bool fits32 = fits64 && expected >= INT32_MIN && expected <= INT32_MAX;
    EXPECT_EQ(ParseInt<int32_t>(text), fits32 ? expected : _null_value_int) << text;
  }
}

template <typename T>
T ParseFloat(const std::string& text) {
  T out = 7;
  ConvertCharsToFLT<T>(out, text.data(), text.size(), std::numeric_limits<T>::quiet_NaN());
  return out;
}

template <typename T>
bool SameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

TEST(ConvertCharsToFLT, FormsAndRefusals) {
  EXPECT_EQ(ParseFloat<float>("1e3"), 1000.0f);
  EXPECT_EQ(ParseFloat<double>("-2.5E-3"), -0.0025);
  EXPECT_TRUE(std::isinf(ParseFloat<float>("inf")));
  EXPECT_TRUE(std::isnan(ParseFloat<double>("")));
  EXPECT_TRUE(std::isnan(ParseFloat<double>("1.5x")));
  EXPECT_TRUE(std::isnan(ParseFloat<double>(" 1.5")));
  EXPECT_TRUE(std::isnan(ParseFloat<double>("-")));
  EXPECT_TRUE(std::isnan(ParseFloat<double>("e5")));
}

// Random decimal texts in many shapes must give the very bits strtof/strtod give.
TEST(ConvertCharsToFLT, BitForBitWithStrtofAndStrtod) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  char text[64];
  for (int i = 0; i < 50000; ++i) {
    const int exponent = static_cast<int>(rng() % 80) - 40;
    const int digits = 1 + static_cast<int>(rng() % 19);
    const double value = mantissa(rng) * std::pow(10.0, exponent);
    std::snprintf(text, sizeof text, (rng() & 1) ? "%.*e" : "%.*g", digits, value);
    EXPECT_TRUE(SameBits(ParseFloat<double>(text), std::strtod(text, nullptr))) << text;
    EXPECT_TRUE(SameBits(ParseFloat<float>(text), std::strtof(text, nullptr))) << text;
  }
  for (const char* edge : {"3.4028234663852886e+38", "1.17549435e-38", "1.4e-45", "0.1",
                           "2.2250738585072014e-308", "4.9e-324", "1.7976931348623157e308",
                           "0", "-0", "123456789012345678901234567890"}) {
    EXPECT_TRUE(SameBits(ParseFloat<double>(edge), std::strtod(edge, nullptr))) << edge;
    EXPECT_TRUE(SameBits(ParseFloat<float>(edge), std::strtof(edge, nullptr))) << edge;
  }
}

std::string FloatText(float v, int precision = 6) {
  std::string out;
  FloatToString(v, out, 0, static_cast<uint8_t>(precision));
  return out;
}

std::string DoubleText(double v, int precision = 12) {
  std::string out;
  DoubleToString(v, out, 0, static_cast<uint8_t>(precision));
  return out;
}

TEST(NumberToString, KeepsEveryHeldDigit) {
  for (const char* text : {"1.05", "19.99", "-122.409", "0.1", "0.5", "100", "-9.99991",
                           "12345.7", "2.5e-05", "1e+20"}) {
    EXPECT_EQ(FloatText(std::strtof(text, nullptr)), text);
    EXPECT_EQ(DoubleText(std::strtod(text, nullptr)), text);
  }
  EXPECT_EQ(FloatText(1.5e6f), "1.5e+06");
  EXPECT_EQ(DoubleText(1.5e6), "1500000");
  EXPECT_EQ(DoubleText(1.0), "1");
  EXPECT_EQ(DoubleText(1.5e12), "1.5e+12");
  EXPECT_EQ(DoubleText(2.99999999997), "2.99999999997");
  EXPECT_EQ(DoubleText(0.300000000001), "0.300000000001");
}

TEST(NumberToString, TrimsOnlyBinaryNoise) {
  // Printed with more digits than the type holds, the noise goes and the value stays.
  EXPECT_EQ(FloatText(0.1f, 9), "0.1");
  EXPECT_EQ(DoubleText(0.1, 17), "0.1");
  // 0.1 + 0.2 is not 0.3: its digits are the value's own and are kept.
  EXPECT_EQ(DoubleText(0.1 + 0.2, 17), "0.30000000000000004");
}

TEST(NumberToString, SpecialValues) {
  EXPECT_EQ(DoubleText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(FloatText(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_EQ(DoubleText(0.0), "0");
  EXPECT_EQ(DoubleText(-0.0), "-0");
}

// A cell read back from its text equals the cell at the column's precision.
TEST(NumberToString, ReadsBackAtTheColumnPrecision) {
  std::mt19937 rng(3);
  for (int i = 0; i < 50000; ++i) {
    uint32_t fbits = static_cast<uint32_t>(rng());
    float f;
    std::memcpy(&f, &fbits, sizeof f);
    if (!std::isfinite(f)) continue;
    const std::string ft = FloatText(f);
    EXPECT_EQ(FloatText(ParseFloat<float>(ft)), ft) << ft;
    uint64_t dbits = (static_cast<uint64_t>(rng()) << 32) | rng();
    double d;
    std::memcpy(&d, &dbits, sizeof d);
    if (!std::isfinite(d)) continue;
    const std::string dt = DoubleText(d);
    EXPECT_EQ(DoubleText(ParseFloat<double>(dt)), dt) << dt;
    // Values that need no more digits than the precision come back exactly.
    char shortText[32];
    std::snprintf(shortText, sizeof shortText, "%.*g", 1 + static_cast<int>(rng() % 6),
                  std::ldexp(static_cast<double>(rng() % 100000), static_cast<int>(rng() % 40) - 20));
    const float exact = std::strtof(shortText, nullptr);
    EXPECT_TRUE(SameBits(ParseFloat<float>(FloatText(exact)), exact)) << shortText;
  }
}

TEST(PrecisionTrim, RoundsNoiseRunsOfTheMantissa) {
  const std::pair<const char*, const char*> cases[] = {
      {"0.300000000001", "0.3"}, {"2.99999999997", "3"},     {"12345.6999991", "12345.7"},
      {"1.5", "1.5"},            {"-9.99991", "-10"},        {"1.5e+06", "1.5e+06"},
      {"9.9999991e-05", "1e-04"}, {"-9.9999991e+99", "-1e+100"}, {"100", "100"},
      {"0.10", "0.1"},
  };
  for (const auto& c : cases) {
    std::string t = c.first;
    MF::PrecisionTrim(t, 0);
    EXPECT_EQ(t, c.second) << c.first;
  }
  std::string kept = "2.50000001";
  MF::PrecisionTrim(kept, 3);
  EXPECT_EQ(kept, "2.500");  // at least d decimals stay
  std::string decimals = "1.2999991";
  MF::PrecisionTrim(decimals, 3);
  EXPECT_EQ(decimals, "1.300");
}

TEST(DecimalRound, HalfUpWithCarry) {
  const struct {
    const char* in;
    int places;
    const char* out;
  } cases[] = {{"9.996", 2, "10.00"}, {"-9.996", 2, "-10.00"}, {"1.234", 1, "1.2"},
               {"1.25", 0, "1"},      {"0.5", 0, "1"},         {"12", 1, "12"},
               {"1.2", 3, "1.2"}};
  for (const auto& c : cases) {
    std::string t = c.in;
    MF::DecimalRound(t, c.places);
    EXPECT_EQ(t, c.out) << c.in << " " << c.places;
  }
}

}  // namespace
