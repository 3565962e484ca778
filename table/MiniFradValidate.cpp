// MiniFrad::Validate: the invariants every operation keeps and every loaded table must meet.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "table/MiniFrad.h"

namespace {

// Every text reference of every text column lies inside the text block.
bool TextsInside(const MiniFrad& t, uint64_t bound) {
  for (int64_t c = 0; c < t.NbCols; ++c) {
    if (column_types_lookup[t.ColTypes[c]].StorageId != st_text) continue;
    const char* offsets = t.GetCTilePtr(0, c, 0);
    const char* lengths = t.GetCTilePtr(0, c, 1);
    for (int64_t r = 0; r < t.NbRows; ++r) {
      const uint64_t offset = LoadCell<uint64_t>(offsets + kTextOffsetBytes * r);
      const uint16_t length = LoadCell<uint16_t>(lengths + kTextLengthBytes * r);
      if (offset > bound || length > bound - offset) return false;
    }
  }
  return true;
}

}  // namespace

bool MiniFrad::TextsBackToBack() const {
  std::vector<std::pair<uint64_t, uint64_t>> blocks;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c) || NbRows == 0) continue;
    const char* offsets = GetCTilePtr(0, c, 0);
    const char* lengths = GetCTilePtr(0, c, 1);
    const uint64_t start = LoadCell<uint64_t>(offsets);
    uint64_t end = start;
    for (int64_t r = 0; r < NbRows; ++r) {
      if (LoadCell<uint64_t>(offsets + kTextOffsetBytes * r) != end) return false;
      end += LoadCell<uint16_t>(lengths + kTextLengthBytes * r);
    }
    if (end > start) blocks.emplace_back(start, end);
  }
  std::sort(blocks.begin(), blocks.end());
  for (size_t i = 1; i < blocks.size(); ++i) {
    if (blocks[i].first < blocks[i - 1].second) return false;
  }
  return true;
}

bool MiniFrad::Validate(bool deep) const {
  const size_t cols = static_cast<size_t>(NbCols);
  if (NbCols < 0 || NbRows < 0 || ColNames.size() != cols || ColTypes.size() != cols ||
      ColSizes.size() != cols || ColFormat.size() != cols || ColStride.size() != cols ||
      ColOffsets.size() != cols || DateSpecs.size() != cols) {
    return false;
  }
  // Without rows nothing reads the blocks, whatever they hold.
  uint64_t tileSize = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(NbRows), RowStride, &tileSize) ||
      (NbRows > 0 && tileSize != cTileSize)) {
    return false;
  }
  if (!deep) return true;
  uint64_t stride = 0;
  for (size_t c = 0; c < cols; ++c) {
    if (!IsValidColumnType(ColTypes[c]) || ColOffsets[c] != static_cast<int64_t>(stride)) {
      return false;
    }
    const ColumnTypes& type = column_types_lookup[ColTypes[c]];
    const bool text = type.StorageId == st_text;
    if (text && (ColSizes[c] < 0 || static_cast<uint32_t>(ColSizes[c]) > kMaxTextLength)) {
      return false;
    }
    if (ColStride[c] != static_cast<int32_t>(text ? kTextCellStride : type.ByteSize)) {
      return false;
    }
    stride += static_cast<uint64_t>(ColStride[c]);
  }
  if (stride != RowStride) return false;
  if (NbRows == 0) return true;
  // Rows need cells: without them nothing would bound the row count of a loaded table.
  if (tileSize == 0 || cTile == nullptr) return false;
  return TextsInside(*this, MintBound());
}
