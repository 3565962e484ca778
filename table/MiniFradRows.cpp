// MiniFrad row operations: growing, shrinking and deleting rows.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "table/MiniFrad.h"

namespace {

// Fewest rows a heap block makes room for once a table grows.
constexpr int64_t kMinRowCapacity = 16;

}  // namespace

std::vector<std::pair<uint64_t, uint64_t>> MiniFrad::SliceParts() const {
  std::vector<std::pair<uint64_t, uint64_t>> parts;
  parts.reserve(static_cast<size_t>(NbCols) * 2);
  for (int64_t c = 0; c < NbCols; ++c) {
    const uint64_t offset = static_cast<uint64_t>(ColOffsets[c]);
    if (IsTextColumn(c)) {
      parts.emplace_back(offset, kTextOffsetBytes);
      parts.emplace_back(offset + kTextOffsetBytes, kTextLengthBytes);
    } else if (ColStride[c] > 0) {
      parts.emplace_back(offset, static_cast<uint64_t>(ColStride[c]));
    }
  }
  return parts;
}

void MiniFrad::MoveSlices(int64_t fromRows, int64_t toRows, int64_t keptRows) {
  // Growing moves slices up, so they are moved from the last one down; shrinking moves them
  // down, from the first one up. memmove handles each slice's overlap.
  const auto parts = SliceParts();
  auto move = [&](const std::pair<uint64_t, uint64_t>& p) {
    MemCpy(cTile + p.first * toRows, cTile + p.first * fromRows, p.second * keptRows);
  };
  if (toRows > fromRows) {
    std::for_each(parts.rbegin(), parts.rend(), move);
  } else {
    std::for_each(parts.begin(), parts.end(), move);
  }
}

void MiniFrad::CopyTightTile(char* dst) const {
  if (RowCapacity <= NbRows) {
    MemCpy(dst, cTile, cTileSize);
    return;
  }
  for (const auto& p : SliceParts()) {
    MemCpy(dst + p.first * NbRows, cTile + p.first * RowCapacity, p.second * NbRows);
  }
}

void MiniFrad::Tighten() {
  if (RowCapacity == 0) return;
  if (RowCapacity > NbRows) {
    MoveSlices(RowCapacity, NbRows, NbRows);
    TileBuf.Resize(static_cast<uint64_t>(NbRows) * RowStride);  // shrinking never fails
  }
  RowCapacity = 0;
  RefreshBlocks();
}

bool MiniFrad::ReserveRows(int64_t rows) {
  const int64_t laidOut = SliceRows();
  if (rows > laidOut) {
    // Half again as many rows: a table appended to row by row moves its slices O(log n)
    // times and wastes at most a third of its block.
    int64_t capacity = std::max<int64_t>({rows, laidOut + laidOut / 2, kMinRowCapacity});
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(capacity), RowStride, &bytes)) {
      capacity = rows;
      bytes = static_cast<uint64_t>(rows) * RowStride;  // checked by the caller
    }
    const uint64_t had = TileBuf.size;
    TileBuf.Resize(bytes);
    // Spare rows start as zeros, as grown blocks do in every store (ResizeBlock).
    if (bytes > had) std::memset(TileBuf.data + had, 0, bytes - had);
    RefreshBlocks();
    MoveSlices(laidOut, capacity, NbRows);
    RowCapacity = capacity;
  }
  NbRows = rows;
  RefreshBlocks();
  return true;
}

bool MiniFrad::IncreaseRows(int64_t n) {
  if (Locked || !Loaded || n < 0) return false;
  int64_t rows = 0;
  uint64_t size = 0;
  if (__builtin_add_overflow(NbRows, n, &rows) ||
      __builtin_mul_overflow(static_cast<uint64_t>(rows), RowStride, &size)) {
    return false;
  }
  if (Mode == 1) return ReserveRows(rows);
  if (!ResizeCTile(size)) return false;
  const int64_t oldRows = NbRows;
  NbRows = rows;
  if (oldRows > 0) MoveSlices(oldRows, NbRows, oldRows);
  SyncByteStream();
  return true;
}

bool MiniFrad::DecreaseRows(int64_t n) {
  if (Locked || !Loaded || n < 0) return false;
  Tighten();
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
  RowCapacity = 0;  // the block is emptied whatever its layout
  NbRows = 0;
  ResizeCTile(0);
  ResizeCMint(0);
  SyncByteStream();
  return true;
}

bool MiniFrad::DeleteRows(const std::vector<int64_t>& indices) {
  if (Locked || !Loaded) return false;
  Tighten();
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
