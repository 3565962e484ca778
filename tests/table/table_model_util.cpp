#include "table/table_model_util.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#include <gtest/gtest.h>

namespace tablemodel {
namespace {

uint32_t StorageOf(int32_t type) { return column_types_lookup[type].StorageId; }

RefCell Value(uint64_t bits) {
  RefCell c;
  c.null = false;
  c.bits = bits;
  return c;
}

RefCell Null() { return RefCell(); }

template <typename T>
uint64_t BitsOf(T v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  return bits;
}

std::pair<std::string, RefCell> IntegerCell(std::mt19937_64& rng, bool wide) {
  const int64_t max = wide ? INT64_MAX : INT32_MAX;
  const uint64_t mask = wide ? ~0ull : 0xFFFFFFFFull;
  switch (rng() % 8) {
    case 0:
      return {std::to_string(max), Value(static_cast<uint64_t>(max) & mask)};
    case 1:  // the most negative value parses and is the null cell
      return {wide ? "-9223372036854775808" : "-2147483648", Null()};
    case 2:
      return {wide ? "9223372036854775808" : "2147483648", Null()};
    case 3:
      return {wide ? "-9223372036854775809" : "-2147483649", Null()};
    case 4: {
      const char* bad[] = {"12a", "", " 1", "+1", "-", "1.0", "0x1"};
      return {bad[rng() % 7], Null()};
    }
    default: {
      int64_t v = static_cast<int64_t>(rng());
      if (!wide) v = static_cast<int32_t>(v);
      if (v == (wide ? INT64_MIN : INT32_MIN)) v = 0;
      return {std::to_string(v), Value(static_cast<uint64_t>(v) & mask)};
    }
  }
}

std::pair<std::string, RefCell> FloatCell(std::mt19937_64& rng, bool wide) {
  char text[64];
  switch (rng() % 6) {
    case 0:
      return {"inf", Value(wide ? BitsOf(HUGE_VAL) : BitsOf(HUGE_VALF))};
    case 1:
      return {(rng() & 1) ? "" : "1.5x", Null()};
    default:
      break;
  }
  if (wide) {
    double v;
    do {
      uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
    } while (!std::isfinite(v));
    std::snprintf(text, sizeof text, "%.17g", v);
    return {text, Value(BitsOf(v))};
  }
  float v;
  do {
    uint32_t bits = static_cast<uint32_t>(rng());
    std::memcpy(&v, &bits, sizeof v);
  } while (!std::isfinite(v));
  std::snprintf(text, sizeof text, "%.9g", v);
  return {text, Value(BitsOf(v))};
}

std::pair<std::string, RefCell> DatetimeCell(std::mt19937_64& rng) {
  if (rng() % 5 == 0) return {"not a date", Null()};
  // 1900-01-01 .. 2199-12-31, formatted by the C library as the oracle.
  const int64_t first = -2208988800LL;
  const int64_t seconds = first + static_cast<int64_t>(rng() % (300ull * 365 * 86400));
  const int64_t micros = static_cast<int64_t>(rng() % 1000000);
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06" PRId64, micros);
  return {std::string(text) + fraction,
          Value(static_cast<uint64_t>(seconds * 1000000000 + micros * 1000))};
}

std::pair<std::string, RefCell> TextCell(std::mt19937_64& rng, const RefColumn& col) {
  const uint64_t limit = static_cast<uint64_t>(col.size);
  uint64_t length;
  switch (rng() % 10) {
    case 0:
      length = 0;
      break;
    case 1:  // over-long: cut to the column's size
      length = (limit > 1000 && rng() % 20 != 0) ? 30 : limit + 1 + rng() % 5;
      break;
    default:
      length = rng() % std::min<uint64_t>(limit + 1, 24);
  }
  std::string text;
  for (uint64_t i = 0; i < length; ++i) text += static_cast<char>(rng() % 256);
  if (rng() % 12 == 0) text = std::string(1, '\0');  // reads back as a null text
  if (rng() % 12 == 0) text = "0";                     // one character, not null
  RefCell cell = Value(0);
  cell.text = text.substr(0, std::min<uint64_t>(text.size(), limit));
  return {text, cell};
}

}  // namespace

void RefTable::AddRow(const std::vector<RefCell>& cells) {
  for (size_t c = 0; c < cols.size(); ++c) cols[c].cells.push_back(cells[c]);
  ++rows;
}

void RefTable::DeleteRows(const std::vector<int64_t>& indices) {
  std::set<int64_t> gone;
  for (int64_t i : indices) {
    if (i >= 0 && i < rows) gone.insert(i);
  }
  for (RefColumn& col : cols) {
    std::vector<RefCell> kept;
    for (int64_t r = 0; r < rows; ++r) {
      if (!gone.count(r)) kept.push_back(col.cells[r]);
    }
    col.cells = kept;
  }
  rows -= static_cast<int64_t>(gone.size());
}

void RefTable::DropLastRows(int64_t n) {
  rows = std::max<int64_t>(rows - n, 0);
  for (RefColumn& col : cols) col.cells.resize(static_cast<size_t>(rows));
}

void RefTable::DeleteColumns(const std::vector<int64_t>& indices) {
  std::set<int64_t> gone(indices.begin(), indices.end());
  std::vector<RefColumn> kept;
  for (size_t c = 0; c < cols.size(); ++c) {
    if (!gone.count(static_cast<int64_t>(c))) kept.push_back(cols[c]);
  }
  cols = kept;
}

void RefTable::Clear() { DropLastRows(rows); }

std::pair<std::string, RefCell> RandomCell(std::mt19937_64& rng, const RefColumn& col) {
  if (col.type == kDatetimeTypeId) return DatetimeCell(rng);
  switch (StorageOf(col.type)) {
    case st_int:
      return IntegerCell(rng, false);
    case st_bigint:
      return IntegerCell(rng, true);
    case st_float:
      return FloatCell(rng, false);
    case st_bigfloat:
      return FloatCell(rng, true);
    case st_text:
      return TextCell(rng, col);
    default:
      return {"ignored", Null()};
  }
}

void AddRandomRow(std::mt19937_64& rng, MiniFrad& t, RefTable& ref) {
  std::vector<std::string> texts;
  std::vector<RefCell> cells;
  for (const RefColumn& col : ref.cols) {
    auto cell = RandomCell(rng, col);
    texts.push_back(cell.first);
    cells.push_back(cell.second);
  }
  EXPECT_TRUE(t.AddRow(texts));
  ref.AddRow(cells);
}

RefCell MissingCell(const RefColumn& col) {
  RefCell cell;
  if (StorageOf(col.type) == st_text) cell.text = std::string(1, '\0');
  return cell;
}

int32_t RandomType(std::mt19937_64& rng) {
  static const int32_t kTypes[] = {1, 2, 3, 4, 5, 6, 6, 7, 8, 12, 19, 20, 6, 11};
  return kTypes[rng() % (sizeof kTypes / sizeof kTypes[0])];
}

namespace {

// The layout every operation keeps and appends rely on: each text column's texts back to
// back in row order, and no byte shared between columns.
void ExpectTextsBackToBack(const MiniFrad& t) {
  std::vector<std::pair<uint64_t, uint64_t>> blocks;
  for (int64_t c = 0; c < t.NbCols && t.NbRows > 0; ++c) {
    if (StorageOf(t.ColTypes[c]) != st_text) continue;
    uint64_t start = 0;
    std::memcpy(&start, t.GetCTilePtr(0, c, 0), 8);
    uint64_t end = start;
    for (int64_t r = 0; r < t.NbRows; ++r) {
      uint64_t offset = 0;
      uint16_t length = 0;
      std::memcpy(&offset, t.GetCTilePtr(r, c, 0), 8);
      std::memcpy(&length, t.GetCTilePtr(r, c, 1), 2);
      ASSERT_EQ(offset, end) << "col " << c << " row " << r;
      end += length;
    }
    if (end > start) blocks.emplace_back(start, end);
  }
  std::sort(blocks.begin(), blocks.end());
  for (size_t i = 1; i < blocks.size(); ++i) ASSERT_LE(blocks[i - 1].second, blocks[i].first);
}

}  // namespace

void ExpectSameTable(const MiniFrad& t, const RefTable& ref, const std::string& context) {
  ExpectSameCells(t, ref, context);
  SCOPED_TRACE(context);
  ExpectTextsBackToBack(t);
}

void ExpectSameCells(const MiniFrad& t, const RefTable& ref, const std::string& context) {
  SCOPED_TRACE(context);
  ASSERT_TRUE(t.Validate(true));
  ASSERT_EQ(t.NbCols, static_cast<int64_t>(ref.cols.size()));
  ASSERT_EQ(t.NbRows, ref.rows);
  for (int64_t c = 0; c < t.NbCols; ++c) {
    const RefColumn& col = ref.cols[c];
    ASSERT_EQ(t.ColNames[c], col.name);
    ASSERT_EQ(t.ColTypes[c], col.type);
    const uint32_t storage = StorageOf(col.type);
    if (storage == st_text) {
      ASSERT_EQ(t.ColSizes[c], col.size);
    }
    for (int64_t r = 0; r < t.NbRows; ++r) {
      const RefCell& want = col.cells[r];
      const char* cell = t.GetCTilePtr(r, c);
      ASSERT_NE(cell, nullptr);
      uint64_t bits = 0;
      switch (storage) {
        case st_int:
        case st_float:
          std::memcpy(&bits, cell, 4);
          ASSERT_EQ(bits, want.null ? (storage == st_int ? 0x80000000ull : 0xFFFFFFFFull)
                                    : want.bits)
              << "col " << c << " row " << r;
          break;
        case st_bigint:
        case st_bigfloat:
          std::memcpy(&bits, cell, 8);
          ASSERT_EQ(bits, want.null ? (storage == st_bigint ? 0x8000000000000000ull : ~0ull)
                                    : want.bits)
              << "col " << c << " row " << r;
          break;
        case st_text: {
          uint16_t length = 0;
          const char* text = t.GetCMintPtr(r, c, length);
          ASSERT_NE(text, nullptr);
          ASSERT_EQ(std::string(text, length), want.text) << "col " << c << " row " << r;
          break;
        }
        default:
          break;
      }
    }
  }
}

}  // namespace tablemodel
