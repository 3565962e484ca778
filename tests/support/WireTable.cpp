// Rebuilds a column table from its records: schema vectors, the column-major fixed-width
// block "cTile" and the text block "cMint".

#include <cstring>

#include "support/WireBytes.h"
#include "support/WireDecoder.h"

namespace testsupport {

namespace {

enum class Storage { kNull, kInt32, kInt64, kFloat, kDouble, kText };

struct ColumnKind {
  Storage storage;
  uint64_t stride;  // bytes per row in the fixed-width block
};

// How each column type id 0..20 stores its cells. Text cells are an 8-byte offset into the
// text block followed (in a separate array) by a 2-byte length.
bool KindOf(int32_t typeId, ColumnKind* out) {
  switch (typeId) {
    case 0: case 1: *out = {Storage::kNull, 0}; return true;
    case 2: *out = {Storage::kInt32, 4}; return true;
    case 3: case 20: *out = {Storage::kInt64, 8}; return true;
    case 4: *out = {Storage::kFloat, 4}; return true;
    case 5: case 8: case 9: case 13: case 14: case 15: case 16: case 17:
      *out = {Storage::kDouble, 8}; return true;
    case 6: case 7: case 10: case 11: case 12: case 18: case 19:
      *out = {Storage::kText, 10}; return true;
    default: return false;
  }
}

using wirebytes::Fail;

uint64_t LoadLE(const std::string& block, uint64_t at, unsigned width) { return wirebytes::Load(&block[at], width); }

const WireRecord* Need(const WireContainer& c, const char* key, uint8_t type, std::string* error) {
  const WireRecord* r = c.Find(key);
  if (r == nullptr) Fail(error, std::string("table record \"") + key + "\" missing");
  else if (r->type != type) {
    Fail(error, std::string("table record \"") + key + "\" has type code " + std::to_string(r->type));
    r = nullptr;
  }
  return r;
}

WireCell FixedCell(Storage s, const std::string& tile, uint64_t at) {
  switch (s) {
    case Storage::kInt32: {
      uint32_t bits = static_cast<uint32_t>(LoadLE(tile, at, 4));
      if (bits == 0x80000000u) return std::monostate{};
      return static_cast<int64_t>(static_cast<int32_t>(bits));
    }
    case Storage::kInt64: {
      uint64_t bits = LoadLE(tile, at, 8);
      if (bits == 0x8000000000000000ull) return std::monostate{};
      return static_cast<int64_t>(bits);
    }
    case Storage::kFloat: {
      uint32_t bits = static_cast<uint32_t>(LoadLE(tile, at, 4));
      if (bits == 0xFFFFFFFFu) return std::monostate{};  // only all bits set is null
      float f;
      std::memcpy(&f, &bits, 4);
      return f;
    }
    case Storage::kDouble: {
      uint64_t bits = LoadLE(tile, at, 8);
      if (bits == ~0ull) return std::monostate{};
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    default:
      return std::monostate{};
  }
}

// Fills column `c` of every row from the text block, checking that the column's texts
// lie inside the block, one after the other in row order, and within the column's size.
bool ReadTextColumn(const WireTable& t, size_t c, uint64_t base, const std::string& tile,
                    const std::string& mint, std::vector<std::vector<WireCell>>* rows, std::string* error) {
  uint64_t nRows = rows->size();
  uint64_t expected = 0;
  for (uint64_t r = 0; r < nRows; ++r) {
    uint64_t offset = LoadLE(tile, base + 8 * r, 8);
    uint64_t length = LoadLE(tile, base + 8 * nRows + 2 * r, 2);
    std::string where = "column \"" + t.colNames[c] + "\" row " + std::to_string(r);
    if (offset > mint.size() || length > mint.size() - offset) return Fail(error, where + ": text outside the text block");
    if (r > 0 && offset != expected) return Fail(error, where + ": texts of the column are not contiguous");
    if (t.colSizes[c] > 0 && length > static_cast<uint64_t>(t.colSizes[c]))
      return Fail(error, where + ": text longer than the column size");
    expected = offset + length;
    if (length == 1 && mint[offset] == '\0') (*rows)[r][c] = std::monostate{};
    else (*rows)[r][c] = mint.substr(offset, length);
  }
  return true;
}

bool ReadSchema(const WireContainer& c, WireTable* t, int64_t* nbCols, int64_t* nbRows, std::string* error) {
  const WireRecord *name, *cols, *rowsRec, *names, *types, *sizes;
  if (!(name = Need(c, "Name", wire::kString, error)) || !(cols = Need(c, "NbCols", wire::kInt64, error)) ||
      !(rowsRec = Need(c, "NbRows", wire::kInt64, error)) ||
      !(names = Need(c, "ColNames", wire::kStringVector, error)) ||
      !(types = Need(c, "ColTypes", wire::kInt32Vector, error)) ||
      !(sizes = Need(c, "ColSizes", wire::kInt32Vector, error)))
    return false;
  t->name = name->texts[0];
  *nbCols = std::get<int64_t>(cols->numbers[0]);
  *nbRows = std::get<int64_t>(rowsRec->numbers[0]);
  if (*nbCols < 0 || *nbRows < 0) return Fail(error, "negative column or row count");
  t->colNames = names->texts;
  for (const auto& n : types->numbers) t->colTypes.push_back(static_cast<int32_t>(std::get<int64_t>(n)));
  for (const auto& n : sizes->numbers) t->colSizes.push_back(static_cast<int32_t>(std::get<int64_t>(n)));
  uint64_t n = static_cast<uint64_t>(*nbCols);
  if (t->colNames.size() != n || t->colTypes.size() != n || t->colSizes.size() != n)
    return Fail(error, "column vectors disagree with NbCols");
  return true;
}

bool ReadFormats(const WireContainer& c, WireTable* t, std::string* error) {
  const WireRecord* f = c.Find("ColFormat");
  if (f == nullptr) return Fail(error, "table record \"ColFormat\" missing");
  if (f->type == wire::kStreamVector) {
    for (const auto& fmt : f->containers) {
      std::string code;
      fmt.GetText("Code", &code);
      t->formatCodes.push_back(code);
    }
  } else if (f->type == wire::kStringVector) {
    t->formatCodes = f->texts;  // the older form: format codes only
  } else {
    return Fail(error, "table record \"ColFormat\" has type code " + std::to_string(f->type));
  }
  if (!t->formatCodes.empty() && t->formatCodes.size() != t->colNames.size())
    return Fail(error, "column formats disagree with NbCols");
  return true;
}

}  // namespace

bool DecodeTable(const WireContainer& c, WireTable* out, std::string* error) {
  WireTable t;
  int64_t nbCols, nbRows;
  if (!ReadSchema(c, &t, &nbCols, &nbRows, error) || !ReadFormats(c, &t, error)) return false;
  c.GetInt("ViewStart", &t.viewStart);
  c.GetInt("NbRowsTotal", &t.nbRowsTotal);
  const WireRecord* tileRec = Need(c, "cTile", wire::kBuffer, error);
  if (tileRec == nullptr) return false;
  const WireRecord* mintRec = Need(c, "cMint", wire::kBuffer, error);
  if (mintRec == nullptr) return false;
  const std::string& tile = tileRec->texts[0];
  const std::string& mint = mintRec->texts[0];

  std::vector<ColumnKind> kinds(nbCols);
  uint64_t rowStride = 0;
  for (int64_t i = 0; i < nbCols; ++i) {
    if (!KindOf(t.colTypes[i], &kinds[i])) return Fail(error, "column type id " + std::to_string(t.colTypes[i]) + " out of range");
    rowStride += kinds[i].stride;
  }
  uint64_t rows = static_cast<uint64_t>(nbRows);
  if (rows > 0 && rowStride == 0) return Fail(error, "rows without cells");
  if ((rowStride > 0 && rows > tile.size() / rowStride) || tile.size() != rows * rowStride)
    return Fail(error, "cTile holds " + std::to_string(tile.size()) + " bytes, expected " + std::to_string(rows) +
                           " rows of " + std::to_string(rowStride));

  t.rows.assign(rows, std::vector<WireCell>(nbCols));
  uint64_t colOffset = 0;
  for (int64_t col = 0; col < nbCols; ++col) {
    uint64_t base = colOffset * rows;  // column-major: a column's slice starts here
    if (kinds[col].storage == Storage::kText) {
      if (!ReadTextColumn(t, col, base, tile, mint, &t.rows, error)) return false;
    } else if (kinds[col].storage != Storage::kNull) {
      for (uint64_t r = 0; r < rows; ++r) t.rows[r][col] = FixedCell(kinds[col].storage, tile, base + kinds[col].stride * r);
    }
    colOffset += kinds[col].stride;
  }
  *out = std::move(t);
  return true;
}

}  // namespace testsupport
