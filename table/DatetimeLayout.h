// IO_Datetimes::DatetimeLayout: which date and time fields a date-time text holds, in which
// order, with which separators and digit counts. Shared by DateTimeSpec (printing) and
// DatetimeParser (recognising and parsing), so a layout detected in a text can be printed
// and a printed layout parsed.
#ifndef TVX_TABLE_DATETIMELAYOUT_H_
#define TVX_TABLE_DATETIMELAYOUT_H_

#include <cstdint>

namespace IO_Datetimes {

// dateFlags bits.
constexpr uint8_t kDayTwoDigits = 0x01;
constexpr uint8_t kMonthTwoDigits = 0x02;
constexpr uint8_t kDayPresent = 0x04;
constexpr uint8_t kMonthPresent = 0x08;
constexpr uint8_t kDayFirst = 0x10;  // day before month
constexpr uint8_t kYearTwoDigits = 0x20;
constexpr uint8_t kYearFourDigits = 0x40;
constexpr uint8_t kYearFirst = 0x80;
constexpr uint8_t kYearPresent = kYearTwoDigits | kYearFourDigits;
constexpr uint8_t kDatePresent = kDayPresent | kMonthPresent;

// timeFlags bits.
constexpr uint16_t kFraction = 0x08;        // milliseconds
constexpr uint16_t kFractionMicro = 0x04;   // with kFraction: at least microseconds
constexpr uint16_t kFractionNano = 0x02;    // with both: nanoseconds
constexpr uint16_t kFractionMask = 0x0E;
constexpr uint16_t kSecondPresent = 0x10;
constexpr uint16_t kMinutePresent = 0x20;
constexpr uint16_t kHourPresent = 0x40;
constexpr uint16_t kClock24 = 0x80;         // clear: 12-hour clock
constexpr uint16_t kSecondTwoDigits = 0x100;
constexpr uint16_t kMinuteTwoDigits = 0x200;
constexpr uint16_t kHourTwoDigits = 0x400;
constexpr uint16_t kAmpmLower = 0x800;
constexpr uint16_t kAmpmUpper = 0x1000;
constexpr uint16_t kTimePresent = kHourPresent | kMinutePresent;
constexpr uint16_t kAmpm = kAmpmLower | kAmpmUpper;

enum DateField { kYearField, kMonthField, kDayField };

struct DatetimeLayout {
  char dateSep = 0;      // '-' or '/', 0 for none
  char dateTimeSep = 0;  // ' ' or 'T', 0 for none
  char timeSep = 0;      // ':' or 0
  char ampmSep = 0;      // ' ' or 0
  uint8_t dateFlags = 0;
  uint16_t timeFlags = 0;

  bool HasDate() const { return (dateFlags & kDatePresent) == kDatePresent; }
  bool HasTime() const { return (timeFlags & kTimePresent) == kTimePresent; }
  // The date fields in text order; returns their count (2 for a date without year).
  int DateOrder(DateField order[3]) const {
    bool day_first = dateFlags & kDayFirst;
    int n = 0;
    if (dateFlags & kYearFirst) order[n++] = kYearField;
    order[n++] = day_first ? kDayField : kMonthField;
    order[n++] = day_first ? kMonthField : kDayField;
    if (!(dateFlags & kYearFirst) && (dateFlags & kYearPresent)) order[n++] = kYearField;
    return n;
  }

  // Number of fraction digits printed: 0, 3, 6 or 9.
  int FractionDigits() const {
    if (!(timeFlags & kFraction)) return 0;
    if (!(timeFlags & kFractionMicro)) return 3;
    return (timeFlags & kFractionNano) ? 9 : 6;
  }
};

}  // namespace IO_Datetimes

#endif  // TVX_TABLE_DATETIMELAYOUT_H_
