// IO_Datetimes::DateTimeSpec: a display format for date-time cells, parsed once from a
// format code and then used to print any number of cells.
//
// Format codes: a date, then optionally a time and an am/pm token.
//   date   "yyyy" or "yy", "d"/"dd", "m"/"mm" in one of the orders year-day-month,
//          year-month-day, day-month[-year], month-day[-year]; one separator '-' or '/'
//          (the same throughout) or none. "dd" and "mm" print two digits.
//   time   optional ' ' or 'T', then "h"/"hh" (12-hour) or "H"/"HH" (24-hour), optional ':',
//          "m"/"mm", then optionally (the same separator) "s"/"ss" and a fraction ".mss",
//          ".uss" or ".nss" (3, 6 or 9 digits).
//   am/pm  optional ' ', then "ampm" or "AMPM"; it ends the format.
// The empty code stands for "yyyy-mm-dd HH:mm:ss.uss".
//
// A DateTimeSpec is a plain value; printing does not change it, so one may be shared by
// threads that only print.
#ifndef TVX_TABLE_DATETIMESPEC_H_
#define TVX_TABLE_DATETIMESPEC_H_

#include <string>

#include "table/DateTime.h"
#include "table/DatetimeLayout.h"

namespace IO_Datetimes {

struct DateTimeSpec : DatetimeLayout {
  // True when the last Set accepted its format.
  bool valid = false;

  // Parses `format`. A format that breaks the grammar is refused: the result is false,
  // `valid` is false and it holds the default format, so cells still print in full
  // rather than as an empty or partial text.
  bool Set(const std::string& format);
  // Its format text, as Set accepts it.
  std::string Description() const;
  // The date-time in this format; empty when it holds neither a date nor a time.
  std::string DatetimeToString(const DateTime& dt) const;
  // Zeroes every field (it then prints nothing).
  void Clear();
};

}  // namespace IO_Datetimes

#endif  // TVX_TABLE_DATETIMESPEC_H_
