// Cells back out: as text, as numbers, as raw bytes, and the null test.
#include <cmath>
#include <cstring>
#include <type_traits>

#include "table/MiniFrad.h"
#include "table/NumberText.h"

namespace {

// A float value as a 64-bit integer, toward zero; NaN, infinities and values outside the
// 64-bit range have no integer and give the null value.
int64_t TruncateToInt64(double v) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(v >= -kLimit && v < kLimit)) return _null_value_bigint;
  return static_cast<int64_t>(v);
}

// Hands the number in `cell` (null: no cell) to `convert` and stores the result in `out`: the
// INT, BIGINT, FLOAT or BIG FLOAT value itself, or with `serial` the spreadsheet serial of a
// DATETIME cell. Other storage gives `none` and false; no cell leaves `out` alone.
template <typename T, typename Convert>
bool ReadNumber(const char* cell, uint32_t storage, bool serial, T& out, T none,
                Convert convert) {
  if (cell == nullptr) return false;
  switch (storage) {
    case st_int:
      out = convert(LoadCell<int32_t>(cell));
      return true;
    case st_bigint:
      out = serial ? convert(IO_Datetimes::DateTime::Datetime64ToExcel(LoadCell<int64_t>(cell)))
                   : convert(LoadCell<int64_t>(cell));
      return true;
    case st_float:
      out = convert(LoadCell<float>(cell));
      return true;
    case st_bigfloat:
      out = convert(LoadCell<double>(cell));
      return true;
    default:
      out = none;
      return false;
  }
}

}  // namespace

bool MiniFrad::IsDatetime(int64_t col) const {
  return col >= 0 && col < NbCols && ColTypes[col] == kDatetimeTypeId;
}

bool MiniFrad::ToString(int64_t col, int64_t row, std::string& out) const {
  if (col < 0 || col >= NbCols) return false;
  const uint32_t storage = StorageOf(col);
  if (storage == st_null) {
    out = "NULL";
    return false;
  }
  const char* cell = GetCTilePtr(row, col);
  if (cell == nullptr) {
    out.clear();
    return false;
  }
  if (ValueIsNull(col, row)) {
    out = "NULL";
    return true;
  }
  switch (storage) {
    case st_int:
      out = std::to_string(LoadCell<int32_t>(cell));
      return true;
    case st_bigint:
      if (ColTypes[col] == kDatetimeTypeId) {
        IO_Datetimes::DateTime dt;
        dt.FromDatetime64_ns(LoadCell<int64_t>(cell));
        out = DateSpecs[col].DatetimeToString(dt);
      } else {
        out = std::to_string(LoadCell<int64_t>(cell));
      }
      return true;
    case st_float:
      FloatToString(LoadCell<float>(cell), out, 0, 6);
      return true;
    case st_bigfloat:
      DoubleToString(LoadCell<double>(cell), out, 0, 12);
      return true;
    case st_text: {
      uint16_t length = 0;
      const char* text = GetCMintPtr(row, col, length);
      if (text == nullptr) {
        out.clear();
        return false;
      }
      out.assign(text, length);
      return true;
    }
    default:
      return false;
  }
}

bool MiniFrad::ToStringVector(std::vector<std::string>& out, int64_t col, int64_t count,
                              const uint32_t* rows) const {
  if (col < 0 || col >= NbCols || (count > 0 && rows == nullptr)) return false;
  const int64_t n = count < 1 ? NbRows : count;
  if (static_cast<int64_t>(out.size()) < n) out.resize(static_cast<size_t>(n));
  const bool text = IsTextColumn(col);
  for (int64_t i = 0; i < n; ++i) {
    const int64_t row = count < 1 ? i : static_cast<int64_t>(rows[i]);
    std::string& cell = out[static_cast<size_t>(i)];
    if (!ToString(col, row, cell) && text && row < NbRows) cell = "ERROR";
  }
  return true;
}

bool MiniFrad::ToDouble(int64_t col, int64_t row, double& out, bool excel) const {
  return ReadNumber(GetCTilePtr(row, col), StorageOf(col), excel && IsDatetime(col), out,
                    _null_value_bigfloat, [](auto v) { return static_cast<double>(v); });
}

bool MiniFrad::ToInt64(int64_t col, int64_t row, int64_t& out, bool excel) const {
  return ReadNumber(GetCTilePtr(row, col), StorageOf(col), excel && IsDatetime(col), out,
                    _null_value_bigint, [](auto v) -> int64_t {
                      if constexpr (std::is_floating_point<decltype(v)>::value) {
                        return TruncateToInt64(v);
                      } else {
                        return v;
                      }
                    });
}

bool MiniFrad::ToBuffer(int64_t col, int64_t row, AppCore::CharBuffer& buffer) const {
  const char* cell = GetCTilePtr(row, col);
  if (cell == nullptr) return false;
  const char* bytes = cell;
  uint64_t size = 0;
  switch (StorageOf(col)) {
    case st_int:
    case st_float:
      size = 4;
      break;
    case st_bigint:
    case st_bigfloat:
      size = 8;
      break;
    case st_text: {
      uint16_t length = 0;
      bytes = GetCMintPtr(row, col, length);
      if (bytes == nullptr) return false;
      size = length;
      break;
    }
    default:
      return false;
  }
  buffer.Resize(static_cast<unsigned long>(size));
  MemCpy(buffer.data, bytes, size);
  return true;
}

bool MiniFrad::ValueIsNull(int64_t col, int64_t row) const {
  const char* cell = GetCTilePtr(row, col);
  if (cell == nullptr) return false;
  switch (StorageOf(col)) {
    case st_int:
      return IsNullInt(LoadCell<int32_t>(cell));
    case st_bigint:
      return IsNullBigInt(LoadCell<int64_t>(cell));
    case st_float:
      return IsNullFloat(LoadCell<float>(cell));
    case st_bigfloat:
      return IsNullBigFloat(LoadCell<double>(cell));
    case st_text: {
      uint16_t length = 0;
      const char* text = GetCMintPtr(row, col, length);
      return text != nullptr && IsNullText(text, length);
    }
    default:
      return false;
  }
}
