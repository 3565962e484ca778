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

void MiniFrad::MoveInOrder(char* base, const std::vector<BlockMove>& moves) {
  // Blocks moving down go first, lowest first, so each lands on bytes already vacated; then
  // blocks moving up, highest first. memmove handles each block's overlap with itself.
  for (const BlockMove& m : moves) {
    if (m.to <= m.from) MemCpy(base + m.to, base + m.from, m.length);
  }
  for (auto m = moves.rbegin(); m != moves.rend(); ++m) {
    if (m->to > m->from) MemCpy(base + m->to, base + m->from, m->length);
  }
}

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

void MiniFrad::MoveSlices(int64_t fromRows, int64_t fromStart, int64_t toRows,
                          int64_t keptRows) {
  std::vector<BlockMove> moves;
  for (const auto& p : SliceParts()) {
    moves.push_back({p.first * fromRows + p.second * fromStart, p.first * toRows,
                     p.second * keptRows});
  }
  MoveInOrder(cTile, moves);
}

void MiniFrad::CopyTightTile(char* dst, int64_t first, int64_t end) const {
  if (end < 0) end = NbRows;
  if (RowCapacity == 0 && first == 0 && end == NbRows) {
    MemCpy(dst, cTile, cTileSize);
    return;
  }
  const uint64_t rows = static_cast<uint64_t>(end - first);
  for (const auto& p : SliceParts()) {
    MemCpy(dst + p.first * rows, cTile + p.first * SliceRows() + p.second * (RowStart + first),
           p.second * rows);
  }
}

void MiniFrad::Tighten() {
  if (!TextRooms.empty()) PackTexts();
  if (RowCapacity == 0) return;
  MoveSlices(RowCapacity, RowStart, NbRows, NbRows);
  TileBuf.Resize(static_cast<uint64_t>(NbRows) * RowStride);  // shrinking never fails
  RowCapacity = 0;
  RowStart = 0;
  RefreshBlocks();
}

bool MiniFrad::ReserveRows(int64_t rows) {
  uint64_t size = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(rows), RowStride, &size)) return false;
  const int64_t laidOut = SliceRows();
  if (RowStart + rows > laidOut) {
    // Half again as many rows: a table appended to row by row moves its slices O(log n)
    // times and wastes at most a third of its block. Rows dropped from the front are
    // reclaimed at the same time, and a block left large by them shrinks to the same
    // measure: a table that keeps dropping its oldest rows moves each row a bounded number
    // of times on average.
    const int64_t wanted = RowStart > 0 ? rows + rows / 2 : laidOut + laidOut / 2;
    int64_t capacity = std::max<int64_t>({rows, wanted, kMinRowCapacity});
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(capacity), RowStride, &bytes)) {
      capacity = rows;
      bytes = size;
    }
    // Growing in place: large blocks are remapped rather than copied.
    if (bytes > TileBuf.size) TileBuf.Resize(bytes);
    RefreshBlocks();
    MoveSlices(laidOut, RowStart, capacity, NbRows);
    if (bytes < TileBuf.size) TileBuf.Resize(bytes);  // shrinking never fails
    RowCapacity = capacity;
    RowStart = 0;
  }
  NbRows = rows;
  RefreshBlocks();
  return true;
}

bool MiniFrad::IncreaseRows(int64_t n) {
  if (Locked || !Loaded || n < 0 || (n > 0 && !HoldsCells())) return false;
  int64_t rows = 0;
  uint64_t size = 0;
  if (__builtin_add_overflow(NbRows, n, &rows) ||
      __builtin_mul_overflow(static_cast<uint64_t>(rows), RowStride, &size)) {
    return false;
  }
  if (Mode == 1 && !LayOutTextsAfresh()) return false;
  const int64_t oldRows = NbRows;
  if (Mode == 1) {
    // The new rows hold empty texts after the column's last text, so that the texts stay
    // back to back and appends find where the column ends.
    if (TextRooms.empty()) AdoptTextRooms();
    std::vector<uint64_t> ends(static_cast<size_t>(NbCols), 0);
    for (int64_t c = 0; c < NbCols; ++c) {
      if (IsTextColumn(c)) ends[c] = TextEnd(c, oldRows);
    }
    if (!ReserveRows(rows)) return false;
    // Spare rows hold whatever the block held: the new cells start as zeros, as grown blocks
    // do in every store (ResizeBlock), so that no image carries stale memory.
    for (const auto& p : SliceParts()) {
      std::memset(cTile + p.first * SliceRows() + p.second * (RowStart + oldRows), 0, p.second * n);
    }
    for (int64_t c = 0; c < NbCols; ++c) {
      if (!IsTextColumn(c)) continue;
      for (int64_t r = oldRows; r < rows; ++r) {
        StoreCell<uint64_t>(GetCTilePtr(r, c, 0), ends[c]);
        StoreCell<uint16_t>(GetCTilePtr(r, c, 1), 0);
      }
    }
    return true;
  }
  if (!ResizeCTile(size)) return false;
  NbRows = rows;
  if (oldRows > 0) MoveSlices(oldRows, 0, NbRows, oldRows);
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
    MoveSlices(oldRows, 0, NbRows, NbRows);
    // Shrinking cannot fail in any store that grew to the old size.
    ResizeCTile(static_cast<uint64_t>(NbRows) * RowStride);
  }
  // The text block keeps its size in every store: the dropped rows' texts stay, unreferenced,
  // at the ends of their columns' blocks.
  SyncByteStream();
  return true;
}

bool MiniFrad::DeleteAllRows() {
  if (Locked || !Loaded) return false;
  RowCapacity = RowStart = 0;  // the blocks are emptied whatever their layout
  TextRooms.clear();
  ScatteredTexts = false;
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
  return KeepRows(mask);
}

bool MiniFrad::KeepRows(const std::vector<uint8_t>& mask) {
  Tighten();
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
  ScatteredTexts = false;  // laid out afresh in column order
  SyncByteStream();
  return true;
}

bool MiniFrad::DropFirstRows(int64_t n) {
  if (Locked || !Loaded) return false;
  if (n <= 0) return true;
  if (n >= NbRows) return DeleteAllRows();
  if (Mode != 1 || ScatteredTexts) {  // rewritten, texts laid out afresh
    std::vector<uint8_t> mask(static_cast<size_t>(NbRows), 1);
    std::fill(mask.begin(), mask.begin() + n, 0);
    return KeepRows(mask);
  }
  // The kept rows stay where they are: the slices start n rows later and each column's
  // texts at its first kept text. The bytes before them are reclaimed by the next regrowth.
  if (TextRooms.empty()) AdoptTextRooms();
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    const auto dropped = TextSpan(c, 0, n - 1);
    cMintSize -= std::min(dropped.second - dropped.first, cMintSize);
  }
  if (RowCapacity == 0) RowCapacity = NbRows;
  RowStart += n;
  NbRows -= n;
  RefreshBlocks();
  return true;
}
