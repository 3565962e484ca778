// Date-time texts from cells and format codes from table files are untrusted. The input is
// read three ways: as a cell text to detect, as a cell text to parse against a few fixed
// layouts, and as a format code. Besides not crashing, a detected text must print in its
// own layout and parse back to the same fields, and an accepted format must describe itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "table/IO_Datetimes.h"

using namespace IO_Datetimes;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameFields(const DateTime& a, const DateTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.subsecond == b.subsecond;
}

void DetectAndReprint(const char* text, size_t size) {
  DatetimeParser detected;
  int consumed = -1;
  bool ok = detected.DetectDatetime(text, size, consumed);
  Check(consumed >= 0 && size_t(consumed) <= size);
  if (!ok) return;
  const DateTime& t = detected.dt;
  Check(t.ValidateDate() && t.year >= DatetimeParser::MinYear && t.year <= DatetimeParser::MaxYear);
  Check(t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
        t.second <= 59 && t.subsecond >= 0 && t.subsecond <= 999999999);
  int64_t ns;
  DateTime copy = t;
  copy.ToDatetime64_ns(ns);

  DateTimeSpec printer;
  static_cast<DatetimeLayout&>(printer) = detected;
  std::string printed = printer.DatetimeToString(t);
  DatetimeParser parser;
  parser.UseLayout(detected);
  Check(parser.ParseToDatetime(printed.data(), printed.size(), consumed));
  Check(size_t(consumed) == printed.size() && SameFields(parser.dt, t));
}

void ParseWithLayouts(const char* text, size_t size) {
  static const char* const kFormats[] = {"", "d/m/yy h:mm ampm", "yyyymmdd HHmmss",
                                         "mm-dd-yyyyTHH:mm:ss.nss"};
  for (const char* format : kFormats) {
    DateTimeSpec printer;
    Check(printer.Set(format));
    DatetimeParser parser;
    parser.UseLayout(printer);
    int consumed = -1;
    if (parser.ParseToDatetime(text, size, consumed)) Check(parser.dt.ValidateDate());
    Check(consumed >= 0 && size_t(consumed) <= size);
  }
}

void ReadFormat(const char* text, size_t size) {
  std::string format(text, size);
  DateTimeSpec printer;
  bool ok = printer.Set(format);
  Check(ok == printer.valid);
  std::string description = printer.Description();
  if (ok && size > 0) Check(description == format);
  DateTimeSpec again;
  Check(again.Set(description) && again.Description() == description);
  DateTime t;
  t.FromDatetime64_ns(int64_t(size) * 987654321987LL);
  Check(!printer.DatetimeToString(t).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  DetectAndReprint(text, size);
  ParseWithLayouts(text, size);
  ReadFormat(text, size);
  return 0;
}
