// Calendar arithmetic checked against the C library's own calendar (timegm, gmtime_r) over
// every day that a nanosecond cell can hold, plus the limits of the nanosecond range.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "table/ColumnTypes.h"
#include "table/DateTime.h"
#include "table/datetime_util.h"

using IO_Datetimes::DateTime;
using datetimetest::Make;
using datetimetest::Ns;

namespace {

constexpr int64_t kNs = 1000000000;
constexpr int64_t kDayNs = 86400 * kNs;

int64_t Timegm(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return int64_t(timegm(&tm));
}

// The spreadsheet serial day of a date, counted by the C library: days since 1899-12-30
// from 1900-03-01 on (the fictitious 1900-02-29 shifts them by one), since 1899-12-31 before.
int64_t OracleSerialDay(int64_t seconds) {
  int64_t epoch = seconds >= Timegm(1900, 3, 1) ? Timegm(1899, 12, 30) : Timegm(1899, 12, 31);
  return (seconds - epoch) / 86400;
}

TEST(CalendarOracle, EveryDayOfTheNanosecondRange) {
  std::mt19937_64 random(20240229);
  const int64_t first = Timegm(1678, 1, 1) / 86400;
  const int64_t last = Timegm(2262, 4, 11) / 86400;
  ASSERT_EQ(last - first, 213401);
  int failures = 0;
  for (int64_t day = first; day <= last && failures < 20; ++day) {
    std::time_t seconds = day * 86400;
    std::tm tm;
    ASSERT_NE(gmtime_r(&seconds, &tm), nullptr);
    // A random time of day, kept below 23:47:16.854775807 so the last day stays in range.
    int64_t time_ns = int64_t(random() % uint64_t(85636 * kNs));
    int64_t ns = day * kDayNs + time_ns;

    DateTime t;
    t.FromDatetime64_ns(ns);
    bool same = t.year == tm.tm_year + 1900 && t.month == tm.tm_mon + 1 && t.day == tm.tm_mday &&
                t.hour * 3600LL + t.minute * 60 + t.second == time_ns / kNs &&
                t.subsecond == time_ns % kNs && t.Weekday() == tm.tm_wday && t.ValidateDate() &&
                IO_Datetimes::DaysFromCivil(t.year, t.month, t.day) == day;
    int64_t back = Ns(t);
    DateTime midnight = Make(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    same = same && back == ns && Ns(midnight) == day * kDayNs;

    // Spreadsheet serials both ways: the day number exactly, the time to the unit promised.
    int64_t serial_day = OracleSerialDay(seconds);
    double serial = DateTime::Datetime64ToExcel(ns);
    int64_t ms_ns = (time_ns + 500000) / 1000000 * 1000000;
    DateTime from_serial;
    from_serial.FromExcelTime(serial);
    double to_serial;
    t.ToExcelTime(to_serial);
    same = same && int64_t(std::floor(serial)) == serial_day &&
           std::fabs(serial - serial_day - double(time_ns) / double(kDayNs)) < 1e-9 &&
           std::llabs(DateTime::ExcelToDatetime64(serial) - (day * kDayNs + ms_ns)) <= 1000000 &&
           from_serial.day == t.day && from_serial.month == t.month && from_serial.year == t.year &&
           std::fabs(to_serial - serial) < 1e-9;
    if (!same) {
      ++failures;
      ADD_FAILURE() << "day " << day << " (" << tm.tm_year + 1900 << "-" << tm.tm_mon + 1 << "-"
                    << tm.tm_mday << ") time " << time_ns << ": got " << t.ToString()
                    << " weekday " << t.Weekday() << " back " << back << " serial " << serial
                    << " oracle serial day " << serial_day;
    }
  }
}

TEST(CalendarOracle, RandomNanosecondsAgreeWithGmtime) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    int64_t ns = int64_t(random());
    if (ns == _null_value_bigint) continue;
    DateTime t;
    t.FromDatetime64_ns(ns);
    ASSERT_EQ(Ns(t), ns);
    std::time_t seconds = std::time_t(ns / kNs - (ns % kNs < 0));
    std::tm tm;
    gmtime_r(&seconds, &tm);
    ASSERT_EQ(t.year, tm.tm_year + 1900) << ns;
    ASSERT_EQ(t.month, tm.tm_mon + 1) << ns;
    ASSERT_EQ(t.day, tm.tm_mday) << ns;
    ASSERT_EQ(t.hour, tm.tm_hour) << ns;
    ASSERT_EQ(t.minute, tm.tm_min) << ns;
    ASSERT_EQ(t.second, tm.tm_sec) << ns;
    ASSERT_GE(t.subsecond, 0);
    ASSERT_LT(t.subsecond, kNs);
  }
}

