// Helpers shared by the date-time tests.
#ifndef TVX_TESTS_TABLE_DATETIME_UTIL_H_
#define TVX_TESTS_TABLE_DATETIME_UTIL_H_

#include <cstdint>
#include <string>

#include "table/DateTime.h"

namespace datetimetest {

IO_Datetimes::DateTime Make(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int subsecond = 0);

// The nanosecond cell of a date-time.
int64_t Ns(IO_Datetimes::DateTime t);

// Every value field as "yyyy-mm-dd hh:mm:ss.nnnnnnnnn", for comparisons with readable failures.
std::string Fields(const IO_Datetimes::DateTime& t);

}  // namespace datetimetest

#endif  // TVX_TESTS_TABLE_DATETIME_UTIL_H_
