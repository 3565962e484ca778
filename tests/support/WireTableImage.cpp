// Writes a WireTable as the records of a table image (see WireEncoder.h).

#include <cstring>

#include "support/WireBytes.h"
#include "support/WireEncoder.h"

namespace testsupport {

namespace {

using wirebytes::Put;

bool IsText(int32_t type) {
  return type == 6 || type == 7 || type == 10 || type == 11 || type == 12 || type == 18 || type == 19;
}

// Byte width of a fixed-width column type (0 for the NULL types and unknown ids).
unsigned FixedWidth(int32_t type) {
  switch (type) {
    case 2: case 4: return 4;
    case 3: case 5: case 8: case 9: case 13: case 14: case 15: case 16: case 17: case 20: return 8;
    default: return 0;
  }
}

// A numeric cell as a double, false for null and texts.
bool AsDouble(const WireCell& cell, double* out) {
  if (auto i = std::get_if<int64_t>(&cell)) *out = static_cast<double>(*i);
  else if (auto f = std::get_if<float>(&cell)) *out = *f;
  else if (auto d = std::get_if<double>(&cell)) *out = *d;
  else return false;
  return true;
}

void PutFixedCell(std::string* tile, int32_t type, const WireCell& cell) {
  double d = 0;
  bool present = AsDouble(cell, &d);
  const int64_t* i = std::get_if<int64_t>(&cell);
  switch (type) {
    case 2: Put(tile, present ? static_cast<uint32_t>(i ? static_cast<int32_t>(*i) : static_cast<int32_t>(d)) : 0x80000000u, 4); return;
    case 3: case 20: Put(tile, present ? static_cast<uint64_t>(i ? *i : static_cast<int64_t>(d)) : 0x8000000000000000ull, 8); return;
    case 4: {
      uint32_t bits = 0xFFFFFFFFu;
      float f = static_cast<float>(d);
      if (present) std::memcpy(&bits, &f, 4);
      Put(tile, bits, 4);
      return;
    }
    default: {
      uint64_t bits = ~0ull;
      if (present) std::memcpy(&bits, &d, 8);
      Put(tile, bits, 8);
    }
  }
}

void PutTextColumn(std::string* tile, std::string* mint, const WireTable& t, size_t col) {
  std::vector<std::string> texts;
  for (const auto& row : t.rows) {
    const WireCell& cell = row[col];
    texts.push_back(std::holds_alternative<std::monostate>(cell) ? std::string(1, '\0') : CellText(cell));
  }
  for (const auto& text : texts) {
    Put(tile, mint->size(), 8);
    *mint += text;
  }
  for (const auto& text : texts) Put(tile, text.size(), 2);
}

}  // namespace

WireImage TableImage(const WireTable& t) {
  std::vector<int32_t> sizes;
  std::vector<WireImage> formats;
  std::string tile, mint;
  for (size_t c = 0; c < t.colNames.size(); ++c) {
    int32_t type = t.colTypes[c];
    int32_t size = c < t.colSizes.size() ? t.colSizes[c] : 0;
    sizes.push_back(IsText(type) ? (size > 0 ? size : 65535) : static_cast<int32_t>(FixedWidth(type)));
    formats.push_back(WireImage()
                          .Text("Code", c < t.formatCodes.size() ? t.formatCodes[c] : "")
                          .Text("Formula", "")
                          .Int32Vector("Theme", {})
                          .Text("Reference", "")
                          .Text("DisplayName", ""));
    if (IsText(type)) PutTextColumn(&tile, &mint, t, c);
    else if (FixedWidth(type) > 0)
      for (const auto& row : t.rows) PutFixedCell(&tile, type, row[c]);
  }
  WireImage image;
  image.Text("Name", t.name)
      .Int64("NbCols", static_cast<int64_t>(t.colNames.size()))
      .Int64("NbRows", static_cast<int64_t>(t.rows.size()))
      .StringVector("ColNames", t.colNames)
      .Int32Vector("ColTypes", t.colTypes)
      .Int32Vector("ColSizes", sizes)
      .StreamVector("ColFormat", formats)
      .Buffer("cTile", tile)
      .Buffer("cMint", mint);
  return image;
}

}  // namespace testsupport
