#include "table/DateTimeFormat.h"

namespace IO_Datetimes {

namespace {

const char kDefaultFormat[] = "yyyy-mm-dd HH:mm:ss.uss";

// Reads one format code left to right; every method returns false at the first character
// the grammar does not allow there.
class FormatReader {
 public:
  FormatReader(const std::string& format, DateTimeSpec& out) : f_(format), out_(out) {}

  bool ReadFormat() {
    if (!ReadDate()) return false;
    if (AtEnd()) return true;
    return ReadTime() && AtEnd();
  }

 private:
  bool AtEnd() const { return pos_ == f_.size(); }
  char Peek(size_t ahead = 0) const { return pos_ + ahead < f_.size() ? f_[pos_ + ahead] : 0; }

  // Length of the run of `letter` at the cursor, which the run is moved past.
  size_t Run(char letter) {
    size_t start = pos_;
    while (Peek() == letter) ++pos_;
    return pos_ - start;
  }

  bool Accept(char c) {
    if (c == 0 || Peek() != c) return false;
    ++pos_;
    return true;
  }

  bool AcceptWord(const char* word, size_t length) {
    if (f_.compare(pos_, length, word) != 0) return false;
    pos_ += length;
    return true;
  }

  bool ReadYear() {
    size_t n = Run('y');
    if (n != 2 && n != 4) return false;
    out_.dateFlags |= n == 2 ? kYearTwoDigits : kYearFourDigits;
    return true;
  }

  // "d"/"dd" or "m"/"mm", whichever `letter` is.
  bool ReadDayOrMonth(char letter) {
    size_t n = Run(letter);
    if (n < 1 || n > 2) return false;
    if (letter == 'd') {
      out_.dateFlags |= kDayPresent | (n == 2 ? kDayTwoDigits : 0);
    } else {
      out_.dateFlags |= kMonthPresent | (n == 2 ? kMonthTwoDigits : 0);
    }
    return true;
  }

  // An optional '-' or '/', which becomes the date separator.
  void AcceptDateSep() {
    if (Peek() == '-' || Peek() == '/') out_.dateSep = f_[pos_++];
  }

  bool ReadDate() {
    bool year_first = Peek() == 'y';
    if (year_first) {
      if (!ReadYear() || AtEnd()) return false;
      out_.dateFlags |= kYearFirst;
      AcceptDateSep();
    }
    char first = Peek();
    if (first != 'd' && first != 'm') return false;
    if (first == 'd') out_.dateFlags |= kDayFirst;
    if (!ReadDayOrMonth(first) || AtEnd()) return false;
    if (!year_first) {
      AcceptDateSep();
    } else if (out_.dateSep != 0 && !Accept(out_.dateSep)) {
      return false;
    }
    if (!ReadDayOrMonth(first == 'd' ? 'm' : 'd')) return false;
    if (year_first || AtEnd()) return true;  // day and month first may omit the year
    if (out_.dateSep != 0 && !Accept(out_.dateSep)) return false;
    return ReadYear();
  }

  bool ReadTime() {
    if (Peek() == ' ' || Peek() == 'T') out_.dateTimeSep = f_[pos_++];
    char h = Peek();
    if (h != 'h' && h != 'H') return false;
    size_t n = Run(h);
    if (n > 2) return false;
    out_.timeFlags |= kHourPresent | (h == 'H' ? kClock24 : 0) | (n == 2 ? kHourTwoDigits : 0);
    if (Accept(':')) out_.timeSep = ':';
    n = Run('m');
    if (n < 1 || n > 2) return false;
    out_.timeFlags |= kMinutePresent | (n == 2 ? kMinuteTwoDigits : 0);
    if (out_.timeSep != 0 ? Peek() == ':' && Peek(1) == 's' : Peek() == 's') {
      if (out_.timeSep != 0) ++pos_;
      n = Run('s');
      if (n > 2) return false;
      out_.timeFlags |= kSecondPresent | (n == 2 ? kSecondTwoDigits : 0);
      if (AcceptWord(".mss", 4)) out_.timeFlags |= kFraction;
      else if (AcceptWord(".uss", 4)) out_.timeFlags |= kFraction | kFractionMicro;
      else if (AcceptWord(".nss", 4)) out_.timeFlags |= kFractionMask;
    }
    return AtEnd() || ReadAmpm();
  }

  bool ReadAmpm() {
    if (Accept(' ')) out_.ampmSep = ' ';
    if (AcceptWord("ampm", 4)) out_.timeFlags |= kAmpmLower;
    else if (AcceptWord("AMPM", 4)) out_.timeFlags |= kAmpmUpper;
    else return false;
    return true;
  }

