// MiniFrad column operations: appending and deleting columns.
#include <algorithm>
#include <cstring>

#include "table/MiniFrad.h"

char* MiniFrad::NewColumn(const std::string& name, int32_t type, int32_t size) {
  if (Locked || !Loaded || !IsValidColumnType(type)) return nullptr;
  const ColumnTypes& row = column_types_lookup[type];
  const bool text = row.StorageId == st_text;
  const uint64_t stride = text ? kTextCellStride : row.ByteSize;
  int32_t colSize = static_cast<int32_t>(row.ByteSize);
  if (text && size > 0 && static_cast<uint32_t>(size) < row.ByteSize) colSize = size;
  uint64_t grown = 0;
  if (__builtin_mul_overflow(stride, static_cast<uint64_t>(NbRows), &grown) ||
      !ResizeCTile(cTileSize + grown)) {
    return nullptr;
  }
  // The new column's offset is the old row stride, so its slice is the new end of cTile.
  ColNames.push_back(name);
  ColTypes.push_back(type);
  ColSizes.push_back(colSize);
  ++NbCols;
  SyncMetadata();
  SyncByteStream();
  return GetCTilePtr(0, NbCols - 1, 0);
}

bool MiniFrad::AddColumn(const std::string& name, const std::vector<std::string>& texts,
                         bool nullFill, int32_t size) {
  if (Locked || !Loaded) return false;
  const uint64_t oldTile = cTileSize;
  if (NewColumn(name, 6, size) == nullptr) return false;
  const int64_t col = NbCols - 1;
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(texts.size()), NbRows);
  const uint64_t limit = static_cast<uint64_t>(ColSizes[col]);
  uint64_t total = nullFill ? static_cast<uint64_t>(NbRows - n) : 0;
  for (int64_t i = 0; i < n; ++i) total += std::min<uint64_t>(texts[i].size(), limit);
  const uint64_t base = cMintSize;
  if (!ResizeCMint(base + total)) {
    ColNames.pop_back();
    ColTypes.pop_back();
    ColSizes.pop_back();
    ColFormat.pop_back();
    --NbCols;
    SyncMetadata();
    ResizeCTile(oldTile);
    SyncByteStream();
    return false;
  }
  char* offsets = GetCTilePtr(0, col, 0);
  char* lengths = GetCTilePtr(0, col, 1);
  uint64_t at = base;
  for (int64_t i = 0; i < NbRows; ++i) {
    uint16_t length = 0;
    if (i < n) {
      length = static_cast<uint16_t>(std::min<uint64_t>(texts[i].size(), limit));
      MemCpy(cMint + at, texts[i].data(), length);
    } else if (nullFill) {
      length = 1;
      cMint[at] = '\0';
    }
    StoreCell<uint64_t>(offsets + kTextOffsetBytes * i, at);
    StoreCell<uint16_t>(lengths + kTextLengthBytes * i, length);
    at += length;
  }
  return true;
}

bool MiniFrad::AddColumnDT(const std::string& name, const int64_t* values, int64_t count,
                           const std::string& format) {
  if (Locked || !Loaded || values == nullptr) return false;
  char* cells = NewColumn(name, kDatetimeTypeId, -1);
  if (cells == nullptr) return false;
  const int64_t col = NbCols - 1;
  ColFormat[col].Code = format;
  DateSpecs[col].Set(format);
  const int64_t n = std::max<int64_t>(std::min(count, NbRows), 0);
  MemCpy(cells, values, static_cast<uint64_t>(n) * sizeof(int64_t));
  for (int64_t r = n; r < NbRows; ++r) {
    std::memcpy(cells + sizeof(int64_t) * r, &_null_value_bigint, sizeof(int64_t));
  }
  SyncByteStream();
  return true;
}

bool MiniFrad::AddColumnDT(const std::string& name, const std::vector<std::string>& texts,
                           const std::string& format) {
  std::vector<int64_t> values(static_cast<size_t>(std::max<int64_t>(NbRows, 0)),
                              _null_value_bigint);
  const size_t n = std::min(texts.size(), values.size());
  for (size_t r = 0; r < n; ++r) values[r] = ParseDatetime(texts[r].data(), texts[r].size());
  return AddColumnDT(name, values.data(), static_cast<int64_t>(values.size()), format);
}

bool MiniFrad::DeleteColumns(std::vector<int64_t> indices) {
  if (Locked || !Loaded) return false;
  DedupVector(indices);
  std::vector<uint8_t> deleted(static_cast<size_t>(NbCols), 0);
  bool textDeleted = false;
  for (int64_t c : indices) {
    if (c < 0 || c >= NbCols) return false;
    deleted[static_cast<size_t>(c)] = 1;
    textDeleted = textDeleted || IsTextColumn(c);
  }
  if (indices.empty()) return true;
  // The kept text columns' blocks move as wholes.
  if (textDeleted && !LayOutTextsAfresh()) return false;
  Tighten();  // the slices below slide at the table's own row count
  if (textDeleted) {
    // Rebuild cMint from the kept text columns' blocks, in column order.
    AppCore::CharBuffer kept(static_cast<unsigned long>(cMintSize));
    char* out = reinterpret_cast<char*>(kept.data);
    uint64_t used = 0;
    for (int64_t c = 0; c < NbCols; ++c) {
      if (deleted[c] || !IsTextColumn(c)) continue;
      const auto range = GetCMintRange(c);
      MemCpy(out + used, cMint + range.first, range.second - range.first);
      char* offsets = GetCTilePtr(0, c, 0);
      MoveTextOffsets(offsets, offsets, static_cast<uint64_t>(NbRows), range.first, used);
      used += range.second - range.first;
    }
    if (!ResizeCMint(used)) return false;
    MemCpy(cMint, out, used);
  }
  // Slide the kept columns' slices down over the deleted ones, first column first.
  uint64_t target = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    const uint64_t bytes = static_cast<uint64_t>(ColStride[c]) * NbRows;
    if (deleted[c]) continue;
    MemCpy(cTile + target, cTile + static_cast<uint64_t>(ColOffsets[c]) * NbRows, bytes);
    target += bytes;
  }
  for (int64_t c = NbCols - 1; c >= 0; --c) {
    if (!deleted[c]) continue;
    ColNames.erase(ColNames.begin() + c);
    ColTypes.erase(ColTypes.begin() + c);
    ColSizes.erase(ColSizes.begin() + c);
    ColFormat.erase(ColFormat.begin() + c);
    DateSpecs.erase(DateSpecs.begin() + c);
  }
  NbCols = static_cast<int64_t>(ColNames.size());
  SyncMetadata();
  ResizeCTile(static_cast<uint64_t>(NbRows) * RowStride);
  SyncByteStream();
  return true;
}
