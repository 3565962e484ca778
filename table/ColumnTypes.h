// The column-type table, the storage types and their null cells.
//
// Every column of a table carries a type id 0..20 that indexes column_types_lookup. The row
// tells how the cells are stored (StorageId and ByteSize), whether the type is numeric,
// whether its text names a file, and the column-name suffix such columns conventionally
// carry. Only DATETIME (id 20) behaves differently from its storage type: its BIGINT cells
// are signed nanoseconds since 1970-01-01 00:00:00 without time zone (IO_Datetimes). All
// other code dispatches on StorageId.
//
// The table is one constant shared by the whole program; it needs no initialisation and may
// be read from any thread at any time, including from static initialisers.
#ifndef TVX_TABLE_COLUMNTYPES_H_
#define TVX_TABLE_COLUMNTYPES_H_

#include <cstdint>
#include <cstring>

// One row of column_types_lookup.
struct ColumnTypes {
  const char* TypeName;     // as written in logs and dumps
  uint32_t TypeId;          // the row's own index
  const char* StorageName;
  uint32_t StorageId;       // one of the StorageType codes
  uint32_t ByteSize;        // cell width; for TEXT storage the default maximum text length
  bool IsNumeric;
  bool IsFileRef;           // the text names a file
  const char* Suffix;       // conventional column-name suffix, "" for most types
};

// Storage type codes (ColumnTypes::StorageId).
enum StorageType : uint32_t {
  st_null = 1,      // no cell bytes at all
  st_int = 2,       // signed 32-bit
  st_bigint = 3,    // signed 64-bit (DATETIME too)
  st_float = 4,     // 32-bit IEEE
  st_bigfloat = 5,  // 64-bit IEEE
  st_text = 6,      // a text reference into the text block (table/TextCell.h)
};

constexpr int32_t kColumnTypeCount = 21;
constexpr int32_t kDatetimeTypeId = 20;

inline constexpr ColumnTypes column_types_lookup[kColumnTypeCount] = {
    {"DROP", 0, "NULL", st_null, 0, false, false, ""},
    {"NULL", 1, "NULL", st_null, 0, false, false, ""},
    {"INT", 2, "INT", st_int, 4, true, false, ""},
    {"BIG INT", 3, "BIGINT", st_bigint, 8, true, false, ""},
    {"FLOAT", 4, "FLOAT", st_float, 4, true, false, ""},
    {"BIG FLOAT", 5, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    // 65535, not 65536: a text cell's length is a 16-bit count.
    {"TEXT", 6, "TEXT", st_text, 65535, false, false, ""},
    {"IMAGE", 7, "TEXT", st_text, 1024, false, true, "_ImagePath"},
    {"LONGITUDE", 8, "BIGFLOAT", st_bigfloat, 8, true, false, "_Longitude"},
    {"LATITUDE", 9, "BIGFLOAT", st_bigfloat, 8, true, false, "_Latitude"},
    {"3DOBJECT", 10, "TEXT", st_text, 2048, false, true, ""},
    {"FILE", 11, "TEXT", st_text, 2048, false, true, "_File"},
    {"URL", 12, "TEXT", st_text, 2048, false, false, ""},
    {"XCORD", 13, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    {"YCORD", 14, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    {"ZCORD", 15, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    {"XPERC", 16, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    {"YPERC", 17, "BIGFLOAT", st_bigfloat, 8, true, false, ""},
    {"NOTE3D", 18, "TEXT", st_text, 4096, false, false, ""},
    {"NOTE2D", 19, "TEXT", st_text, 4096, false, false, ""},
    {"DATETIME", 20, "BIGINT", st_bigint, 8, true, false, ""},
};

// Type ids outside 0..20 have no row: schemas holding one must be rejected before any
// lookup.
inline constexpr bool IsValidColumnType(int32_t type_id) {
  return type_id >= 0 && type_id < kColumnTypeCount;
}

// Null cells. The integer nulls are the most negative values of their widths, so those
// values cannot be stored as numbers. The float nulls are the all-ones bit patterns (NaNs);
// any other NaN is an ordinary value, so nulls are always tested on the bits, never with ==.
constexpr int32_t _null_value_int = INT32_MIN;
constexpr int64_t _null_value_bigint = INT64_MIN;
constexpr uint32_t kNullFloatBits = 0xFFFFFFFFu;
constexpr uint64_t kNullBigFloatBits = 0xFFFFFFFFFFFFFFFFull;
constexpr float _null_value_float = __builtin_bit_cast(float, kNullFloatBits);
constexpr double _null_value_bigfloat = __builtin_bit_cast(double, kNullBigFloatBits);

// Cells lie unaligned in their blocks: every cell value, text offset and text length is
// read and written through these.
template <typename T>
inline T LoadCell(const char* cell) {
  T v;
  std::memcpy(&v, cell, sizeof v);
  return v;
}
template <typename T>
inline void StoreCell(char* cell, T value) {
  std::memcpy(cell, &value, sizeof value);
}

inline bool IsNullInt(int32_t v) { return v == _null_value_int; }
inline bool IsNullBigInt(int64_t v) { return v == _null_value_bigint; }
inline bool IsNullFloat(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits == kNullFloatBits;
}
inline bool IsNullBigFloat(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits == kNullBigFloatBits;
}

#endif  // TVX_TABLE_COLUMNTYPES_H_
