#include "table/datetime_util.h"

#include <cstdio>

namespace datetimetest {

IO_Datetimes::DateTime Make(int year, int month, int day, int hour, int minute, int second,
                            int subsecond) {
  IO_Datetimes::DateTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.subsecond = subsecond;
  return t;
}

int64_t Ns(IO_Datetimes::DateTime t) {
  int64_t ns;
  t.ToDatetime64_ns(ns);
  return ns;
}

std::string Fields(const IO_Datetimes::DateTime& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%09d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.subsecond);
  return text;
}

}  // namespace datetimetest
