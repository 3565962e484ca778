#pragma once

// An independent reader of the bytes the service puts on the link: a message is "BS="
// followed by a record-container image, and a table travels as records of a nested
// container. Written straight from the byte layouts, sharing no code with the service's
// own container and table classes, so that tests can check the wire bytes against it.
//
// The reader is strict: anything the service's writers never produce (a directory that
// does not chain record after record, a value whose length disagrees with its counts, a
// text cell outside the text block) is refused with a reason. It never reads outside the
// bytes it is given and never throws for bad input; only allocation failure propagates.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace testsupport {

// Record type codes, one byte in every record header.
namespace wire {
constexpr uint8_t kNone = 0;
constexpr uint8_t kInt8 = 1, kUInt8 = 2, kInt16 = 3, kUInt16 = 4, kInt32 = 5, kUInt32 = 6;
constexpr uint8_t kInt64 = 7, kUInt64 = 8, kFloat = 9, kDouble = 10;
constexpr uint8_t kString = 11;
constexpr uint8_t kInt8Vector = 18;      // .. kDoubleVector = 27, in scalar order
constexpr uint8_t kInt32Vector = 22, kDoubleVector = 27;
constexpr uint8_t kStringVector = 28;
constexpr uint8_t kInt8Vector2D = 35;    // .. kDoubleVector2D = 44, in scalar order
constexpr uint8_t kDoubleVector2D = 44;
constexpr uint8_t kStringVector2D = 45;
constexpr uint8_t kBuffer = 52, kStream = 53, kStreamVector = 54, kBufferVector = 55;
constexpr uint8_t kLastValid = 57;

// Width of the scalar of codes 1..10 (index by code); 0 for code 0.
constexpr uint8_t kScalarWidth[11] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

// The message prefix.
constexpr std::string_view kPrefix = "BS=";
}  // namespace wire

// One number as stored: signed codes give int64_t, unsigned codes uint64_t, floats double.
using WireNumber = std::variant<int64_t, uint64_t, double>;

struct WireContainer;

// One decoded record. Which members are filled depends on `type`:
//   scalars 1..10          numbers (one element)
//   string 11, buffer 52   texts (one element: the bytes)
//   number vector 18..27   numbers
//   string vector 28, buffer vector 55   texts
//   stream 53              containers (one element); stream vector 54: containers
//   2-D numbers 35..44     numberRows;  2-D strings 45: textRows
//   codes without a value layout   raw only
// `raw` always holds the value bytes.
struct WireRecord {
  uint8_t type = wire::kNone;
  std::string key;
  std::string raw;
  std::vector<WireNumber> numbers;
  std::vector<std::string> texts;
  std::vector<WireContainer> containers;
  std::vector<std::vector<WireNumber>> numberRows;
  std::vector<std::vector<std::string>> textRows;
};

// A decoded container: its records in image order (a key may repeat; lookups take the last).
struct WireContainer {
  std::vector<WireRecord> records;

  // The last record under `key`, or null.
  const WireRecord* Find(std::string_view key) const;
  // Typed shortcuts; false (output unchanged) when the key is missing or of another type.
  bool GetText(std::string_view key, std::string* out) const;        // code 11
  bool GetInt(std::string_view key, int64_t* out) const;             // signed codes 1,3,5,7
  const WireContainer* GetNested(std::string_view key) const;        // code 53
};

// Decodes a whole frame payload: "BS=" then an image. False with `error` set otherwise.
bool DecodeMessage(std::string_view payload, WireContainer* out, std::string* error);
// Decodes one container image (the bytes after the prefix, or a nested value).
bool DecodeContainer(std::string_view image, WireContainer* out, std::string* error);

// One cell of a column table: null, an integer (INT, BIG INT, DATETIME nanoseconds), a
// FLOAT, a BIG FLOAT or a text.
using WireCell = std::variant<std::monostate, int64_t, float, double, std::string>;

// A column table rebuilt from its records, rows in row order.
struct WireTable {
  std::string name;
  std::vector<std::string> colNames;
  std::vector<int32_t> colTypes;   // column type ids 0..20
  std::vector<int32_t> colSizes;
  std::vector<std::string> formatCodes;  // one per column format record; may be empty
  int64_t viewStart = -1;                // set only for a row-range view
  int64_t nbRowsTotal = -1;              // set only for a row-range view
  std::vector<std::vector<WireCell>> rows;

  // Index of the first column named `name`, or -1.
  int Column(std::string_view name) const;
};

// Rebuilds the table held by `container` (its "Name", "NbCols", "NbRows", "ColNames",
// "ColTypes", "ColSizes", "ColFormat", "cTile", "cMint" records) from the column-major
// cells and the text block. False with `error` set when a record is missing or the cells
// disagree with the schema.
bool DecodeTable(const WireContainer& container, WireTable* out, std::string* error);

// A cell as text: "NULL" for null, decimal integers, the shortest text that reads back as
// the same float or double, the text itself.
std::string CellText(const WireCell& cell);
// A whole row as texts.
std::vector<std::string> RowTexts(const std::vector<WireCell>& row);

}  // namespace testsupport
