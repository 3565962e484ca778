#include "foundation/StringLib.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace SLib {

std::atomic<int> SLIB_MIN_DECIMAL_PLACES{2};

void STR_ChangeMinDecimalPlaces(int n) { SLIB_MIN_DECIMAL_PLACES = n; }
void STR_ResetMinDecimalPlaces() { SLIB_MIN_DECIMAL_PLACES = 2; }

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSign(char c) { return c == '+' || c == '-'; }
bool InSet(const std::string& set, char c) { return set.find(c) != std::string::npos; }

// The characters of s before its first zero byte: the number tests stop there.
std::string UpToZero(const std::string& s) { return std::string(s.c_str()); }

// Position where the exponent of a number text starts, or its length when it has none.
size_t MantissaEnd(const std::string& s) {
  size_t e = s.find_first_of("eE");
  return e == std::string::npos ? s.size() : e;
}

// Applies `edit` to the mantissa of a number text and puts the exponent back, so that no
// edit of the decimals can ever reach the exponent's digits.
template <class Edit>
void EditMantissa(std::string& s, Edit edit) {
  size_t end = MantissaEnd(s);
  std::string exponent = s.substr(end);
  s.resize(end);
  edit(s);
  s += exponent;
}

// Adds one unit at the last digit of s, carrying leftwards over nines; a carry left at the
// front becomes a "1" before the integer part (after a leading sign), which may be empty:
// ".96" rounds up to "1.0".
void CarryOne(std::string& s) {
  for (size_t i = s.size(); i-- > 0;) {
    if (s[i] == '9') {
      s[i] = '0';
    } else if (s[i] >= '0' && s[i] <= '8') {
      ++s[i];
      return;
    }
  }
  size_t first = s.find_first_of("0123456789.");
  if (first == std::string::npos) first = (!s.empty() && IsSign(s[0])) ? 1 : 0;
  s.insert(first, 1, '1');
}

// DecimalRound on a text without exponent.
void RoundDecimals(std::string& s, int places) {
  size_t dot = s.find('.');
  if (dot == std::string::npos) return;
  size_t dropped = dot + static_cast<size_t>(std::max(places, 0)) + 1;
  if (dropped >= s.size()) return;
  char d = s[dropped];
  s.resize(dropped);
  if (d >= '5') CarryOne(s);
  if (!s.empty() && s.back() == '.') s.pop_back();
}

void TrimTrailingDecimalZeros(std::string& s) {
  if (s.find('.') == std::string::npos) return;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
}

// The noise trim of PrecisionTrim on a text without exponent.
void TrimNoise(std::string& s, int minPlaces, int maxDigits) {
  size_t dot = s.find('.');
  if (dot == std::string::npos) return;
  int decimals = static_cast<int>(s.size() - dot - 1);
  int excluded = decimals >= maxDigits ? 1 : 0;
  if (decimals - excluded <= 0) return;
  size_t i = s.size() - 1 - excluded;
  char c = s[i];
  if (c != '0' && c != '9') return;
  int run = excluded;
  for (; i > dot && s[i] == c; --i) ++run;
  int keep = (c == '0' || run > 2) ? decimals - run : decimals;
  keep = std::min(std::max(keep, minPlaces), decimals);
  RoundDecimals(s, keep);
}

// True when the two number texts denote the same value at `digits` significant digits.
bool SameAtPrecision(const std::string& a, const std::string& b, int digits) {
  digits = std::clamp(digits, 1, 17);
  char ta[64], tb[64];
  std::snprintf(ta, sizeof ta, "%.*g", digits, std::strtod(a.c_str(), nullptr));
  std::snprintf(tb, sizeof tb, "%.*g", digits, std::strtod(b.c_str(), nullptr));
  return std::strcmp(ta, tb) == 0;
}

template <class T>
std::string Shortest(T value) {
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

// Fixed notation in a buffer of `width` characters; a value too wide for it keeps the
// exponent of its shortest text, with the mantissa given `decimals` decimals.
template <class T>
std::string FixedOrExponent(T value, int decimals, size_t width) {
  decimals = std::max(decimals, 0);
  char buf[128];
  int n = std::snprintf(buf, width, "%.*f", decimals, static_cast<double>(value));
  if (n >= 0 && static_cast<size_t>(n) < width) return std::string(buf, n);
  std::string shortest = Shortest(value);
  size_t e = shortest.find('e');
  if (e == std::string::npos || decimals >= 15) return shortest;
  double mantissa = std::strtod(shortest.substr(0, e).c_str(), nullptr);
  return FixedOrExponent(mantissa, decimals, 128) + shortest.substr(e);
}

template <class T>
std::string TrimmedFixed(T value, int minPlaces, int decimals, int maxDigits) {
  std::string s = STR_FromNum(value, decimals);
  if (s.find('e') == std::string::npos) Impl::PrecisionTrim(s, minPlaces, maxDigits);
  return s;
}

std::string QuoteWith(const std::string& s, char quote, char other) {
  if (s.size() >= 2 && s.front() == quote && s.back() == quote) return s;
  if (s.size() >= 2 && s.front() == other && s.back() == other) {
    return quote + s.substr(1, s.size() - 2) + quote;
  }
  return quote + s + quote;
}

}  // namespace

