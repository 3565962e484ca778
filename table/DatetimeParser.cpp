#include "table/DatetimeParser.h"

#include <climits>

namespace IO_Datetimes {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr int64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                    100000000, 1000000000};

// A read position in a text. Numbers are unsigned runs of digits: no sign, no blanks.
struct Cursor {
  const char* p;
  const char* end;

  bool AtEnd() const { return p == end; }
  char Peek(size_t ahead = 0) const { return size_t(end - p) > ahead ? p[ahead] : 0; }
  bool Accept(char c) {
    if (c == 0 || Peek() != c) return false;
    ++p;
    return true;
  }
  // A separator of the layout: none when 0.
  bool Separator(char sep) { return sep == 0 || Accept(sep); }
  void SkipBlanks() {
    while (p != end && IsBlank(*p)) ++p;
  }
  // Moves past a run of digits (at most `limit` of them) and returns its length; `value`
  // holds its first 18 digits, so a long run can neither overflow nor pass for a small
  // number.
  int Digits(int64_t& value, int limit = INT_MAX) {
    value = 0;
    int n = 0;
    for (; p != end && n < limit && IsDigit(*p); ++p, ++n) {
      if (n < 18) value = value * 10 + (*p - '0');
    }
    return n;
  }
  // A number of min_digits..max_digits digits in lo..hi. With `bounded`, digits after the
  // first max_digits are left for the next field (layouts without separators).
  bool Field(int min_digits, int max_digits, int64_t lo, int64_t hi, int32_t& out,
             bool bounded = false) {
    int64_t v;
    int n = Digits(v, bounded ? max_digits : INT_MAX);
    if (n < min_digits || n > max_digits || v < lo || v > hi) return false;
    out = int32_t(v);
    return true;
  }
};

// Starts at the first non-blank character; texts are read up to INT_MAX characters so that
// `consumed` always fits.
Cursor Begin(const char* text, unsigned long length) {
  Cursor c{text, text + (length > INT_MAX ? INT_MAX : length)};
  c.SkipBlanks();
  return c;
}

// A year of two digits (2000-2049 below 50, else 1950-1999) or of four digits within the
// parser's range. `digits` tells which.
bool ReadYear(Cursor& c, int& digits, int32_t& year, int limit = INT_MAX) {
  int64_t v;
  digits = c.Digits(v, limit);
  if (digits == 2) {
    year = int32_t(v < 50 ? 2000 + v : 1900 + v);
    return true;
  }
  if (digits == 4 && v >= DatetimeParser::MinYear && v <= DatetimeParser::MaxYear) {
    year = int32_t(v);
    return true;
  }
  return false;
}

// Fraction digits after the '.': nanoseconds from the first nine, the rest skipped.
// Returns the number of digits.
int ReadFraction(Cursor& c, int32_t& nanoseconds) {
  int64_t v;
  int n = c.Digits(v);
  int kept = n < 18 ? n : 18;
  nanoseconds = int32_t(kept >= 9 ? v / kPowersOfTen[kept - 9] : v * kPowersOfTen[9 - kept]);
  return n;
}

// "am"/"pm" (kAmpmLower) or "AM"/"PM" (kAmpmUpper) at the cursor, 0 for neither.
uint16_t MatchAmpm(const Cursor& c, bool& pm) {
  char a = c.Peek(), m = c.Peek(1);
  pm = a == 'p' || a == 'P';
  if ((a == 'a' || a == 'p') && m == 'm') return kAmpmLower;
  if ((a == 'A' || a == 'P') && m == 'M') return kAmpmUpper;
  return 0;
}

// 12 am is hour 0, 1-11 pm are 13-23; hours above 12 cannot carry am/pm.
bool ApplyAmpm(bool pm, int32_t& hour) {
  if (hour > 12) return false;
  if (pm && hour < 12) hour += 12;
  if (!pm && hour == 12) hour = 0;
  return true;
}