TEST(NanosecondRange, EndsConvertAndOneStepBeyondIsNull) {
  DateTime top = Make(2262, 4, 11, 23, 47, 16, 854775807);
  EXPECT_EQ(Ns(top), std::numeric_limits<int64_t>::max());
  top.subsecond += 1;
  EXPECT_EQ(Ns(top), _null_value_bigint);
  EXPECT_EQ(Ns(Make(2262, 4, 12)), _null_value_bigint);
  EXPECT_EQ(Ns(Make(9999, 12, 31)), _null_value_bigint);
  EXPECT_EQ(Ns(Make(2147483647, 12, 31, 23, 59, 59, 999999999)), _null_value_bigint);

  // The most negative count is the null cell itself, so the first storable instant is one
  // nanosecond later.
  DateTime bottom;
  bottom.FromDatetime64_ns(std::numeric_limits<int64_t>::min() + 1);
  EXPECT_EQ(bottom.ToString(), "09/21/1677 00:12:43.145224");
  EXPECT_EQ(bottom.subsecond, 145224193);
  EXPECT_EQ(Ns(bottom), std::numeric_limits<int64_t>::min() + 1);
  bottom.subsecond -= 1;
  EXPECT_EQ(Ns(bottom), _null_value_bigint);
  EXPECT_EQ(Ns(Make(1677, 9, 20)), _null_value_bigint);
  EXPECT_EQ(Ns(Make(-2147483647 - 1, 1, 1)), _null_value_bigint);
}

TEST(NanosecondRange, BeforeTheEpochRoundsTowardMinusInfinity) {
  DateTime t;
  t.FromDatetime64_ns(-1);
  EXPECT_EQ(t.ToString(), "12/31/1969 23:59:59.999999");
  EXPECT_EQ(t.subsecond, 999999999);
}

TEST(NanosecondRange, ConversionsCountOnPastUnvalidatedFields) {
  EXPECT_EQ(Ns(Make(2023, 13, 1)), Ns(Make(2024, 1, 1)));
  EXPECT_EQ(Ns(Make(2023, 2, 31)), Ns(Make(2023, 3, 3)));
  EXPECT_EQ(Ns(Make(2023, 1, 1, 25)), Ns(Make(2023, 1, 2, 1)));
}

// Valid dates are checked against the C library above; these are the ones that are not.
TEST(Calendar, ImpossibleDatesAndMonths) {
  EXPECT_TRUE(Make(2000, 1, 1).IsLeapYear());
  EXPECT_FALSE(Make(1900, 1, 1).IsLeapYear());
  for (int m : {-1, 0, 13, 32, 1000}) EXPECT_EQ(DateTime::DaysInMonth(m, false), 0);
  EXPECT_FALSE(Make(2023, 2, 29).ValidateDate());
  EXPECT_FALSE(Make(2023, 4, 31).ValidateDate());
  EXPECT_FALSE(Make(2023, 0, 1).ValidateDate());
  EXPECT_FALSE(Make(2023, 1, 0).ValidateDate());
}

// Shifts against the C library's normalisation of out-of-range broken-down fields.
TEST(Shifts, WholeShiftsMatchTimegmNormalisation) {
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    int year = 1800 + int(random() % 350), month = 1 + int(random() % 12), day = 1 + int(random() % 28);
    int hour = int(random() % 24), minute = int(random() % 60), second = int(random() % 60);
    int amount = int(random() % 2001) - 1000;
    DateTime t = Make(year, month, day, hour, minute, second, 123);
    int64_t base = Timegm(year, month, day, hour, minute, second);
    DateTime s = t;
    ASSERT_TRUE(s.ShiftSeconds(amount * 997.0));
    ASSERT_EQ(Ns(s), (base + amount * 997LL) * kNs + 123);
    s = t;
    ASSERT_TRUE(s.ShiftDays(amount));
    ASSERT_EQ(Ns(s), (base + amount * 86400LL) * kNs + 123);
    s = t;
    ASSERT_TRUE(s.ShiftMonths(amount));
    ASSERT_EQ(Ns(s), Timegm(year, month + amount, day, hour, minute, second) * kNs + 123);
    s = t;
    ASSERT_TRUE(s.ShiftYears(amount / 10));
    ASSERT_EQ(Ns(s), Timegm(year + amount / 10, month, day, hour, minute, second) * kNs + 123);
  }
}

