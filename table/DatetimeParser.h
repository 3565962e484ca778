// IO_Datetimes::DatetimeParser: recognises date-time texts in table cells.
//
// DetectDatetime finds the layout of a text and its values at once. It reads a date with
// the month, the day or a four-digit year first (separators '-' or '/'), then optionally a
// time after ' ' (or 'T' in "yyyy-mm-ddThh:mm") with hour, minute, optional second and an
// optional fraction of any number of digits (nanoseconds kept, further digits skipped), then
// an optional am/pm text. Two-digit years are 2000-2049 below 50, else 1950-1999; four-digit
// years lie in MinYear..MaxYear. The day must exist in its month. Whatever follows the
// recognised date-time is ignored.
//
// ParseToDatetime parses a text against the layout the parser already holds (from an earlier
// detection, or from a DateTimeSpec through UseLayout), so the fields, separators and digit
// counts must be exactly those of the layout.
//
// Both leave the values in `dt` and set `consumed` to the number of characters accepted
// from the first non-blank one (on refusal: up to and including the field that failed).
// Nothing is logged; a refusal is a false result. A parser is a plain value: use one per
// thread.
#ifndef TVX_TABLE_DATETIMEPARSER_H_
#define TVX_TABLE_DATETIMEPARSER_H_

#include "table/DateTime.h"
#include "table/DatetimeLayout.h"

namespace IO_Datetimes {

struct DatetimeParser : DatetimeLayout {
  static constexpr int MinYear = 1678;
  static constexpr int MaxYear = 2262;

  DateTime dt;  // the date-time being built

  bool DetectDatetime(const char* text, unsigned long length, int& consumed);
  bool ParseToDatetime(const char* text, unsigned long length, int& consumed);

  // Takes the layout (fields, order, separators, digit counts) for ParseToDatetime.
  void UseLayout(const DatetimeLayout& layout) { static_cast<DatetimeLayout&>(*this) = layout; }
};

}  // namespace IO_Datetimes

#endif  // TVX_TABLE_DATETIMEPARSER_H_
