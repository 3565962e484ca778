// The text block of a heap table laid out with room: each text column's texts lie back to
// back in a region of their own, so that a row's texts are appended where they belong
// without moving the texts of other columns. A column whose region is full moves every
// region apart at once (SpreadTexts), giving each room in proportion to its texts, so a
// table appended to row by row moves each text byte a bounded number of times on average.
// Images and copies get the texts packed in column order (CopyColumnTexts).
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "table/MiniFrad.h"

namespace {

// Room every region gets beyond its texts, so that short columns do not spread at once.
constexpr uint64_t kMinTextRoom = 64;

}  // namespace

uint64_t MiniFrad::MintBound() const { return TextRooms.empty() ? cMintSize : MintBuf.size; }

std::pair<uint64_t, uint64_t> MiniFrad::TextSpan(int64_t col, int64_t lo, int64_t hi) const {
  const uint64_t start = LoadCell<uint64_t>(GetCTilePtr(lo, col, 0));
  const uint64_t end = LoadCell<uint64_t>(GetCTilePtr(hi, col, 0)) +
                       LoadCell<uint16_t>(GetCTilePtr(hi, col, 1));
  if (start > end || end > MintBound()) return {0, 0};
  return {start, end};
}

uint64_t MiniFrad::TextEnd(int64_t col, int64_t rows) const {
  if (rows == 0) return TextRooms.empty() ? 0 : TextRooms[col].first;
  return LoadCell<uint64_t>(GetCTilePtr(rows - 1, col, 0)) +
         LoadCell<uint16_t>(GetCTilePtr(rows - 1, col, 1));
}

uint64_t MiniFrad::NewTextLength(int64_t col, const std::vector<std::string>& texts) const {
  if (col >= static_cast<int64_t>(texts.size())) return 1;
  const uint64_t limit = std::min<uint64_t>(static_cast<uint64_t>(ColSizes[col]), kMaxTextLength);
  return std::min<uint64_t>(texts[col].size(), limit);
}

void MiniFrad::AdoptTextRooms() {
  // Each column's region runs from its first text to the next column's first text (the
  // last one to the end of the buffer): the texts stay where they are.
  TextRooms.assign(static_cast<size_t>(NbCols), {0, 0});
  std::vector<std::pair<std::pair<uint64_t, uint64_t>, int64_t>> spans;  // (span, col)
  uint64_t used = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    const auto span = NbRows > 0 ? TextSpan(c, 0, NbRows - 1) : std::pair<uint64_t, uint64_t>{0, 0};
    spans.push_back({span, c});
    used += span.second - span.first;
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 0; i < spans.size(); ++i) {
    const uint64_t end = i + 1 < spans.size() ? spans[i + 1].first.first : MintBuf.size;
    TextRooms[spans[i].second] = {spans[i].first.first, std::max(end, spans[i].first.first)};
  }
  cMintSize = used;
}

bool MiniFrad::TextsFit(const std::vector<std::string>& texts) const {
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    const uint64_t end = TextEnd(c, NbRows);
    if (end < TextRooms[c].first || end > TextRooms[c].second ||
        NewTextLength(c, texts) > TextRooms[c].second - end) {
      return false;
    }
  }
  return true;
}

void MiniFrad::SpreadTexts(const std::vector<std::string>& texts) {
  struct Region {
    uint64_t start;   // of the column's texts now
    uint64_t length;  // of the column's texts
    int64_t col;
    uint64_t room;    // bytes of the new region
  };
  std::vector<Region> regions;
  uint64_t used = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    const auto span = NbRows > 0 ? TextSpan(c, 0, NbRows - 1) : std::pair<uint64_t, uint64_t>{0, 0};
    const uint64_t length = span.second - span.first;
    // Half again the texts, and half a byte per row for columns of short texts: appending
    // fills a region only after the column has grown by a third, or by half its rows.
    const uint64_t needed = length + NewTextLength(c, texts);
    regions.push_back({span.first, length, c,
                       needed + needed / 2 + static_cast<uint64_t>(NbRows) / 2 + kMinTextRoom});
    used += length;
  }
  // The regions keep the order of the texts in the buffer, so the texts move in place.
  std::stable_sort(regions.begin(), regions.end(),
                   [](const Region& a, const Region& b) { return a.start < b.start; });
  std::vector<BlockMove> moves;
  uint64_t total = 0;
  for (const Region& r : regions) {
    moves.push_back({r.start, total, r.length});
    total += r.room;
  }
  // Growing in place: large blocks are remapped rather than copied.
  if (total > MintBuf.size) MintBuf.Resize(total);
  MoveInOrder(MintBuf.data, moves);
  if (TextRooms.empty()) TextRooms.assign(static_cast<size_t>(NbCols), {0, 0});
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    char* offsets = GetCTilePtr(0, r.col, 0);
    if (offsets != nullptr && moves[i].to != r.start) {
      MoveTextOffsets(offsets, offsets, static_cast<uint64_t>(NbRows), r.start, moves[i].to);
    }
    TextRooms[r.col] = {moves[i].to, moves[i].to + r.room};
  }
  // A buffer left much larger by dropped rows is given back; the last region keeps the rest.
  if (MintBuf.size > 2 * total) MintBuf.Resize(total);
  if (!regions.empty()) TextRooms[regions.back().col].second = MintBuf.size;
  cMintSize = used;
  RefreshBlocks();
}