TEST(Shifts, FractionsCarryAndBorrow) {
  DateTime t = Make(2024, 1, 1, 0, 0, 0, 100);
  ASSERT_TRUE(t.ShiftSeconds(-10));
  EXPECT_EQ(t.ToString(), "12/31/2023 23:59:50.000000");
  t = Make(2024, 1, 1);
  ASSERT_TRUE(t.ShiftSeconds(90000));
  EXPECT_EQ(t.ToString(), "01/02/2024 01:00:00.000000");
  t = Make(2024, 1, 1, 0, 0, 0, 200000000);
  ASSERT_TRUE(t.ShiftSeconds(-0.25));
  EXPECT_EQ(Ns(t), Ns(Make(2023, 12, 31, 23, 59, 59, 950000000)));
  t = Make(2024, 1, 1, 23, 59, 59, 900000000);
  ASSERT_TRUE(t.ShiftSeconds(0.2));
  EXPECT_EQ(Ns(t), Ns(Make(2024, 1, 2, 0, 0, 0, 100000000)));
  t = Make(2024, 3, 1);
  ASSERT_TRUE(t.ShiftDays(-0.5));
  EXPECT_EQ(t.ToString(), "02/29/2024 12:00:00.000000");
  t = Make(2024, 2, 1);
  ASSERT_TRUE(t.ShiftMonths(1.5));  // half of March
  EXPECT_EQ(t.ToString(), "03/16/2024 12:00:00.000000");
  t = Make(2023, 7, 1);
  ASSERT_TRUE(t.ShiftYears(0.5));  // 2023 is not a leap year: 182.5 days
  EXPECT_EQ(t.ToString(), "12/30/2023 12:00:00.000000");
  t = Make(2024, 1, 31);
  ASSERT_TRUE(t.ShiftMonths(1));  // the day is not clamped
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.month, 2);
}

TEST(Shifts, AmountsBeyondAnyDateAreRefusedUnchanged) {
  const DateTime before = Make(2024, 5, 6, 7, 8, 9, 10);
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e19}) {
    DateTime t = before;
    EXPECT_FALSE(t.ShiftSeconds(bad));
    EXPECT_FALSE(t.ShiftDays(bad));
    EXPECT_FALSE(t.ShiftMonths(bad));
    EXPECT_FALSE(t.ShiftYears(bad));
    EXPECT_EQ(Ns(t), Ns(before));
  }
  DateTime far = Make(2000000000, 1, 1);
  EXPECT_FALSE(far.ShiftYears(1));
}

// Every real day is checked against the C library above; serial 60 is the fictitious
// 1900-02-29, which no nanosecond count holds.
TEST(ExcelSerials, TheFictitiousLeapDay) {
  DateTime t = Make(2000, 1, 1, 5, 6, 7);
  ASSERT_TRUE(t.FromExcelTime(60.25));
  EXPECT_EQ(t.ToString(), "02/29/1900 06:00:00.000000");
  EXPECT_DOUBLE_EQ(DateTime::Datetime64ToExcel(Ns(Make(1900, 3, 1))), 61);
}

// A serial made from a whole number of milliseconds converts back to exactly those
// milliseconds (a truncating conversion loses one for many of them), and a time just before
// midnight never becomes hour 24.
TEST(ExcelSerials, RoundToTheNearestUnit) {
  int64_t day = Ns(Make(2024, 6, 30));
  int wrong = 0;
  for (int64_t ms = 0; ms < 86400000; ms += 997) {
    int64_t ns = day + ms * 1000000;
    double serial = DateTime::Datetime64ToExcel(ns);
    if (DateTime::ExcelToDatetime64(serial) != ns) ++wrong;
    DateTime t;
    ASSERT_TRUE(t.FromExcelTime(serial));
    if (Ns(t) != ns) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  DateTime t;
  ASSERT_TRUE(t.FromExcelTime(45000.999999999999));
  EXPECT_EQ(t.ToString(), "03/16/2023 00:00:00.000000");
  ASSERT_TRUE(t.FromExcelTime(59.999999999999));
  EXPECT_EQ(t.ToString(), "02/29/1900 00:00:00.000000");
}

TEST(ExcelSerials, UnusableSerialsGiveNullOrRefusal) {
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e12}) {
    EXPECT_EQ(DateTime::ExcelToDatetime64(bad), _null_value_bigint) << bad;
    DateTime t = Make(2000, 1, 1);
    EXPECT_FALSE(t.FromExcelTime(bad));
    EXPECT_EQ(t.ToString(), "01/01/2000 00:00:00.000000");
  }
  // Serials past 2262-04-11 do not fit a nanosecond count.
  EXPECT_EQ(DateTime::ExcelToDatetime64(DateTime::Datetime64ToExcel(0) + 300000), _null_value_bigint);
}

TEST(Clocks, LocalClockAndOffsetAgreeWithTheCLibrary) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "XYZ-05:30", 1);  // 5 h 30 east of UTC, no daylight saving
  tzset();
  EXPECT_EQ(DateTime::NanosecondsToUTC(), (5 * 3600 + 30 * 60) * kNs);
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  DateTime t = DateTime::Now();
  int64_t expected = Timegm(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min, local.tm_sec);
  EXPECT_LE(std::llabs(Ns(t) / kNs - expected), 2);
  EXPECT_EQ(t.subsecond, 0);
  DateTime today = DateTime::Today();
  EXPECT_EQ(today.hour + today.minute + today.second + today.subsecond, 0);
  EXPECT_LE(std::llabs(Ns(today) / kNs - Timegm(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday)), 86400);
  DateTime utc = DateTime::Now_ns();
  EXPECT_LE(std::llabs(Ns(utc) / kNs - int64_t(std::time(nullptr))), 2);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

}  // namespace
