// IO_Datetimes::DateTime: a broken-down date and time, and the calendar arithmetic behind
// DATETIME cells.
//
// A DATETIME cell is a signed 64-bit count of nanoseconds since 1970-01-01 00:00:00 in the
// proleptic Gregorian calendar, without time zone: values are taken as they stand. The most
// negative count is the null cell, so the instants that can be stored run from
// 1677-09-21 00:12:43.145224193 to 2262-04-11 23:47:16.854775807.
//
// Conversions do not validate their input (month 13 counts on into the next year) but never
// wrap: a date-time outside the storable range converts to the null cell. Nothing here logs
// or throws; objects are plain values with no shared state.
#ifndef TVX_TABLE_DATETIME_H_
#define TVX_TABLE_DATETIME_H_

#include <cstdint>
#include <string>

namespace IO_Datetimes {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kNanosPerDay = kSecondsPerDay * kNanosPerSecond;

// Days since 1970-01-01 of a proleptic Gregorian date. Month and day may lie outside their
// ranges; they count on from the start of the year (month 13 is January of year + 1).
int64_t DaysFromCivil(int64_t year, int month, int day);

// The date `days` days after 1970-01-01.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day);

struct DateTime {
  int32_t year = 0;
  int32_t month = 0;      // 1-12
  int32_t day = 0;        // 1-31
  int32_t hour = 0;       // 0-23
  int32_t minute = 0;     // 0-59
  int32_t second = 0;     // 0-59
  int32_t subsecond = 0;  // nanoseconds, 0-999999999
  // Scratch fields overwritten by the nanosecond conversions: the 400-year era, the day of
  // the year counted from 1 March, the day of the era and the year of the era.
  int32_t era = 0;
  int32_t doy = 0;
  int32_t doe = 0;
  int32_t yoe = 0;

  // Zeroes the seven value fields.
  void Clear();

  // Fills every field from nanoseconds since 1970 (-1 is 1969-12-31 23:59:59.999999999).
  void FromDatetime64_ns(int64_t ns);
  // Writes the nanoseconds of the fields; a date-time outside the storable range gives the
  // null cell (INT64_MIN), never a wrapped value.
  void ToDatetime64_ns(int64_t& ns);

  // "MM/DD/YYYY hh:mm:ss.uuuuuu" (the sub-second in microseconds).
  std::string ToString() const;

  bool IsLeapYear() const;
  // Month 1..12 and day 1..DaysInMonth; time fields are not checked.
  bool ValidateDate() const;
  // 31, 30, 28 or 29; 0 for a month outside 1..12.
  static int DaysInMonth(int month, bool leap);

  // Calendar shifts by a signed, possibly fractional amount. ShiftMonths and ShiftYears do
  // not clamp the day (31 January plus one month is 31 February, which the nanosecond
  // conversion reads as 3 March). An amount that is not finite or would move the date by
  // more than 10000 years is refused: false, nothing changed.
  bool ShiftSeconds(double seconds);
  bool ShiftDays(double days);
  bool ShiftMonths(double months);
  bool ShiftYears(double years);

  // 0 Sunday .. 6 Saturday.
  int Weekday() const;

  // Spreadsheet serial days: day 1 is 1900-01-01 and day 60 the fictitious 1900-02-29, so
  // serials from 61 on are one more than the day count. 1970-01-01 is 25569.
  static double Datetime64ToExcel(int64_t ns);
  // Nanoseconds of a serial, to the nearest millisecond; a serial that is not finite or lies
  // outside the storable range gives the null cell.
  static int64_t ExcelToDatetime64(double serial);
  // Date and time of a serial, to the nearest microsecond (a time that rounds up to
  // midnight moves to the next day). Serial 60 is 1900-02-29. A serial that is not finite
  // or beyond +-10^7 days is refused: false, nothing changed.
  bool FromExcelTime(double serial);
  // The serial of the fields, its time part rounded to 11 decimal places.
  void ToExcelTime(double& serial) const;

  // Local date (time fields 0), local date and time (sub-second 0), and the system clock
  // as a broken-down UTC date-time. Thread-safe (localtime_r).
  static DateTime Today();
  static DateTime Now();
  static DateTime Now_ns();
  // The local time's current offset from UTC, in nanoseconds.
  static int64_t NanosecondsToUTC();
};

}  // namespace IO_Datetimes

#endif  // TVX_TABLE_DATETIME_H_
