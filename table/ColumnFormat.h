// Per-column presentation record of a table.
//
// Only Code is interpreted by this system: for a DATETIME column it is the date-time format
// from which the column's IO_Datetimes::DateTimeSpec is built (empty: the default format).
// The other fields are carried through table images unchanged.
#ifndef TVX_TABLE_COLUMNFORMAT_H_
#define TVX_TABLE_COLUMNFORMAT_H_

#include <cstdint>
#include <string>
#include <vector>

class ByteStream;

struct ColumnFormat {
  std::string Code;
  std::string Formula;
  std::vector<int32_t> Theme;
  std::string Reference;
  std::string DisplayName;

  // A new container holding the records "Code", "Formula" (strings), "Theme" (32-bit integer
  // vector), "Reference" and "DisplayName" (strings), added in that order; a table image
  // stores one per column and reads them back under the same keys.
  ByteStream ToByteStream() const;
};

#endif  // TVX_TABLE_COLUMNFORMAT_H_