// Detection ---------------------------------------------------------------------------

// After the first number v (1..31) of a day-and-month pair: it is the month when v <= 12,
// else the day; then `sep` and the other field.
bool DetectDayAndMonth(DatetimeParser& p, Cursor& c, int64_t v, char sep) {
  bool month_first = v <= 12;
  p.dateFlags |= kDatePresent | (month_first ? 0 : kDayFirst);
  (month_first ? p.dt.month : p.dt.day) = int32_t(v);
  if (!c.Accept(sep)) return false;
  return month_first ? c.Field(1, 2, 1, 31, p.dt.day) : c.Field(1, 2, 1, 12, p.dt.month);
}

// The date separator at the cursor ('-' or '/'), 0 for none.
char PeekDateSep(const Cursor& c) {
  char sep = c.Peek();
  return sep == '-' || sep == '/' ? sep : 0;
}

bool DetectDate(DatetimeParser& p, Cursor& c) {
  int64_t v;
  int n = c.Digits(v);
  if (n == 4) {  // year first
    if (v < DatetimeParser::MinYear || v > DatetimeParser::MaxYear) return false;
    p.dt.year = int32_t(v);
    p.dateFlags = kYearFourDigits | kYearFirst;
    p.dateSep = PeekDateSep(c);
    if (!c.Accept(p.dateSep)) return false;
    n = c.Digits(v);
    if (n < 1 || n > 2 || v < 1 || v > 31) return false;
    if (!DetectDayAndMonth(p, c, v, p.dateSep)) return false;
  } else {  // month or day first
    if (n < 1 || n > 2 || v < 1 || v > 31) return false;
    p.dateSep = PeekDateSep(c);
    if (p.dateSep == 0 || !DetectDayAndMonth(p, c, v, p.dateSep) || !c.Accept(p.dateSep)) {
      return false;
    }
    int digits;
    if (!ReadYear(c, digits, p.dt.year)) return false;
    p.dateFlags |= digits == 2 ? kYearTwoDigits : kYearFourDigits;
  }
  return p.dt.ValidateDate();
}

// An am/pm text after the time, directly or after one blank.
bool DetectAmpm(DatetimeParser& p, Cursor& c) {
  Cursor probe = c;
  char sep = 0;
  if (probe.Peek() == ' ' && !IsBlank(probe.Peek(1))) sep = *probe.p++;
  bool pm;
  uint16_t ampm = MatchAmpm(probe, pm);
  if (ampm != 0) {
    c.p = probe.p + 2;
    if (!ApplyAmpm(pm, p.dt.hour)) return false;
    p.timeFlags = uint16_t((p.timeFlags & ~kClock24) | ampm);
    p.ampmSep = sep;
  }
  c.SkipBlanks();
  return true;
}

bool DetectTime(DatetimeParser& p, Cursor& c) {
  if (!c.Field(1, 2, 0, 23, p.dt.hour)) return false;
  p.timeFlags = kHourPresent | kClock24;
  if (!c.Accept(':')) return false;
  p.timeSep = ':';
  if (!c.Field(1, 2, 0, 59, p.dt.minute)) return false;
  p.timeFlags |= kMinutePresent;
  // A ':' or '.' not followed by a digit is not part of the time.
  if (c.Peek() == ':' && IsDigit(c.Peek(1))) {
    ++c.p;
    if (!c.Field(1, 2, 0, 59, p.dt.second)) return false;
    p.timeFlags |= kSecondPresent;
    if (c.Peek() == '.' && IsDigit(c.Peek(1))) {
      ++c.p;
      int n = ReadFraction(c, p.dt.subsecond);
      p.timeFlags |= n <= 3 ? kFraction : n <= 6 ? kFraction | kFractionMicro : kFractionMask;
    }
  }
  return DetectAmpm(p, c);
}

