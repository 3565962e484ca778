// MiniFrad row operations: growing, shrinking and deleting rows.
#include <algorithm>

#include "table/MiniFrad.h"

void MiniFrad::MoveSlices(int64_t fromRows, int64_t toRows, int64_t keptRows) {
  // Every column slice (a text column is two: offsets, then lengths) starts at its offset
  // times the row count. Growing moves slices up, so they are moved from the last one down;
  // shrinking moves them down, from the first one up. memmove handles each slice's overlap.
  struct Part {
    uint64_t offset;
    uint64_t width;
  };
  std::vector<Part> parts;
  parts.reserve(static_cast<size_t>(NbCols) * 2);
  for (int64_t c = 0; c < NbCols; ++c) {
    const uint64_t offset = static_cast<uint64_t>(ColOffsets[c]);
    if (IsTextColumn(c)) {
      parts.push_back({offset, kTextOffsetBytes});
      parts.push_back({offset + kTextOffsetBytes, kTextLengthBytes});
    } else if (ColStride[c] > 0) {
      parts.push_back({offset, static_cast<uint64_t>(ColStride[c])});
    }
  }
  auto move = [&](const Part& p) {
    MemCpy(cTile + p.offset * toRows, cTile + p.offset * fromRows, p.width * keptRows);
  };
  if (toRows > fromRows) {
    std::for_each(parts.rbegin(), parts.rend(), move);
  } else {
    std::for_each(parts.begin(), parts.end(), move);
  }
}

bool MiniFrad::IncreaseRows(int64_t n) {
  if (Locked || !Loaded || n < 0) return false;
  int64_t rows = 0;
  uint64_t size = 0;
  if (__builtin_add_overflow(NbRows, n, &rows) ||
      __builtin_mul_overflow(static_cast<uint64_t>(rows), RowStride, &size) ||
      !ResizeCTile(size)) {
    return false;
  }
  const int64_t oldRows = NbRows;
  NbRows = rows;
  if (oldRows > 0) MoveSlices(oldRows, NbRows, oldRows);
  SyncByteStream();
  return true;
}

bool MiniFrad::DecreaseRows(int64_t n) {
  if (Locked || !Loaded || n < 0) return false;
  const int64_t oldRows = NbRows;
  if (NbRows - n < 1) {
    NbRows = 0;
    if (!ResizeCTile(0)) {
      NbRows = oldRows;
      return false;
    }
  } else {
    NbRows -= n;
    MoveSlices(oldRows, NbRows, NbRows);
    // Shrinking cannot fail in any store that grew to the old size.
    ResizeCTile(static_cast<uint64_t>(NbRows) * RowStride);
  }
  SyncByteStream();
  return true;
}

bool MiniFrad::DeleteAllRows() {
  if (Locked || !Loaded) return false;
  NbRows = 0;
  ResizeCTile(0);
  ResizeCMint(0);
  SyncByteStream();
  return true;
}

bool MiniFrad::DeleteRows(const std::vector<int64_t>& indices) {
  if (Locked || !Loaded) return false;
  std::vector<uint8_t> mask(static_cast<size_t>(NbRows), 1);
  for (int64_t i : indices) {
    if (i >= 0 && i < NbRows) mask[static_cast<size_t>(i)] = 0;
  }
  MiniFrad kept = GenerateFromMask(mask, "", "");
  if (Mode == 1) {
    TileBuf = std::move(kept.TileBuf);
    MintBuf = std::move(kept.MintBuf);
    NbRows = kept.NbRows;
    RefreshBlocks();
  } else {
    if (!ResizeCTile(kept.cTileSize) || !ResizeCMint(kept.cMintSize)) return false;
    NbRows = kept.NbRows;
    MemCpy(cTile, kept.cTile, kept.cTileSize);
    MemCpy(cMint, kept.cMint, kept.cMintSize);
  }
  SyncByteStream();
  return true;
}