void MiniFrad::AppendHeapTexts(int64_t r, const std::vector<std::string>& texts) {
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    const uint64_t length = NewTextLength(c, texts);
    uint64_t at = TextEnd(c, r);
    // Only cells written behind the table's back can point elsewhere: the text then starts
    // its region again rather than land in another column's.
    if (at < TextRooms[c].first || at + length > TextRooms[c].second) at = TextRooms[c].first;
    if (c < static_cast<int64_t>(texts.size())) {
      MemCpy(cMint + at, texts[c].data(), length);
    } else {
      cMint[at] = '\0';
    }
    StoreCell<uint64_t>(GetCTilePtr(r, c, 0), at);
    StoreCell<uint16_t>(GetCTilePtr(r, c, 1), static_cast<uint16_t>(length));
    cMintSize += length;
  }
}

uint64_t MiniFrad::CopyColumnTexts(int64_t col, int64_t first, int64_t end, char* dst, uint64_t at,
                                   uint64_t limit, char* offsets) const {
  if (first >= end) return at;
  const auto span = TextSpan(col, first, end - 1);
  const uint64_t length = std::min(span.second - span.first, limit - std::min(at, limit));
  MemCpy(dst + at, cMint + span.first, length);
  MoveTextOffsets(offsets, GetCTilePtr(first, col, 0), static_cast<uint64_t>(end - first), span.first, at);
  return at + length;
}

void MiniFrad::PackTexts() {
  uint64_t total = 0;
  for (int64_t c = 0; c < NbCols && NbRows > 0; ++c) {
    if (!IsTextColumn(c)) continue;
    const auto span = TextSpan(c, 0, NbRows - 1);
    total += span.second - span.first;
  }
  AppCore::CharBuffer packed(static_cast<unsigned long>(total));
  uint64_t at = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (IsTextColumn(c)) at = CopyColumnTexts(c, 0, NbRows, packed.data, at, total, GetCTilePtr(0, c, 0));
  }
  MintBuf = std::move(packed);
  TextRooms.clear();
  RefreshBlocks();
}

void MiniFrad::CopyImageBlocks(char* tile, char* text) const {
  if (TextRooms.empty()) {
    CopyTightTile(tile);
    MemCpy(text, cMint, cMintSize);
    return;
  }
  CopyRangeImageBlocks(0, NbRows, tile, text);
}

uint64_t MiniFrad::RangeTextSize(int64_t first, int64_t end) const {
  uint64_t size = 0;
  for (int64_t c = 0; c < NbCols && first < end; ++c) {
    if (!IsTextColumn(c)) continue;
    const auto span = TextSpan(c, first, end - 1);
    size += span.second - span.first;
  }
  return size;
}

void MiniFrad::CopyRangeImageBlocks(int64_t first, int64_t end, char* tile, char* text) const {
  CopyTightTile(tile, first, end);
  const uint64_t rows = static_cast<uint64_t>(end - first);
  const uint64_t limit = first == 0 && end == NbRows ? cMintSize : RangeTextSize(first, end);
  uint64_t at = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (!IsTextColumn(c)) continue;
    at = CopyColumnTexts(c, first, end, text, at, limit, tile + static_cast<uint64_t>(ColOffsets[c]) * rows);
  }
}

uint64_t MiniFrad::RowBytes(int64_t first, int64_t end) const {
  if (first < 0 || first > end || end > NbRows) return 0;
  return static_cast<uint64_t>(end - first) * RowStride + RangeTextSize(first, end);
}