  const std::string& f_;
  DateTimeSpec& out_;
  size_t pos_ = 0;
};

}  // namespace

bool DateTimeSpec::Set(const std::string& format) {
  Clear();
  if (format.empty()) return Set(kDefaultFormat);
  if (FormatReader(format, *this).ReadFormat()) {
    valid = true;
    return true;
  }
  Set(kDefaultFormat);
  valid = false;
  return false;
}

void DateTimeSpec::Clear() { *this = DateTimeSpec(); }

namespace {

// A printed date-time or format code. The buffer holds the longest possible one: eight
// 32-bit numbers of at most 11 characters, five separators and an am/pm token.
class Text {
 public:
  // A separator or letter; 0 (an absent separator) writes nothing.
  void Put(char c) {
    if (c != 0) buffer_[size_++] = c;
  }
  void Put(const char* s) {
    while (*s) buffer_[size_++] = *s++;
  }
  // v as printf's "%0<width>i" (width 1: "%i").
  void Number(int64_t v, int width) {
    char digits[24];
    int n = 0;
    uint64_t magnitude = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
    do {
      digits[n++] = char('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (v < 0) {
      Put('-');
      --width;
    }
    for (int pad = width - n; pad > 0; --pad) Put('0');
    while (n > 0) Put(digits[--n]);
  }
  std::string str() const { return std::string(buffer_, size_); }

 private:
  char buffer_[128];
  size_t size_ = 0;
};

}  // namespace

std::string DateTimeSpec::Description() const {
  Text out;
  if (HasDate()) {
    const char* tokens[3] = {(dateFlags & kYearTwoDigits) ? "yy" : "yyyy",
                             (dateFlags & kMonthTwoDigits) ? "mm" : "m",
                             (dateFlags & kDayTwoDigits) ? "dd" : "d"};
    DateField order[3];
    for (int i = 0, n = DateOrder(order); i < n; ++i) {
      if (i > 0) out.Put(dateSep);
      out.Put(tokens[order[i]]);
    }
  }
  if (HasTime()) {
    out.Put(dateTimeSep);
    out.Put((timeFlags & kClock24) ? ((timeFlags & kHourTwoDigits) ? "HH" : "H")
                                   : ((timeFlags & kHourTwoDigits) ? "hh" : "h"));
    out.Put(timeSep);
    out.Put((timeFlags & kMinuteTwoDigits) ? "mm" : "m");
    if (timeFlags & kSecondPresent) {
      out.Put(timeSep);
      out.Put((timeFlags & kSecondTwoDigits) ? "ss" : "s");
      static const char* const kFractions[] = {"", ".mss", ".uss", ".nss"};
      out.Put(kFractions[FractionDigits() / 3]);
    }
    if (timeFlags & kAmpm) {
      out.Put(ampmSep);
      out.Put((timeFlags & kAmpmLower) ? "ampm" : "AMPM");
    }
  }
  return out.str();
}

std::string DateTimeSpec::DatetimeToString(const DateTime& dt) const {
  Text out;
  if (HasDate()) {
    bool short_year = dateFlags & kYearTwoDigits;
    const int values[3] = {short_year ? dt.year % 100 : dt.year, dt.month, dt.day};
    const int widths[3] = {short_year ? 2 : 4, (dateFlags & kMonthTwoDigits) ? 2 : 1,
                           (dateFlags & kDayTwoDigits) ? 2 : 1};
    DateField order[3];
    for (int i = 0, n = DateOrder(order); i < n; ++i) {
      if (i > 0) out.Put(dateSep);
      out.Number(values[order[i]], widths[order[i]]);
    }
  }
  if (HasTime()) {
    out.Put(dateTimeSep);
    int hour = dt.hour;
    if (!(timeFlags & kClock24)) hour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
    out.Number(hour, (timeFlags & kHourTwoDigits) ? 2 : 1);
    out.Put(timeSep);
    out.Number(dt.minute, (timeFlags & kMinuteTwoDigits) ? 2 : 1);
    if (timeFlags & kSecondPresent) {
      out.Put(timeSep);
      out.Number(dt.second, (timeFlags & kSecondTwoDigits) ? 2 : 1);
      int digits = FractionDigits();
      if (digits > 0) {
        static const int kDivisors[] = {1, 1000000, 1000, 1};
        out.Put('.');
        out.Number(dt.subsecond / kDivisors[digits / 3], digits);
      }
    }
    if (timeFlags & kAmpm) {
      out.Put(ampmSep);
      bool am = dt.hour < 12;
      out.Put((timeFlags & kAmpmLower) ? (am ? "am" : "pm") : (am ? "AM" : "PM"));
    }
  }
  return out.str();
}

}  // namespace IO_Datetimes
