// The date-time library behind DATETIME columns: broken-down date-times and their
// nanosecond and spreadsheet-serial conversions (DateTime.h), display formats
// (DateTimeFormat.h) and recognition of date-time texts (DatetimeParser.h).
#ifndef TVX_TABLE_IO_DATETIMES_H_
#define TVX_TABLE_IO_DATETIMES_H_

#include "table/DateTime.h"
#include "table/DateTimeFormat.h"
#include "table/DatetimeParser.h"

#endif  // TVX_TABLE_IO_DATETIMES_H_