// ---- Tests and editing ----

bool STR_StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool STR_EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool STR_Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

bool STR_IsAllOf(const std::string& s, char c) {
  return std::all_of(s.begin(), s.end(), [c](char x) { return x == c; });
}

bool STR_MatchStart(const std::string& a, const std::string& b, const std::string& skip) {
  size_t i = 0, j = 0;
  while (true) {
    bool skippedA = false;
    for (; i < a.size() && InSet(skip, a[i]); ++i) skippedA = true;
    for (; j < b.size() && InSet(skip, b[j]); ++j) {
    }
    if (i == a.size()) return !(skippedA && j < b.size());
    if (j == b.size()) return true;
    if (a[i] != b[j]) return false;
    ++i;
    ++j;
  }
}

std::string STR_Trim(const std::string& s, const std::string& set) {
  size_t first = s.find_first_not_of(set);
  if (first == std::string::npos) return std::string();
  size_t last = s.find_last_not_of(set);
  return s.substr(first, last - first + 1);
}

std::string STR_TrimSpaces(const std::string& s) { return STR_Trim(s, " \t"); }

std::string STR_RemoveChars(const std::string& s, const std::string& set) {
  std::string out;
  for (char c : s) {
    if (!InSet(set, c)) out += c;
  }
  return out;
}

std::string STR_FixedWidth(const std::string& s, size_t width) {
  std::string out = s.substr(0, width);
  out.resize(width, ' ');
  return out;
}

std::string STR_PadZeros(const std::string& s, size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), '0') + s;
}

void STR_ToUpper(std::string& s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void STR_ToLower(std::string& s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string STR_ReplaceFirst(std::string& s, const std::string& from, const std::string& to) {
  size_t at = from.empty() ? std::string::npos : s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

void STR_ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
}

std::string STR_DoubleBackSlashes(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\\') out += c;
  }
  return out;
}

std::string STR_RemoveDoubleSlashes(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if ((s[i] == '\\' || s[i] == '/') && i + 1 < s.size() && s[i + 1] == s[i]) ++i;
  }
  return out;
}

std::string STR_RemoveQuotes(const std::string& s) {
  if (s.size() >= 2 && s.front() == s.back() && (s.front() == '"' || s.front() == '\'')) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

std::string STR_AddQuotes(const std::string& s) { return QuoteWith(s, '"', '\''); }
std::string STR_AddSingleQuotes(const std::string& s) { return QuoteWith(s, '\'', '"'); }

bool STR_IsQuoted(const std::string& s) {
  return s.size() >= 2 && s.front() == '"' && s.back() == '"';
}

void ConsoleColor(int) {}

// ---- Lists and lines ----

std::string STR_JoinList(const std::vector<std::string>& list, const std::string& sep, bool dropLast) {
  std::string out;
  for (const std::string& item : list) out += item + sep;
  if (dropLast && !list.empty()) out.resize(out.size() - sep.size());
  return out;
}

std::string STR_JoinList(const std::vector<std::string>& list, char sep, bool dropLast) {
  return STR_JoinList(list, std::string(1, sep), dropLast);
}

std::vector<std::string> STR_SplitByDelimiter(const std::string& s, char delimiter) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at = s.find(delimiter); at != std::string::npos; at = s.find(delimiter, start)) {
    fields.push_back(s.substr(start, at - start));
    start = at + 1;
  }
  if (start < s.size()) fields.push_back(s.substr(start));
  return fields;
}

std::vector<std::string> STR_SplitLines(const std::string& s) {
  return STR_SplitByDelimiter(STR_RemoveChars(s, "\r"), '\n');
}

std::vector<int> STR_LocateMap(const std::vector<std::string>& list, const std::string& s) {
  std::vector<int> positions;
  for (const std::string& item : list) {
    size_t at = s.find(item);
    positions.push_back(at == std::string::npos ? -1 : static_cast<int>(at));
  }
  return positions;
}

namespace {

bool IsLineEnding(const std::string& eol) {
  return eol.empty() || eol == "\n" || eol == "\r" || eol == "\r\n";
}

// Start and length of line n of s (eol not empty); false past the last line.
bool FindLine(size_t n, const std::string& s, const std::string& eol, size_t& start, size_t& length) {
  start = 0;
  for (size_t line = 0; line < n; ++line) {
    size_t end = s.find(eol, start);
    if (end == std::string::npos) return false;
    start = end + eol.size();
  }
  if (start > s.size()) return false;
  size_t end = s.find(eol, start);
  length = (end == std::string::npos ? s.size() : end) - start;
  return true;
}

}  // namespace

std::string STR_GetTextLine(size_t n, const std::string& s, const std::string& eol) {
  if (!IsLineEnding(eol)) return std::string();
  if (eol.empty()) return n < s.size() ? s.substr(n, 1) : std::string();
  size_t start, length;
  return FindLine(n, s, eol, start, length) ? s.substr(start, length) : std::string();
}

