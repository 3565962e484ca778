// Rows of texts into cells: AddRow, the cell parsers and GenMiniFrad.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "table/MiniFrad.h"
#include "table/NumberText.h"

namespace {

// Parses `text` (null: none) into a number cell of type T, the null value on failure.
template <typename T>
void StoreParsed(char* cell, const char* text, uint64_t length, T nullValue) {
  T v = nullValue;
  if constexpr (std::is_integral<T>::value) {
    ConvertCharsToINT(v, text, length, nullValue);
  } else {
    ConvertCharsToFLT(v, text, length, nullValue);
  }
  StoreCell(cell, v);
}

// Where one text column's block goes while a row is added (AddRow steps 2 to 4).
struct TextPlan {
  int64_t col;
  uint64_t start;      // block start before the row is added
  uint64_t length;     // block length before the row is added
  uint64_t newStart;   // block start after the move
  uint64_t newOffset;  // offset of the new row's text
  uint16_t newLength;
  const std::string* text;  // null for a missing text: a null cell
};

}  // namespace

int64_t MiniFrad::ParseDatetime(const char* text, uint64_t length) {
  IO_Datetimes::DatetimeParser parser;
  int consumed = 0;
  if (!parser.DetectDatetime(text, static_cast<unsigned long>(length), consumed)) {
    return _null_value_bigint;
  }
  int64_t ns = _null_value_bigint;
  parser.dt.ToDatetime64_ns(ns);
  return ns;
}

void MiniFrad::ParseCell(int64_t col, int64_t row, const char* text, uint64_t length,
                         bool missing) {
  char* cell = GetCTilePtr(row, col);
  if (missing) text = nullptr;  // the parsers give the null value for no text
  switch (StorageOf(col)) {
    case st_int:
      StoreParsed(cell, text, length, _null_value_int);
      break;
    case st_bigint:
      if (IsDatetime(col)) {
        StoreCell(cell, missing ? _null_value_bigint : ParseDatetime(text, length));
      } else {
        StoreParsed(cell, text, length, _null_value_bigint);
      }
      break;
    case st_float:
      StoreParsed(cell, text, length, _null_value_float);
      break;
    case st_bigfloat:
      StoreParsed(cell, text, length, _null_value_bigfloat);
      break;
    default:  // storage "NULL" has no cell; text is written by the callers
      break;
  }
}

bool MiniFrad::AddRow(const std::vector<std::string>& texts) {
  if (Locked || !Loaded || !HoldsCells() || !LayOutTextsAfresh()) return false;
  const int64_t r = NbRows;
  if (Mode == 1) {
    // Room first: a failed allocation throws with the table as it was.
    if (TextRooms.empty()) AdoptTextRooms();
    if (!TextsFit(texts)) SpreadTexts(texts);
    if (!ReserveRows(r + 1)) return false;
    AppendHeapTexts(r, texts);
  } else {
    if (!IncreaseRows(1)) return false;
    if (!AddTextCells(r, texts)) {
      DecreaseRows(1);
      return false;
    }
  }
  for (int64_t c = 0; c < NbCols; ++c) {
    if (IsTextColumn(c)) continue;
    const bool missing = c >= static_cast<int64_t>(texts.size());
    ParseCell(c, r, missing ? nullptr : texts[c].data(), missing ? 0 : texts[c].size(), missing);
  }
  return true;
}

bool MiniFrad::AddTextCells(int64_t r, const std::vector<std::string>& texts) {
  // Each text block may have to move up to make room for the new texts of the blocks below
  // it, so blocks are planned in the order they lie in cMint.
  std::vector<TextPlan> plans;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    TextPlan p{c, 0, 0, 0, 0, 1, c < static_cast<int64_t>(texts.size()) ? &texts[c] : nullptr};
    if (r > 0) {
      const auto range = GetCMintRange(c, 0, r - 1);
      p.start = range.first;
      p.length = range.second - range.first;
    }
    if (p.text != nullptr) {
      p.newLength = static_cast<uint16_t>(
          std::min<uint64_t>(p.text->size(), static_cast<uint64_t>(ColSizes[c])));
    }
    plans.push_back(p);
  }
  std::stable_sort(plans.begin(), plans.end(),
                   [](const TextPlan& a, const TextPlan& b) { return a.start < b.start; });
  uint64_t end = 0;
  uint64_t added = 0;
  for (TextPlan& p : plans) {
    p.newStart = std::max(p.start, end);
    p.newOffset = p.newStart + p.length;
    end = p.newOffset + p.newLength;
    added += p.newLength;
  }
  if (added > 0 && !ResizeCMint(cMintSize + added)) return false;
  // Last block first, so that no block is overwritten before it has moved.
  for (auto p = plans.rbegin(); p != plans.rend(); ++p) {
    char* offsets = GetCTilePtr(0, p->col, 0);
    if (p->newStart != p->start) {
      MemCpy(cMint + p->newStart, cMint + p->start, p->length);
      MoveTextOffsets(offsets, offsets, static_cast<uint64_t>(r), p->start, p->newStart);
    }
    if (p->text != nullptr) {
      MemCpy(cMint + p->newOffset, p->text->data(), p->newLength);
    } else {
      cMint[p->newOffset] = '\0';
    }
    StoreCell(offsets + kTextOffsetBytes * r, p->newOffset);
    StoreCell(GetCTilePtr(r, p->col, 1), p->newLength);
  }
  return true;
}

MiniFrad MiniFrad::GenMiniFrad(const std::string& name, const std::vector<int32_t>& types,
                               const std::vector<std::vector<std::string>>& rows,
                               const std::vector<std::string>& names) {
  MiniFrad t;
  t.New(name);
  std::vector<std::string> colNames = names;
  std::vector<int32_t> sizes;
  bool anyText = false;
  for (size_t c = 0; c < types.size(); ++c) {
    if (c >= colNames.size()) colNames.push_back("Column" + std::to_string(c));
    const bool text = IsValidColumnType(types[c]) &&
                      column_types_lookup[types[c]].StorageId == st_text;
    anyText = anyText || text;
    sizes.push_back(text ? 4 : 0);
  }
  colNames.resize(types.size());
  if (!t.Set(static_cast<int64_t>(rows.size()), colNames, types, sizes) || rows.empty()) {
    return t;
  }
  if (anyText && !t.ResizeCMint(10240)) return MiniFrad();
  uint64_t used = 0;
  for (int64_t c = 0; c < t.NbCols; ++c) {
    const bool text = t.IsTextColumn(c);
    for (int64_t r = 0; r < t.NbRows; ++r) {
      const std::vector<std::string>& row = rows[static_cast<size_t>(r)];
      const bool missing = c >= static_cast<int64_t>(row.size());
      if (!text) {
        t.ParseCell(c, r, missing ? nullptr : row[c].data(), missing ? 0 : row[c].size(), missing);
        continue;
      }
      const uint16_t length = missing ? 1 : static_cast<uint16_t>(
                                                std::min<size_t>(row[c].size(), kMaxTextLength));
      if (used + length > t.cMintSize &&
          !t.ResizeCMint(used + (missing ? 0 : length) + 10240)) {
        return MiniFrad();
      }
      if (missing) {
        t.cMint[used] = '\0';
      } else {
        MemCpy(t.cMint + used, row[c].data(), length);
        t.ColSizes[c] = std::max<int32_t>(t.ColSizes[c], length);
      }
      StoreCell(t.GetCTilePtr(r, c, 0), used);
      StoreCell(t.GetCTilePtr(r, c, 1), length);
      used += length;
    }
  }
  t.ResizeCMint(used);
  return t;
}
