// New tables from existing ones: row selections, copies and combinations of two tables.
#include <algorithm>
#include <cstring>

#include "table/MiniFrad.h"

namespace {

bool SameFormat(const ColumnFormat& a, const ColumnFormat& b) {
  return a.Code == b.Code && a.Formula == b.Formula && a.Theme == b.Theme &&
         a.Reference == b.Reference && a.DisplayName == b.DisplayName;
}

}  // namespace

MiniFrad MiniFrad::EmptyCopyOfSchema(const std::string& name, const std::string& dir) const {
  MiniFrad t;
  t.New(name, dir);
  t.NbCols = NbCols;
  t.ColNames = ColNames;
  t.ColTypes = ColTypes;
  t.ColSizes = ColSizes;
  t.ColFormat = ColFormat;
  t.SyncMetadata();
  return t;
}

MiniFrad MiniFrad::GenerateFromRows(const int64_t* rows, int64_t n, const std::string& name,
                                    const std::string& dir) const {
  if (n < 0 || (n > 0 && rows == nullptr)) return MiniFrad();
  for (int64_t i = 0; i < n; ++i) {
    if (rows[i] < 0 || rows[i] >= NbRows) return MiniFrad();
  }
  MiniFrad t = EmptyCopyOfSchema(name, dir);
  uint64_t textBytes = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    for (int64_t i = 0; i < n; ++i) {
      textBytes += LoadCell<uint16_t>(GetCTilePtr(rows[i], c, 1));
    }
  }
  if (!t.ResizeCTile(static_cast<uint64_t>(n) * RowStride) || !t.ResizeCMint(textBytes)) {
    return MiniFrad();
  }
  t.NbRows = n;
  // Texts are re-laid column after column, in the new row order.
  uint64_t at = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    const bool text = IsTextColumn(c);
    for (int64_t i = 0; i < n; ++i) {
      if (!text) {
        MemCpy(t.GetCTilePtr(i, c), GetCTilePtr(rows[i], c), static_cast<uint64_t>(ColStride[c]));
        continue;
      }
      const uint16_t length = LoadCell<uint16_t>(GetCTilePtr(rows[i], c, 1));
      MemCpy(t.cMint + at, cMint + LoadCell<uint64_t>(GetCTilePtr(rows[i], c, 0)), length);
      StoreCell<uint64_t>(t.GetCTilePtr(i, c, 0), at);
      StoreCell<uint16_t>(t.GetCTilePtr(i, c, 1), length);
      at += length;
    }
  }
  return t;
}

MiniFrad MiniFrad::GenerateFromMask(const std::vector<uint8_t>& mask, const std::string& name,
                                    const std::string& dir) const {
  std::vector<int64_t> rows;
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(mask.size()), NbRows);
  for (int64_t r = 0; r < n; ++r) {
    if (mask[static_cast<size_t>(r)] != 0) rows.push_back(r);
  }
  return GenerateFromRows(rows.data(), static_cast<int64_t>(rows.size()), name, dir);
}

MiniFrad MiniFrad::GenerateCopy(const std::string& name, const std::string& dir) const {
  MiniFrad t = EmptyCopyOfSchema(name, dir);
  if (!t.ResizeCTile(cTileSize) || !t.ResizeCMint(cMintSize)) return MiniFrad();
  t.NbRows = NbRows;
  CopyImageBlocks(t.cTile, t.cMint);
  t.ScatteredTexts = ScatteredTexts;  // the bytes are where they were
  return t;
}

std::vector<int32_t> MiniFrad::CombineColSizes(const MiniFrad& a, const MiniFrad& b) {
  if (a.NbCols != b.NbCols || a.ColTypes != b.ColTypes) return {};
  std::vector<int32_t> sizes = a.ColSizes;
  for (int64_t c = 0; c < a.NbCols; ++c) {
    if (a.IsTextColumn(c)) sizes[c] = std::max(sizes[c], b.ColSizes[c]);
  }
  return sizes;
}

bool MiniFrad::CanCombine(const MiniFrad& a, const MiniFrad& b) {
  if (a.NbCols != b.NbCols || a.ColNames != b.ColNames || a.ColTypes != b.ColTypes ||
      a.ColFormat.size() != b.ColFormat.size()) {
    return false;
  }
  for (size_t c = 0; c < a.ColFormat.size(); ++c) {
    if (!SameFormat(a.ColFormat[c], b.ColFormat[c])) return false;
  }
  return true;
}

const MiniFrad& MiniFrad::TextsInOrder(const MiniFrad& t, MiniFrad& scratch) {
  if (!t.ScatteredTexts) return t;
  scratch = t.GenerateFromMask(std::vector<uint8_t>(static_cast<size_t>(t.NbRows), 1), t.Name, "");
  return scratch;
}

bool MiniFrad::Combine(const MiniFrad& a, const MiniFrad& b, char* tile, char* text) {
  // Texts are moved per column block: scattered ones would not fit the caller's block.
  if (!CanCombine(a, b) || a.ScatteredTexts || b.ScatteredTexts) return false;
  const int64_t rows = a.NbRows + b.NbRows;
  uint64_t at = 0;
  for (int64_t c = 0; c < a.NbCols; ++c) {
    char* slice = tile + static_cast<uint64_t>(a.ColOffsets[c]) * rows;
    if (!a.IsTextColumn(c)) {
      const uint64_t stride = static_cast<uint64_t>(a.ColStride[c]);
      if (a.NbRows > 0) MemCpy(slice, a.GetCTilePtr(0, c), stride * a.NbRows);
      if (b.NbRows > 0) MemCpy(slice + stride * a.NbRows, b.GetCTilePtr(0, c), stride * b.NbRows);
      continue;
    }
    char* lengths = slice + kTextOffsetBytes * rows;
    int64_t row = 0;
    for (const MiniFrad* part : {&a, &b}) {
      if (part->NbRows == 0) continue;
      const auto range = part->GetCMintRange(c);
      MemCpy(text + at, part->cMint + range.first, range.second - range.first);
      MoveTextOffsets(slice + kTextOffsetBytes * row, part->GetCTilePtr(0, c, 0),
                      static_cast<uint64_t>(part->NbRows), range.first, at);
      MemCpy(lengths + kTextLengthBytes * row, part->GetCTilePtr(0, c, 1),
             kTextLengthBytes * part->NbRows);
      at += range.second - range.first;
      row += part->NbRows;
    }
  }
  // Text bytes no row refers to (those of dropped rows) are not copied: the rest of the text
  // block is zeroed so that no caller's block keeps bytes nothing wrote.
  const uint64_t textSize = a.cMintSize + b.cMintSize;
  if (textSize > at) std::memset(text + at, 0, textSize - at);
  return true;
}

MiniFrad MiniFrad::CombineToMiniFrad(const MiniFrad& first, const MiniFrad& second,
                                     const std::string& name) {
  MiniFrad scratchA;
  MiniFrad scratchB;
  const MiniFrad& a = TextsInOrder(first, scratchA);
  const MiniFrad& b = TextsInOrder(second, scratchB);
  MiniFrad t;
  t.New(name);
  if (!t.Set(a.NbRows + b.NbRows, a.ColNames, a.ColTypes, CombineColSizes(a, b))) {
    return MiniFrad();
  }
  t.ColFormat = a.ColFormat;  // identical in both, or Combine refuses
  t.SyncMetadata();
  if (!t.ResizeCMint(a.cMintSize + b.cMintSize) || !Combine(a, b, t.cTile, t.cMint)) {
    return MiniFrad();
  }
  return t;
}

void MiniFrad::DedupVector(std::vector<int64_t>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}