std::string STR_ReplaceTextLine(size_t n, const std::string& s, const std::string& text,
                                const std::string& eol) {
  if (!IsLineEnding(eol)) return s;
  std::string out = s;
  if (eol.empty()) {
    out.at(n);  // a position past the text is the caller's error
    return out.replace(n, 1, text);
  }
  size_t start, length;
  if (FindLine(n, s, eol, start, length)) out.replace(start, length, text);
  return out;
}

std::string STR_RemoveLines(const std::string& s, const std::string& prefix) {
  std::string out;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find('\n', start);
    end = end == std::string::npos ? s.size() : end + 1;
    std::string line = s.substr(start, end - start);
    if (!STR_StartsWith(line, prefix)) out += line;
    start = end;
  }
  return out;
}

int STR_GetEndDigits(const std::string& s, std::string& rest) {
  size_t start = s.size();
  while (start > 0 && IsDigit(s[start - 1])) --start;
  if (start == s.size()) {
    rest = s;
    return -1;
  }
  int value = std::stoi(s.substr(start));
  rest = s.substr(0, start);
  return value;
}

// ---- Number tests ----

namespace {

// Sign, then digits with at most one "."; counts what it met.
bool ScanNumber(const std::string& text, bool& sawDot, size_t& body) {
  size_t i = !text.empty() && IsSign(text[0]) ? 1 : 0;
  body = text.size() - i;
  sawDot = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '.' && !sawDot) {
      sawDot = true;
    } else if (!IsDigit(text[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool STR_IsNum(const std::string& s) {
  std::string text = UpToZero(s);
  bool sawDot;
  size_t body;
  return ScanNumber(text, sawDot, body) && body > 0 && text != ".";
}

bool STR_IsNum(const std::string& s, bool& isFloat) {
  std::string text = UpToZero(s);
  size_t body;
  return ScanNumber(text, isFloat, body) && !text.empty();
}

bool STR_IsInt(const std::string& s) {
  std::string text = UpToZero(s);
  bool sawDot;
  size_t body;
  return ScanNumber(text, sawDot, body) && !sawDot && body > 0;
}

// ---- Number to text ----

std::string STR_FromNum(int value) { return std::to_string(value); }
std::string STR_FromNum(long value) { return std::to_string(value); }
std::string STR_FromNum(unsigned long value) { return std::to_string(value); }

std::string STR_FromNum(double value, int decimals) { return FixedOrExponent(value, decimals, 128); }
std::string STR_FromNum(float value, int decimals) { return FixedOrExponent(value, decimals, 32); }

std::string STR_FromNum(double value) {
  std::string s = Shortest(value);
  Impl::PrecisionTrim(s, SLIB_MIN_DECIMAL_PLACES, 15);
  return s;
}

std::string STR_FromNumO(double value) { return STR_FromNum(value); }

std::string STR_FromNum(float value) {
  std::string s = Shortest(value);
  Impl::PrecisionTrim(s, SLIB_MIN_DECIMAL_PLACES, 6);
  return s;
}

std::string STR_FromNum(double value, int minPlaces, int decimals, int maxDigits) {
  return TrimmedFixed(value, minPlaces, decimals, maxDigits);
}

std::string STR_FromNum(float value, int minPlaces, int decimals, int maxDigits) {
  return TrimmedFixed(value, minPlaces, decimals, maxDigits);
}

void STR_DecimalRound(std::string& s, int places) {
  EditMantissa(s, [places](std::string& m) { RoundDecimals(m, places); });
}

void STR_TrimDecimalZeros(std::string& s) { EditMantissa(s, TrimTrailingDecimalZeros); }

void STR_NumTrimZeros(std::string& s, bool leadingZero) {
  size_t zeros = 0;
  while (zeros < s.size() && s[zeros] == '0') ++zeros;
  s.erase(0, zeros);
  if (zeros > 0 && !s.empty() && (s[0] == 'e' || s[0] == 'E')) s.insert(0, 1, '0');
  EditMantissa(s, TrimTrailingDecimalZeros);
  if (leadingZero && !s.empty() && s[0] == '.') s.insert(0, 1, '0');
}

void STR_NumCommaSep(std::string& s) {
  size_t end = std::min(s.find('.'), MantissaEnd(s));
  size_t first = !s.empty() && IsSign(s[0]) ? 1 : 0;
  for (size_t at = end; at >= first + 4; at -= 3) s.insert(at - 3, 1, ',');
}

namespace Impl {

void PrecisionTrim(std::string& s, int minPlaces, int maxDigits) {
  std::string trimmed = s;
  EditMantissa(trimmed, [&](std::string& m) { TrimNoise(m, minPlaces, maxDigits); });
  // A run of zeros or nines is noise only below the type's precision: 1.9999999 as a
  // double is a value in its own right and must not come out as 2.
  if (SameAtPrecision(s, trimmed, maxDigits)) s = trimmed;
}

}  // namespace Impl

}  // namespace SLib
