#ifndef TVX_TABLE_NUMBERTEXT_H_
#define TVX_TABLE_NUMBERTEXT_H_

// Numbers in cells to and from text.
//
// Parsing is strict and allocation-free: a text either is a whole number of the cell's type
// or the cell gets the caller's null value. Formatting writes printf-"g"-style text that does
// not depend on the locale, then removes digits that are only noise of the binary
// representation. A trimmed text is used only when it reads back, in the value's own type,
// as exactly the value that was formatted, so formatting never changes the number.

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include <fast_float/fast_float.h>

// Parses `text` (length bytes, not terminated) as an optional "-" followed by one or more
// decimal digits and nothing else. Writes the value to `out`, or `nullValue` when the text
// has any other form or the value does not fit T. T is a signed 32- or 64-bit integer.
template <typename T>
void ConvertCharsToINT(T& out, const char* text, uint64_t length, T nullValue) {
  static_assert(std::is_integral<T>::value && std::is_signed<T>::value, "signed integers only");
  using U = typename std::make_unsigned<T>::type;
  out = nullValue;
  if (text == nullptr || length == 0) return;
  const bool negative = text[0] == '-';
  uint64_t i = negative ? 1 : 0;
  if (i == length) return;
  U magnitude = 0;
  for (; i < length; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - '0';
    if (digit > 9) return;
    if (magnitude > (std::numeric_limits<U>::max() - digit) / 10) return;
    magnitude = static_cast<U>(magnitude * 10 + digit);
  }
  const U limit = static_cast<U>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
  if (magnitude > limit) return;
  // Two's complement negation through the unsigned type keeps the most negative value defined.
  out = negative ? static_cast<T>(static_cast<U>(0) - magnitude) : static_cast<T>(magnitude);
}

// Parses `text` as a float or double in the general format accepted by fast_float (optional
// "-", digits, optional fraction, optional exponent, infinity and NaN forms). Writes the
// value, or `nullValue` for an empty text or one that is not a whole number.
template <typename T>
void ConvertCharsToFLT(T& out, const char* text, uint64_t length, T nullValue) {
  static_assert(std::is_floating_point<T>::value, "float or double only");
  out = nullValue;
  if (text == nullptr || length == 0) return;
  T value;
  const auto result = fast_float::from_chars(text, text + length, value);
  if (result.ec == std::errc() && result.ptr == text + length) out = value;
}

// Writes `value` to `out` with at most `precision` significant digits (as printf's %.*g) and
// then trims binary noise, keeping at least `decimals` digits after the point. `out` is reused
// as the work area. A value that cannot be written gives "NULL".
void FloatToString(float value, std::string& out, uint8_t decimals, uint8_t precision);
void DoubleToString(double value, std::string& out, uint8_t decimals, uint8_t precision);

namespace MF {

// Rounds the decimal text `t` half up to `n` digits after its point and drops a final ".".
// Texts without a point, or with no more than n digits after it, are left unchanged.
void DecimalRound(std::string& t, int n);

// Removes a trailing run of "9" or "0" digits that ends one digit before the end of the
// mantissa, rounding at the digit before the run but keeping at least `d` decimals, then
// removes trailing zeros after those decimals and a final ".". An exponent ("e" and what
// follows) is kept, renormalised when a carry turns the mantissa into 10. This is a text
// operation: it does not know whether the run is noise; callers that must keep the value
// check the result (see FloatToString).
void PrecisionTrim(std::string& t, int d);

}  // namespace MF

#endif  // TVX_TABLE_NUMBERTEXT_H_
