// Date-time texts: display formats, detection of unknown layouts, parsing against a known
// layout, and round trips between them.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "table/ColumnTypes.h"
#include "table/IO_Datetimes.h"
#include "table/datetime_util.h"

using namespace IO_Datetimes;
using datetimetest::Fields;
using datetimetest::Make;

namespace {

struct Detection {
  const char* text;
  bool ok;
  const char* fields;  // as Fields() prints them, when ok
  int consumed;
  uint8_t dateFlags;
  uint16_t timeFlags;
  char dateTimeSep;
  char ampmSep;
};

const Detection kDetections[] = {
    // Layouts and values.
    {"2024-02-29 13:05:09.5", true, "2024-02-29 13:05:09.500000000", 21, 0xCC, 0xF8, ' ', 0},
    {"12/31/99", true, "1999-12-31 00:00:00.000000000", 8, 0x2C, 0, 0, 0},
    {"13/01/49", true, "2049-01-13 00:00:00.000000000", 8, 0x3C, 0, 0, 0},
    {"1/1/50", true, "1950-01-01 00:00:00.000000000", 6, 0x2C, 0, 0, 0},
    {"1-13-2024", true, "2024-01-13 00:00:00.000000000", 9, 0x4C, 0, 0, 0},
    {"2024-13-05", true, "2024-05-13 00:00:00.000000000", 10, 0xDC, 0, 0, 0},
    {"2024-1-5T07:30", true, "2024-01-05 07:30:00.000000000", 14, 0xCC, 0xE0, 'T', 0},
    {"05-01-2024T07:30", true, "2024-05-01 07:30:00.000000000", 16, 0x4C, 0xE0, 'T', 0},
    {"  2024-01-05", true, "2024-01-05 00:00:00.000000000", 10, 0xCC, 0, 0, 0},
    // The limits of the year range.
    {"1678-01-01", true, "1678-01-01 00:00:00.000000000", 10, 0xCC, 0, 0, 0},
    {"2262-12-31 23:59", true, "2262-12-31 23:59:00.000000000", 16, 0xCC, 0xE0, ' ', 0},
    {"1677-12-31", false, nullptr, 4, 0, 0, 0, 0},
    {"2263-01-01", false, nullptr, 4, 0, 0, 0, 0},
    {"01/01/1677", false, nullptr, 10, 0, 0, 0, 0},
    // Am/pm.
    {"01/02/2024 07:30 PM", true, "2024-01-02 19:30:00.000000000", 19, 0x4C, 0x1060, ' ', ' '},
    {"01/02/2024 12:15 am", true, "2024-01-02 00:15:00.000000000", 19, 0x4C, 0x860, ' ', ' '},
    {"01/02/2024 12:15 pm", true, "2024-01-02 12:15:00.000000000", 19, 0x4C, 0x860, ' ', ' '},
    {"01/02/2024 12:15pm", true, "2024-01-02 12:15:00.000000000", 18, 0x4C, 0x860, ' ', 0},
    {"01/02/2024 00:15 AM  ", true, "2024-01-02 00:15:00.000000000", 21, 0x4C, 0x1060, ' ', ' '},
    {"01/02/2024 11:59:59 pm", true, "2024-01-02 23:59:59.000000000", 22, 0x4C, 0x870, ' ', ' '},
    {"01/02/2024 13:15 pm", false, nullptr, 19, 0, 0, 0, 0},
    {"01/02/2024 13:15 AM", false, nullptr, 19, 0, 0, 0, 0},
    {"01/02/2024 10:15 Am", true, "2024-01-02 10:15:00.000000000", 17, 0x4C, 0xE0, ' ', 0},
    {"01/02/2024 10:15  pm", true, "2024-01-02 10:15:00.000000000", 18, 0x4C, 0xE0, ' ', 0},
    // Fractions: any number of digits, nanoseconds kept.
    {"2024-01-05 10:30:05.000001", true, "2024-01-05 10:30:05.000001000", 26, 0xCC, 0xFC, ' ', 0},
    {"2024-01-05 10:30:05.1234567", true, "2024-01-05 10:30:05.123456700", 27, 0xCC, 0xFE, ' ', 0},
    {"2024-01-05 10:30:05.1234567891234", true, "2024-01-05 10:30:05.123456789", 33, 0xCC, 0xFE, ' ', 0},
    {"2024-01-05 10:30:05.99999999999999999999999999999", true, "2024-01-05 10:30:05.999999999", 49, 0xCC, 0xFE, ' ', 0},
    // What follows a date-time is left alone.
    {"2024-01-05x", true, "2024-01-05 00:00:00.000000000", 10, 0xCC, 0, 0, 0},
    {"2024-01-05   xyz", true, "2024-01-05 00:00:00.000000000", 13, 0xCC, 0, 0, 0},
    {"2024/01/05T10:30", true, "2024-01-05 00:00:00.000000000", 10, 0xCC, 0, 0, 0},
    {"2024-01-05 10:30:", true, "2024-01-05 10:30:00.000000000", 16, 0xCC, 0xE0, ' ', 0},
    {"2024-01-05 10:30:x", true, "2024-01-05 10:30:00.000000000", 16, 0xCC, 0xE0, ' ', 0},
    {"2024-01-05 10:30:05.", true, "2024-01-05 10:30:05.000000000", 19, 0xCC, 0xF0, ' ', 0},
    // Days that do not exist in their month.
    {"2023-02-31", false, nullptr, 10, 0, 0, 0, 0},
    {"2023-02-29", false, nullptr, 10, 0, 0, 0, 0},
    {"2024-02-29", true, "2024-02-29 00:00:00.000000000", 10, 0xCC, 0, 0, 0},
    {"31/04/2024", false, nullptr, 10, 0, 0, 0, 0},
    {"2/30/00", false, nullptr, 7, 0, 0, 0, 0},
    // Two-digit years, including 00.
    {"1/1/00", true, "2000-01-01 00:00:00.000000000", 6, 0x2C, 0, 0, 0},
    {"02/29/00", true, "2000-02-29 00:00:00.000000000", 8, 0x2C, 0, 0, 0},
    {"1/1/999", false, nullptr, 7, 0, 0, 0, 0},
    // Malformed numbers and fields.
    {"2024-01-05 10:-5", false, nullptr, 14, 0, 0, 0, 0},
    {"2024-01-05 -1:30", true, "2024-01-05 00:00:00.000000000", 11, 0xCC, 0, 0, 0},
    {"2024-01-05 24:00", false, nullptr, 13, 0, 0, 0, 0},
    {"2024-01-05 10:60", false, nullptr, 16, 0, 0, 0, 0},
    {"2024-01-05 10:30:60", false, nullptr, 19, 0, 0, 0, 0},
    {"2024-01-05 100:30", false, nullptr, 14, 0, 0, 0, 0},
    {"2024-01-05 10", false, nullptr, 13, 0, 0, 0, 0},
    {"001/01/2024", false, nullptr, 3, 0, 0, 0, 0},
    {"32/01/2024", false, nullptr, 2, 0, 0, 0, 0},
    {"00/01/2024", false, nullptr, 2, 0, 0, 0, 0},
    {"-1/01/2024", false, nullptr, 0, 0, 0, 0, 0},
    {"12.01.2024", false, nullptr, 2, 0, 0, 0, 0},
    {"2024-00-05", false, nullptr, 7, 0, 0, 0, 0},
    {"2024-05/06", false, nullptr, 7, 0, 0, 0, 0},
    {"99999999999999999999999-01-01", false, nullptr, 23, 0, 0, 0, 0},
    {"1/1/2", false, nullptr, 0, 0, 0, 0, 0},
    {"        ", false, nullptr, 0, 0, 0, 0, 0},
    {"", false, nullptr, 0, 0, 0, 0, 0},
};

TEST(DetectDatetime, Table) {
  for (const Detection& d : kDetections) {
    SCOPED_TRACE(d.text);
    DatetimeParser p;
    int consumed = -1;
    ASSERT_EQ(p.DetectDatetime(d.text, std::strlen(d.text), consumed), d.ok);
    EXPECT_EQ(consumed, d.consumed);
    if (!d.ok) continue;
    EXPECT_EQ(Fields(p.dt), d.fields);
    EXPECT_EQ(p.dateFlags, d.dateFlags);
    EXPECT_EQ(p.timeFlags, d.timeFlags);
    EXPECT_EQ(p.dateTimeSep, d.dateTimeSep);
    EXPECT_EQ(p.ampmSep, d.ampmSep);
  }
}

TEST(DetectDatetime, OnlyTheGivenLengthIsRead) {
  const char text[] = "2024-01-05 10:30:45 tail";
  DatetimeParser p;
  int consumed;
  ASSERT_TRUE(p.DetectDatetime(text, 16, consumed));
  EXPECT_EQ(Fields(p.dt), "2024-01-05 10:30:00.000000000");
  EXPECT_EQ(consumed, 16);
  ASSERT_FALSE(p.DetectDatetime(text, 12, consumed));  // "2024-01-05 1": the time needs ':'
  // A refused text leaves no layout behind from an earlier detection.
  ASSERT_FALSE(p.DetectDatetime("13/13/2024", 10, consumed));
  ASSERT_TRUE(p.DetectDatetime("2024-01-05", 10, consumed));
  EXPECT_EQ(p.timeFlags, 0);
  EXPECT_EQ(p.dateTimeSep, 0);
}

TEST(DetectDatetime, TextsPastTheNanosecondRangeBecomeNull) {
  DatetimeParser p;
  int consumed;
  int64_t ns;
  ASSERT_TRUE(p.DetectDatetime("2262-04-11 23:47:16.854775807", 29, consumed));
  p.dt.ToDatetime64_ns(ns);
  EXPECT_EQ(ns, INT64_MAX);
  ASSERT_TRUE(p.DetectDatetime("2262-04-11 23:47:16.854775808", 29, consumed));
  p.dt.ToDatetime64_ns(ns);
  EXPECT_EQ(ns, _null_value_bigint);
  ASSERT_TRUE(p.DetectDatetime("2262-12-31", 10, consumed));
  p.dt.ToDatetime64_ns(ns);
  EXPECT_EQ(ns, _null_value_bigint);
  ASSERT_TRUE(p.DetectDatetime("1678-01-01", 10, consumed));
  p.dt.ToDatetime64_ns(ns);
  EXPECT_EQ(ns, -9214560000LL * 1000000000LL);
}

TEST(DateTimeSpec, ValidFormatsDescribeThemselves) {
  const char* formats[] = {
      "yyyy-mm-dd HH:mm:ss.uss", "yyyy-mm-dd", "yyyy/dd/mm", "yyyymmdd", "yyyy-m-dTHH:mm",
      "yy-mm-dd HH:mm", "dd/mm/yyyy", "d/m/yy h:mm ampm", "d/m/yy h:mmampm", "m-d", "dd/mm",
      "ddmmyy", "mmddyyyy HHmmss", "mm/dd/yyyy hh:mm:ss.mss AMPM", "dd-mm-yyyy H:m:s.nss",
      "yyyy-mm-ddHH:mm", "m/d/yyyy h:mm AMPM", "dd.mm"};
  for (const char* f : formats) {
    DateTimeSpec format;
    bool ok = format.Set(f);
    if (std::string(f) == "dd.mm") {
      EXPECT_FALSE(ok);
      continue;
    }
    EXPECT_TRUE(ok) << f;
    EXPECT_TRUE(format.valid) << f;
    EXPECT_EQ(format.Description(), f);
  }
}

TEST(DateTimeSpec, InvalidFormatsFallBackToTheDefault) {
  const char* formats[] = {
      "yyyy", "yyy-mm-dd", "yyyyy-mm-dd", "HH:mm", "ddd/mm", "dd/mm/yyyy HH", "d",
      "dd/mm/yyyy HH:mm:sss", "dd-mm/yyyy", "yyyy-mm-dd HH:mm ampmx", "yyyy-mm-dd HH:mm xx",
      "yyyy-mm-dd  HH:mm", "yyyy-mm", "dd/mm/", "dd/mm yyyy", "yyyy-mm-dd HH:mm:ss.xss",
      "yyyy-mm-dd HH:mm:ss.mss.", "mm/dd/yyyy hh:mm ampm AMPM", "yyyy-dd-dd", "yyyy-mm-dd HH:mm:",
      "mm/dd/yyyy hh:mm Ampm", "yyyy-mm-dd HH:mm.mss", "dd/mm/yy/", "dd/mm/yy HHH:mm", "x"};
  const DateTime t = Make(2024, 2, 29, 13, 5, 9, 500000000);
  for (const char* f : formats) {
    DateTimeSpec format;
    EXPECT_FALSE(format.Set(f)) << f;
    EXPECT_FALSE(format.valid) << f;
    EXPECT_EQ(format.Description(), "yyyy-mm-dd HH:mm:ss.uss") << f;
    EXPECT_EQ(format.DatetimeToString(t), "2024-02-29 13:05:09.500000") << f;
  }
  DateTimeSpec format;
  EXPECT_TRUE(format.Set(""));
  EXPECT_EQ(format.Description(), "yyyy-mm-dd HH:mm:ss.uss");
  format.Clear();
  EXPECT_EQ(format.DatetimeToString(t), "");
}

TEST(DateTimeSpec, Printing) {
  struct Case {
    const char* format;
    DateTime t;
    const char* text;
  };
  const Case cases[] = {
      {"d/m/yy h:mm ampm", Make(2024, 3, 5, 0, 7), "5/3/24 12:07 am"},
      {"d/m/yy h:mmampm", Make(2024, 3, 5, 0, 7), "5/3/24 12:07am"},
      {"d/m/yy h:mm AMPM", Make(2024, 3, 5, 12, 7), "5/3/24 12:07 PM"},
      {"dd/mm/yy hh:mm AMPM", Make(2000, 3, 5, 23, 59), "05/03/00 11:59 PM"},
      {"mm-dd-yyyy HH:mm:ss.mss", Make(987, 12, 1, 9, 8, 7, 6543210), "12-01-0987 09:08:07.006"},
      {"yyyy-mm-dd HH:mm:ss.nss", Make(2024, 1, 2, 3, 4, 5, 6), "2024-01-02 03:04:05.000000006"},
      {"yyyymmdd", Make(2024, 1, 2), "20240102"},
      {"yyyy-m-dTH:m:s", Make(2024, 1, 2, 3, 4, 5), "2024-1-2T3:4:5"},
      {"dd/mm", Make(2024, 1, 2), "02/01"},
      {"", Make(2024, 2, 29, 13, 5, 9, 500000000), "2024-02-29 13:05:09.500000"},
  };
  for (const Case& c : cases) {
    DateTimeSpec format;
    format.Set(c.format);
    EXPECT_EQ(format.DatetimeToString(c.t), c.text) << c.format;
  }
}

struct Parse {
  const char* format;
  const char* text;
  bool ok;
  const char* fields;
};

const Parse kParses[] = {
    {"dd/mm/yyyy HH:mm:ss", "05/03/2024 07:08:09", true, "2024-03-05 07:08:09.000000000"},
    {"dd/mm/yyyy HH:mm:ss", "  05/03/2024 07:08:09  ", true, "2024-03-05 07:08:09.000000000"},
    {"dd/mm/yyyy HH:mm:ss", "5/03/2024 07:08:09", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "05-03-2024 07:08:09", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "31/02/2024 07:08:09", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "05/03/24 07:08:09", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "05/03/2024 07:08", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "05/03/2024T07:08:09", false, nullptr},
    {"dd/mm/yyyy HH:mm:ss", "05/03/1677 07:08:09", false, nullptr},
    {"d/m/yy h:mm ampm", "5/3/24 12:07 am", true, "2024-03-05 00:07:00.000000000"},
    {"d/m/yy h:mm ampm", "5/3/24 1:07 pm", true, "2024-03-05 13:07:00.000000000"},
    {"d/m/yy h:mm ampm", "5/3/00 12:07 pm", true, "2000-03-05 12:07:00.000000000"},
    {"d/m/yy h:mm ampm", "5/3/24 0:07 am", false, nullptr},
    {"d/m/yy h:mm ampm", "5/3/24 13:07 pm", false, nullptr},
    {"d/m/yy h:mm ampm", "5/3/24 1:07 PM", false, nullptr},
    {"d/m/yy h:mm ampm", "5/3/24 1:07pm", false, nullptr},
    {"d/m/yy h:mm ampm", "5/3/24 1:07 xm", false, nullptr},
    {"yyyymmdd", "20240305", true, "2024-03-05 00:00:00.000000000"},
    {"yyyymmdd", "2024035", false, nullptr},
    {"ddmmyyyy HHmm", "05032024 0709", true, "2024-03-05 07:09:00.000000000"},
    {"yyyy-mm-dd HH:mm:ss.mss", "2024-03-05 10:11:12.5", true, "2024-03-05 10:11:12.500000000"},
    {"yyyy-mm-dd HH:mm:ss.mss", "2024-03-05 10:11:12.123456789999", true, "2024-03-05 10:11:12.123456789"},
    {"yyyy-mm-dd HH:mm:ss.mss", "2024-03-05 10:11:12", false, nullptr},
    {"yyyy-mm-dd HH:mm:ss.mss", "2024-03-05 10:11:12.", false, nullptr},
    {"dd/mm", "29/02", false, nullptr},
    {"dd/mm", "28/02", true, "1970-02-28 00:00:00.000000000"},
};

TEST(ParseToDatetime, AgainstAFormatsLayout) {
  for (const Parse& c : kParses) {
    SCOPED_TRACE(std::string(c.format) + " | " + c.text);
    DateTimeSpec format;
    ASSERT_TRUE(format.Set(c.format));
    DatetimeParser p;
    p.UseLayout(format);
    int consumed;
    ASSERT_EQ(p.ParseToDatetime(c.text, std::strlen(c.text), consumed), c.ok);
    if (c.ok) {
      EXPECT_EQ(Fields(p.dt), c.fields);
      EXPECT_EQ(size_t(consumed), std::strlen(c.text) - std::strspn(c.text, " "));
    }
  }
}

// Random instants of the whole year range, printed with nanoseconds, come back exactly by
// detection and by parsing with the format's layout.
TEST(RoundTrip, RandomNanosecondsThroughText) {
  std::mt19937_64 random(1234);
  const int64_t lo = -9214560000LL * 1000000000LL;  // 1678-01-01
  DateTimeSpec format;
  ASSERT_TRUE(format.Set("yyyy-mm-dd HH:mm:ss.nss"));
  DatetimeParser layout;
  layout.UseLayout(format);
  for (int i = 0; i < 100000; ++i) {
    int64_t ns = int64_t(uint64_t(lo) + random() % (uint64_t(INT64_MAX) - uint64_t(lo)));
    DateTime t;
    t.FromDatetime64_ns(ns);
    std::string text = format.DatetimeToString(t);
    DatetimeParser p;
    int consumed;
    int64_t back;
    ASSERT_TRUE(p.DetectDatetime(text.data(), text.size(), consumed)) << text;
    p.dt.ToDatetime64_ns(back);
    ASSERT_EQ(back, ns) << text;
    ASSERT_EQ(consumed, int(text.size()));
    ASSERT_TRUE(layout.ParseToDatetime(text.data(), text.size(), consumed)) << text;
    layout.dt.ToDatetime64_ns(back);
    ASSERT_EQ(back, ns) << text;
  }
}

// Every layout that detection finds prints texts that parse back to the same values.
TEST(RoundTrip, DetectedLayoutsPrintAndParseBack) {
  std::mt19937 random(99);
  const char* texts[] = {"2024-02-29 13:05:09.5", "12/31/99", "13/01/49 7:05 pm",
                         "2024-1-5T07:30", "01/02/2024 12:15:59.123456am", "1/1/00 0:00:00.1234567"};
  for (const char* text : texts) {
    DatetimeParser detected;
    int consumed;
    ASSERT_TRUE(detected.DetectDatetime(text, std::strlen(text), consumed)) << text;
    DateTimeSpec format;
    static_cast<DatetimeLayout&>(format) = detected;
    for (int i = 0; i < 2000; ++i) {
      DateTime t = Make(1950 + int(random() % 100), 1 + int(random() % 12), 1 + int(random() % 28),
                        int(random() % 24), int(random() % 60), int(random() % 60),
                        int(random() % 1000) * 1000000);
      if (!(format.timeFlags & kSecondPresent)) t.second = 0;
      if (!(format.timeFlags & kFraction)) t.subsecond = 0;
      if (!format.HasTime()) t.hour = t.minute = 0;
      std::string printed = format.DatetimeToString(t);
      DatetimeParser parser;
      parser.UseLayout(detected);
      ASSERT_TRUE(parser.ParseToDatetime(printed.data(), printed.size(), consumed)) << printed;
      ASSERT_EQ(Fields(parser.dt), Fields(t)) << printed;
      // Detection reads a first number up to 12 as the month.
      if ((format.dateFlags & kDayFirst) && !(format.dateFlags & kYearFirst) && t.day <= 12) continue;
      ASSERT_TRUE(parser.DetectDatetime(printed.data(), printed.size(), consumed)) << printed;
      ASSERT_EQ(Fields(parser.dt), Fields(t)) << printed;
    }
  }
}

}  // namespace
