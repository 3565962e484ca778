// The layout of a text cell.
//
// A text column's slice of the fixed-width block "cTile" (column-major: column c occupies
// NbRows * ColStride[c] bytes from ColOffsets[c] * NbRows) holds first the NbRows unsigned
// 64-bit offsets in row order, then the NbRows unsigned 16-bit lengths in row order, so
// a text cell costs 10 bytes whatever the type's ByteSize. Offsets count bytes from the start
// of the text block "cMint"; texts carry no terminating byte.
//
// Length 0 is the empty text. Length 1 holding the byte 0 is null; a one-byte text of any
// other value (including '0') is that text.
//
// Layout of cMint, kept by every writer: the texts of one column are contiguous and in row
// order (offset[r + 1] == offset[r] + length[r]); blocks of different columns follow one
// another without overlap, in an order that is not fixed.
#ifndef TVX_TABLE_TEXTCELL_H_
#define TVX_TABLE_TEXTCELL_H_

#include <cstddef>
#include <cstdint>

#include "table/ColumnTypes.h"

constexpr uint32_t kTextOffsetBytes = 8;  // first entry of MiniFrad::TextStride
constexpr uint32_t kTextLengthBytes = 2;  // second entry of MiniFrad::TextStride
constexpr uint32_t kTextCellStride = kTextOffsetBytes + kTextLengthBytes;
constexpr uint32_t kMaxTextLength = 65535;  // texts longer than a column's size are cut

// Byte position in cTile of row `row`'s offset, for a text column starting at ColOffsets
// entry `col_offset` in a block laid out for `nb_rows` rows (the row count, or the row
// capacity of a heap table with spare rows).
inline constexpr size_t TextOffsetPosition(size_t col_offset, size_t nb_rows, size_t row) {
  return col_offset * nb_rows + kTextOffsetBytes * row;
}

// Byte position in cTile of row `row`'s length.
inline constexpr size_t TextLengthPosition(size_t col_offset, size_t nb_rows, size_t row) {
  return (col_offset + kTextOffsetBytes) * nb_rows + kTextLengthBytes * row;
}

// Rewrites `count` text offsets from `src` to `dst` (which may be `src`) for texts that
// moved from `from` to `to` in cMint.
inline void MoveTextOffsets(char* dst, const char* src, uint64_t count, uint64_t from,
                            uint64_t to) {
  for (uint64_t r = 0; r < count; ++r) {
    const uint64_t offset = LoadCell<uint64_t>(src + kTextOffsetBytes * r);
    StoreCell<uint64_t>(dst + kTextOffsetBytes * r, offset - from + to);
  }
}

// The null text cell is one byte 0. `text` points at the cell's bytes in cMint.
inline bool IsNullText(const char* text, uint16_t length) {
  return length == 1 && text[0] == '\0';
}

#endif  // TVX_TABLE_TEXTCELL_H_
