#include "table/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <chrono>
#include <limits>

#include "table/ColumnTypes.h"

namespace IO_Datetimes {

namespace {

// Division and remainder rounded toward minus infinity (b > 0), for counts before 1970.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0); }
int64_t FloorMod(int64_t a, int64_t b) { return a % b < 0 ? a % b + b : a % b; }

// Shifts beyond this many years, or from a year this far out, could overflow the fields.
constexpr double kMaxShiftYears = 10000;
constexpr int64_t kMaxShiftFromYear = 1000000000;

constexpr int64_t kMicrosPerDay = kSecondsPerDay * 1000000;
// Serial day of 1970-01-01; serials from 61 on count the fictitious 1900-02-29.
constexpr int64_t kExcelEpochSerial = 25569;
constexpr double kMaxExcelSerial = 1e7;

// A date's place in the 400-year Gregorian cycle, years counted from 1 March.
struct EraDays {
  int64_t era;  // 400-year cycle
  int64_t yoe;  // year of the era, 0..399
  int64_t doy;  // day of the year from 1 March, 0..365
  int64_t doe;  // day of the era, 0..146096
};

EraDays EraOfCivil(int64_t year, int64_t month, int64_t day) {
  EraDays e;
  int64_t y = month <= 2 ? year - 1 : year;
  e.era = FloorDiv(y, 400);
  e.yoe = y - e.era * 400;
  e.doy = (153 * (month <= 2 ? month + 9 : month - 3) + 2) / 5 + day - 1;
  e.doe = e.yoe * 365 + e.yoe / 4 - e.yoe / 100 + e.doy;
  return e;
}

EraDays EraOfDays(int64_t days) {
  EraDays e;
  int64_t z = days + 719468;
  e.era = FloorDiv(z, 146097);
  e.doe = z - e.era * 146097;
  e.yoe = (e.doe - e.doe / 1460 + e.doe / 36524 - e.doe / 146096) / 365;
  e.doy = e.doe - (365 * e.yoe + e.yoe / 4 - e.yoe / 100);
  return e;
}

void SetScratch(DateTime& t, const EraDays& e) {
  t.era = int32_t(e.era);
  t.yoe = int32_t(e.yoe);
  t.doy = int32_t(e.doy);
  t.doe = int32_t(e.doe);
}

int64_t SecondOfDay(const DateTime& t) { return t.hour * 3600LL + t.minute * 60LL + t.second; }

void SetTimeOfDay(DateTime& t, int64_t seconds) {
  t.hour = int32_t(seconds / 3600);
  t.minute = int32_t(seconds / 60 % 60);
  t.second = int32_t(seconds % 60);
}

void SetDate(DateTime& t, int64_t days) {
  int64_t year;
  CivilFromDays(days, year, t.month, t.day);
  t.year = int32_t(year);
}

int64_t DaysOf(const DateTime& t) { return DaysFromCivil(t.year, t.month, t.day); }

bool ShiftAllowed(const DateTime& t, double amount, double per_year) {
  return std::isfinite(amount) && std::fabs(amount) <= kMaxShiftYears * per_year &&
         t.year <= kMaxShiftFromYear && t.year >= -kMaxShiftFromYear;
}

// Moves the date by whole days, keeping the time of day.
void AddDays(DateTime& t, int64_t days) {
  if (days != 0) SetDate(t, DaysOf(t) + days);
}

// Adds seconds (any sign, any size) to the time of day, carrying whole days into the date.
void AddSeconds(DateTime& t, int64_t seconds) {
  int64_t total = SecondOfDay(t) + seconds;
  AddDays(t, FloorDiv(total, kSecondsPerDay));
  SetTimeOfDay(t, FloorMod(total, kSecondsPerDay));
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  EraDays e = EraOfCivil(year, month, day);
  return e.era * 146097 + e.doe - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  EraDays e = EraOfDays(days);
  int64_t mp = (5 * e.doy + 2) / 153;
  day = int(e.doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = e.yoe + e.era * 400 + (month <= 2);
}

void DateTime::Clear() {
  year = month = day = hour = minute = second = subsecond = 0;
}

void DateTime::FromDatetime64_ns(int64_t ns) {
  int64_t seconds = FloorDiv(ns, kNanosPerSecond);
  subsecond = int32_t(FloorMod(ns, kNanosPerSecond));
  int64_t days = FloorDiv(seconds, kSecondsPerDay);
  SetTimeOfDay(*this, FloorMod(seconds, kSecondsPerDay));
  SetDate(*this, days);
  SetScratch(*this, EraOfDays(days));
}

void DateTime::ToDatetime64_ns(int64_t& ns) {
  SetScratch(*this, EraOfCivil(year, month, day));
  // In 128 bits: the first storable second lies below the 64-bit range until its
  // sub-second is added.
  __int128 total = __int128(DaysOf(*this) * kSecondsPerDay + SecondOfDay(*this)) * kNanosPerSecond +
                   subsecond;
  bool fits = total > std::numeric_limits<int64_t>::min() && total <= std::numeric_limits<int64_t>::max();
  ns = fits ? int64_t(total) : _null_value_bigint;
}

std::string DateTime::ToString() const {
  char text[96];
  int n = std::snprintf(text, sizeof text, "%02i/%02i/%04i %02i:%02i:%02i.%06i", month, day,
                        year, hour, minute, second, subsecond / 1000);
  return std::string(text, size_t(n));
}

bool DateTime::IsLeapYear() const {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool DateTime::ValidateDate() const {
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, IsLeapYear());
}

int DateTime::DaysInMonth(int month, bool leap) {
  if (month < 1 || month > 12) return 0;
  if (0x15AA & (1 << month)) return 31;
  if (0x0A50 & (1 << month)) return 30;
  return leap ? 29 : 28;
}

bool DateTime::ShiftSeconds(double seconds) {
  if (!ShiftAllowed(*this, seconds, 366.0 * kSecondsPerDay)) return false;
  double whole = std::trunc(seconds);
  AddSeconds(*this, int64_t(whole));
  int64_t nanos = subsecond + int64_t((seconds - whole) * 1e9);
  AddSeconds(*this, FloorDiv(nanos, kNanosPerSecond));
  subsecond = int32_t(FloorMod(nanos, kNanosPerSecond));
  return true;
}

bool DateTime::ShiftDays(double days) {
  if (!ShiftAllowed(*this, days, 366.0)) return false;
  double whole = std::trunc(days);
  AddDays(*this, int64_t(whole));
  return ShiftSeconds((days - whole) * kSecondsPerDay);
}

bool DateTime::ShiftMonths(double months) {
  if (!ShiftAllowed(*this, months, 12.0)) return false;
  double whole = std::trunc(months);
  int64_t count = int64_t(year) * 12 + (month - 1) + int64_t(whole);
  year = int32_t(FloorDiv(count, 12));
  month = int32_t(FloorMod(count, 12)) + 1;
  return ShiftDays((months - whole) * DaysInMonth(month, IsLeapYear()));
}

bool DateTime::ShiftYears(double years) {
  if (!ShiftAllowed(*this, years, 1.0)) return false;
  double whole = std::trunc(years);
  year += int32_t(whole);
  return ShiftDays((years - whole) * (IsLeapYear() ? 366 : 365));
}

int DateTime::Weekday() const { return int(FloorMod(DaysOf(*this) + 4, 7)); }

double DateTime::Datetime64ToExcel(int64_t ns) {
  int64_t days = FloorDiv(ns, kNanosPerDay);
  double serial = double(days + kExcelEpochSerial - 1) +
                  double(FloorMod(ns, kNanosPerDay)) / double(kNanosPerDay);
  return serial >= 60 ? serial + 1 : serial;
}

int64_t DateTime::ExcelToDatetime64(double serial) {
  if (!std::isfinite(serial) || std::fabs(serial) > kMaxExcelSerial) return _null_value_bigint;
  if (serial >= 60) serial -= 1;
  double whole = std::floor(serial);
  int64_t ms = std::llround((serial - whole) * 8.64e7) +
               (int64_t(whole) - kExcelEpochSerial + 1) * kSecondsPerDay * 1000;
  int64_t ns;
  if (__builtin_mul_overflow(ms, int64_t(1000000), &ns) || ns == _null_value_bigint) {
    return _null_value_bigint;
  }
  return ns;
}

bool DateTime::FromExcelTime(double serial) {
  if (!std::isfinite(serial) || std::fabs(serial) > kMaxExcelSerial) return false;
  double whole = std::floor(serial);
  int64_t day_number = int64_t(whole);
  int64_t micros = std::llround((serial - whole) * double(kMicrosPerDay));
  if (micros >= kMicrosPerDay) {  // rounds up to the next midnight, never to hour 24
    micros -= kMicrosPerDay;
    ++day_number;
  }
  if (day_number == 60) {
    year = 1900;
    month = 2;
    day = 29;
  } else {
    SetDate(*this, day_number - kExcelEpochSerial + (day_number < 60 ? 1 : 0));
  }
  SetTimeOfDay(*this, micros / 1000000);
  subsecond = int32_t(micros % 1000000 * 1000);
  return true;
}

void DateTime::ToExcelTime(double& serial) const {
  int64_t n = DaysOf(*this) + kExcelEpochSerial;
  if (n < 61) --n;
  double micros = double(SecondOfDay(*this)) * 1e6 + subsecond / 1000;
  serial = double(n) + std::floor(micros / double(kMicrosPerDay) * 1e11 + 0.5) / 1e11;
}

namespace {

DateTime FromBrokenDown(const std::tm& tm) {
  DateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  return t;
}

int64_t SecondsSince1970(const std::tm& tm) {
  DateTime t = FromBrokenDown(tm);
  return DaysOf(t) * kSecondsPerDay + SecondOfDay(t);
}

}  // namespace

DateTime DateTime::Today() {
  DateTime t = Now();
  t.hour = t.minute = t.second = 0;
  return t;
}

DateTime DateTime::Now() {
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  return FromBrokenDown(local);
}

DateTime DateTime::Now_ns() {
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  DateTime t;
  t.FromDatetime64_ns(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
  return t;
}

int64_t DateTime::NanosecondsToUTC() {
  std::time_t now = std::time(nullptr);
  std::tm local, utc;
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
  return (SecondsSince1970(local) - SecondsSince1970(utc)) * kNanosPerSecond;
}

}  // namespace IO_Datetimes
