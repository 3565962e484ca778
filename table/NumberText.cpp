#include "table/NumberText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/StringLib.h"

namespace MF {

// The same half-up rounding as the string helpers; an exponent, if any, is kept.
void DecimalRound(std::string& t, int n) { SLib::STR_DecimalRound(t, n); }

namespace {

bool IsRunDigit(char c) { return c == '9' || c == '0'; }

// Trims the mantissa text `m` (no exponent) as PrecisionTrim describes.
void TrimMantissa(std::string& m, int d) {
  size_t p = m.find('.');
  if (p == std::string::npos) return;
  const size_t length = m.size();
  if (length - p - 1 >= 2 && IsRunDigit(m[length - 2])) {
    size_t k = length - 2;
    while (k > p + 1 && IsRunDigit(m[k - 1])) --k;
    const size_t j = k - 1;  // the digit before the run, at the latest the point
    DecimalRound(m, static_cast<int>(std::max(j, p + d) - p));
  }
  p = m.find('.');  // rounding may drop the point or insert a leading digit
  if (p == std::string::npos) return;
  const size_t floor = p + static_cast<size_t>(std::max(d, 0));
  while (m.size() > floor + 1 && m.back() == '0') m.pop_back();
  if (m.back() == '.') m.pop_back();
}

}  // namespace

void PrecisionTrim(std::string& t, int d) {
  const size_t e = t.find_first_of("eE");
  if (e == std::string::npos) {
    TrimMantissa(t, d);
    return;
  }
  std::string mantissa = t.substr(0, e);
  TrimMantissa(mantissa, d);
  int exponent = std::atoi(t.c_str() + e + 1);
  // A carry can turn 9.99e-05 into 10: shift it back to one digit before the point.
  const size_t sign = (!mantissa.empty() && mantissa[0] == '-') ? 1 : 0;
  if (mantissa.size() == sign + 2 && mantissa.compare(sign, 2, "10") == 0) {
    mantissa.pop_back();
    ++exponent;
  }
  char tail[16];
  std::snprintf(tail, sizeof tail, "%c%c%02d", t[e], exponent < 0 ? '-' : '+',
                exponent < 0 ? -exponent : exponent);
  t = mantissa + tail;
}

}  // namespace MF

namespace {

template <typename T>
bool SameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <typename T>
void NumberToString(T value, std::string& out, uint8_t decimals, uint8_t precision,
                    size_t workArea) {
  out.resize(std::max<size_t>({out.size(), workArea, size_t{precision} + 16}));
  char* begin = &out[0];
  const auto result = std::to_chars(begin, begin + out.size(), value,
                                    std::chars_format::general, precision);
  if (result.ec != std::errc()) {
    out = "NULL";
    return;
  }
  out.resize(static_cast<size_t>(result.ptr - begin));
  // Trim only when the shorter text still reads back as this very value: what is removed is
  // then noise of the binary representation, never a digit that the value holds.
  std::string trimmed = out;
  MF::PrecisionTrim(trimmed, decimals);
  if (trimmed == out) return;
  T back;
  ConvertCharsToFLT(back, trimmed.data(), trimmed.size(), std::numeric_limits<T>::quiet_NaN());
  if (SameBits(back, value)) out.swap(trimmed);
}

}  // namespace

void FloatToString(float value, std::string& out, uint8_t decimals, uint8_t precision) {
  NumberToString(value, out, decimals, precision, 32);
}

void DoubleToString(double value, std::string& out, uint8_t decimals, uint8_t precision) {
  NumberToString(value, out, decimals, precision, 64);
}