// What follows the date: nothing, a time, or text that is ignored.
bool DetectAfterDate(DatetimeParser& p, Cursor& c) {
  char next = c.Peek();
  bool iso_t = next == 'T' && p.dateSep == '-' && (p.dateFlags & kYearFourDigits);
  if ((next == ' ' || iso_t) && IsDigit(c.Peek(1))) {
    p.dateTimeSep = *c.p++;
    return DetectTime(p, c);
  }
  if (next == ' ') c.SkipBlanks();
  return true;
}

// Parsing against a layout -------------------------------------------------------------

int MinDigits(bool two_digits) { return two_digits ? 2 : 1; }

bool ParseDate(DatetimeParser& p, Cursor& c) {
  // A layout without year (or without date) reads as 1970.
  p.dt.year = 1970;
  if (!p.HasDate()) {
    p.dt.month = p.dt.day = 1;
    return true;
  }
  DateField order[3];
  for (int i = 0, n = p.DateOrder(order); i < n; ++i) {
    if (i > 0 && !c.Separator(p.dateSep)) return false;
    bool ok;
    if (order[i] == kYearField) {
      int expected = (p.dateFlags & kYearTwoDigits) ? 2 : 4, digits;
      ok = ReadYear(c, digits, p.dt.year, expected) && digits == expected;
    } else if (order[i] == kMonthField) {
      ok = c.Field(MinDigits(p.dateFlags & kMonthTwoDigits), 2, 1, 12, p.dt.month, true);
    } else {
      ok = c.Field(MinDigits(p.dateFlags & kDayTwoDigits), 2, 1, 31, p.dt.day, true);
    }
    if (!ok) return false;
  }
  return p.dt.ValidateDate();
}

bool ParseTime(DatetimeParser& p, Cursor& c) {
  if (!p.HasTime()) return true;
  bool clock12 = !(p.timeFlags & kClock24);
  if (!c.Separator(p.dateTimeSep) ||
      !c.Field(MinDigits(p.timeFlags & kHourTwoDigits), 2, clock12 ? 1 : 0, clock12 ? 12 : 23,
               p.dt.hour, true) ||
      !c.Separator(p.timeSep) ||
      !c.Field(MinDigits(p.timeFlags & kMinuteTwoDigits), 2, 0, 59, p.dt.minute, true)) {
    return false;
  }
  if (p.timeFlags & kSecondPresent) {
    if (!c.Separator(p.timeSep) ||
        !c.Field(MinDigits(p.timeFlags & kSecondTwoDigits), 2, 0, 59, p.dt.second, true)) {
      return false;
    }
    if (p.FractionDigits() > 0) {
      if (!c.Accept('.') || !IsDigit(c.Peek())) return false;
      ReadFraction(c, p.dt.subsecond);
    }
  }
  if (p.timeFlags & kAmpm) {
    bool pm;
    if (!c.Separator(p.ampmSep) || MatchAmpm(c, pm) != (p.timeFlags & kAmpm)) return false;
    c.p += 2;
    if (!ApplyAmpm(pm, p.dt.hour)) return false;
  }
  return true;
}

}  // namespace

bool DatetimeParser::DetectDatetime(const char* text, unsigned long length, int& consumed) {
  Cursor c = Begin(text, length);
  const char* start = c.p;
  dt.Clear();
  UseLayout(DatetimeLayout());
  consumed = 0;
  if (c.end - c.p < 6) return false;
  bool ok = DetectDate(*this, c) && DetectAfterDate(*this, c);
  consumed = int(c.p - start);
  return ok;
}

bool DatetimeParser::ParseToDatetime(const char* text, unsigned long length, int& consumed) {
  Cursor c = Begin(text, length);
  const char* start = c.p;
  dt.Clear();
  consumed = 0;
  if (c.AtEnd()) return false;
  bool ok = ParseDate(*this, c) && ParseTime(*this, c);
  if (ok) c.SkipBlanks();
  consumed = int(c.p - start);
  return ok;
}

}  // namespace IO_Datetimes
