// A table inside a record container: reading, writing, views, links and combinations.
// The record set is described in table/TableRecords.h.
#include <algorithm>
#include <cstring>

#include "record/ByteStream.h"
#include "table/MiniFrad.h"
#include "table/TableRecords.h"

namespace {

bool IsContiguous(const ByteStream& bs) { return bs.mode == 2 || bs.mode == 3; }

// The block record `key` of bs: pointer and exact length (null and 0 when missing or empty).
char* BlockOf(ByteStream& bs, const char* key, uint64_t& size) {
  size = 0;
  char* p = reinterpret_cast<char*>(bs.GetBufferPtr(key, size));
  if (p == nullptr) size = 0;
  return p;
}

void ReadFormats(ByteStream& bs, std::vector<ColumnFormat>& formats) {
  std::vector<ByteStream> nested;
  if (bs.GetStreamVector(kKeyColFormat, nested) && !nested.empty()) {
    formats.resize(nested.size());
    for (size_t i = 0; i < nested.size(); ++i) {
      ByteStream& f = nested[i];
      f.GetString("Code", formats[i].Code);
      f.GetString("Formula", formats[i].Formula);
      f.GetInt32Vector("Theme", formats[i].Theme);
      f.GetString("Reference", formats[i].Reference);
      f.GetString("DisplayName", formats[i].DisplayName);
    }
    return;
  }
  std::vector<std::string> codes;  // the older form: format codes only
  if (bs.GetStringVector(kKeyColFormat, codes)) {
    formats.resize(codes.size());
    for (size_t i = 0; i < codes.size(); ++i) formats[i].Code = codes[i];
  }
}

}  // namespace

void MiniFrad::AddSchemaRecords(ByteStream& bs, const std::string& name, int64_t rows) const {
  bs.AddString(kKeyName, name.empty() ? Name : name);
  bs.AddInt64(kKeyNbCols, NbCols);
  bs.AddInt64(kKeyNbRows, rows);
  AddColumnRecords(bs);
}

void MiniFrad::AddColumnRecords(ByteStream& bs) const {
  bs.AddStringVector(kKeyColNames, ColNames);
  bs.AddInt32Vector(kKeyColTypes, ColTypes);
  bs.AddInt32Vector(kKeyColSizes, ColSizes);
  std::vector<ByteStream> formats;
  formats.reserve(ColFormat.size());
  for (const ColumnFormat& f : ColFormat) formats.push_back(f.ToByteStream());
  bs.AddStreamVector(kKeyColFormat, formats);
}

bool MiniFrad::SchemaReadable() const {
  const size_t cols = static_cast<size_t>(NbCols);
  if (NbCols < 0 || NbRows < 0 || ColNames.size() != cols || ColTypes.size() != cols ||
      ColSizes.size() != cols || (ColFormat.size() != cols && !ColFormat.empty())) {
    return false;
  }
  for (size_t c = 0; c < cols; ++c) {
    if (!IsValidColumnType(ColTypes[c])) return false;
    if (column_types_lookup[ColTypes[c]].StorageId == st_text &&
        (ColSizes[c] < 0 || static_cast<uint32_t>(ColSizes[c]) > kMaxTextLength)) {
      return false;
    }
  }
  return true;
}

bool MiniFrad::Load(ByteStream* bs, bool lock) {
  Clear();
  if (bs == nullptr) return false;
  bs->GetString(kKeyName, Name);
  bs->GetInt64(kKeyNbCols, NbCols);
  bs->GetInt64(kKeyNbRows, NbRows);
  bs->GetStringVector(kKeyColNames, ColNames);
  ReadFormats(*bs, ColFormat);
  bs->GetInt32Vector(kKeyColTypes, ColTypes);
  bs->GetInt32Vector(kKeyColSizes, ColSizes);
  // Check the counts, type ids and text sizes before deriving anything from them.
  if (!SchemaReadable()) {
    Clear();
    return false;
  }
  uint64_t tileSize = 0;
  uint64_t mintSize = 0;
  char* tile = BlockOf(*bs, kKeyTile, tileSize);
  char* mint = BlockOf(*bs, kKeyMint, mintSize);
  // A table without rows has an empty fixed-width block, whatever bytes its record holds.
  if (NbRows == 0) tileSize = 0;
  Loaded = true;
  if (lock || IsContiguous(*bs)) {
    Mode = 2;
    Locked = lock;
    Stream = lock ? nullptr : bs;
    cTile = tile;
    cTileSize = tileSize;
    cMint = mint;
    cMintSize = mintSize;
  } else {
    Mode = 1;
    TileBuf.Resize(static_cast<unsigned long>(tileSize));
    MintBuf.Resize(static_cast<unsigned long>(mintSize));
    RefreshBlocks();
    MemCpy(cTile, tile, tileSize);
    MemCpy(cMint, mint, mintSize);
  }
  SyncMetadata();
  if (!Validate(true)) {
    Clear();
    return false;
  }
  // Texts written elsewhere are read where they lie. Loading writes nothing, neither the
  // memory a view refers to nor the container (or the file it maps): the first change that
  // relies on the texts' layout lays them out afresh.
  ScatteredTexts = !TextsBackToBack();
  return true;
}

bool MiniFrad::LayOutTextsAfresh() {
  return !ScatteredTexts || KeepRows(std::vector<uint8_t>(static_cast<size_t>(NbRows), 1));
}

bool MiniFrad::FromByteStream(ByteStream& bs) { return Load(&bs, true); }

void MiniFrad::AddToByteStream(ByteStream& bs, const std::string& name) const {
  AddSchemaRecords(bs, name, NbRows);
  if (BlocksTight()) {
    bs.AddBuffer(kKeyTile, cTile, cTileSize);
    bs.AddBuffer(kKeyMint, cMint, cMintSize);
    return;
  }
  // Both records are reserved before either is written: a reservation may move the image.
  if (bs.AddBuffer(kKeyTile, cTileSize) != nullptr && bs.AddBuffer(kKeyMint, cMintSize) != nullptr) {
    uint64_t size = 0;
    char* tile = BlockOf(bs, kKeyTile, size);
    CopyImageBlocks(tile, BlockOf(bs, kKeyMint, size));
    return;
  }
  // A container that cannot reserve (or an empty record): hand it the bytes as a tight
  // table does.
  std::string tile(cTileSize, '\0');
  std::string text(cMintSize, '\0');
  CopyImageBlocks(tile.data(), text.data());
  bs.AddBuffer(kKeyTile, tile.data(), tile.size());
  bs.AddBuffer(kKeyMint, text.data(), text.size());
}

std::vector<ByteStreamSlotSpec> MiniFrad::PreAllocateInfo(const std::string& name) const {
  uint64_t names = 8 * (ColNames.size() + 2);
  for (const std::string& n : ColNames) names += n.size();
  uint64_t formats = 8 * (ColFormat.size() + 2);
  for (const ColumnFormat& f : ColFormat) {
    // 145 bytes: the image of a five-record container with its keys and empty values.
    formats += 145 + f.Code.size() + f.Formula.size() + f.Reference.size() +
               f.DisplayName.size() + 4 * f.Theme.size();
  }
  return {
      {kKeyName, dt_string, (name.empty() ? Name : name).size()},
      {kKeyNbCols, dt_int64, 0},
      {kKeyNbRows, dt_int64, 0},
      {kKeyColNames, dt_string_vector, names},
      {kKeyColTypes, dt_int32_vector, 4 * ColTypes.size() + 8},
      {kKeyColSizes, dt_int32_vector, 4 * ColSizes.size() + 8},
      {kKeyColFormat, dt_stream_vector, formats},
      {kKeyTile, dt_buffer, cTileSize},
      {kKeyMint, dt_buffer, cMintSize},
  };
}

ByteStream MiniFrad::ToByteStream(const std::string& name, const std::string& path) const {
  ByteStream bs(false);
  if (!path.empty()) bs.PreAllocate(PreAllocateInfo(name), path);
  AddToByteStream(bs, name);
  return bs;
}

void MiniFrad::AddViewToByteStream(int64_t r0, int64_t r1, ByteStream& bs,
                                   const std::string& name) const {
  const int64_t lo = std::clamp<int64_t>(std::min(r0, r1), 0, NbRows);
  const int64_t hi = std::clamp<int64_t>(std::max(r0, r1), 0, NbRows);
  const int64_t rows = hi - lo;
  AddSchemaRecords(bs, name, rows);
  bs.AddInt64(kKeyViewStart, lo);
  bs.AddInt64(kKeyNbRowsTotal, NbRows);
  if (rows == 0) {
    bs.AddBuffer(kKeyTile, nullptr, 0);
    bs.AddBuffer(kKeyMint, nullptr, 0);
    return;
  }
  uint64_t textBytes = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (IsTextColumn(c)) textBytes += CopyRowTexts(c, lo, hi, nullptr, 0, nullptr);
  }
  // Reserve both records before writing: a reservation may move a contiguous image. A
  // container that refuses them (read-only, or an image that cannot grow) gets no cells:
  // records it already holds under these keys are not ours to write.
  if (bs.AddBuffer(kKeyTile, static_cast<uint64_t>(rows) * RowStride) == nullptr ||
      bs.AddBuffer(kKeyMint, textBytes) == nullptr) {
    return;
  }
  uint64_t size = 0;
  char* tile = BlockOf(bs, kKeyTile, size);
  char* text = BlockOf(bs, kKeyMint, size);
  uint64_t at = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    char* slice = tile + static_cast<uint64_t>(ColOffsets[c]) * rows;
    if (!IsTextColumn(c)) {
      MemCpy(slice, GetCTilePtr(lo, c), static_cast<uint64_t>(ColStride[c]) * rows);
      continue;
    }
    at += CopyRowTexts(c, lo, hi, text, at, slice);
    MemCpy(slice + kTextOffsetBytes * rows, GetCTilePtr(lo, c, 1), kTextLengthBytes * rows);
  }
}

uint64_t MiniFrad::CopyRowTexts(int64_t col, int64_t lo, int64_t hi, char* dst, uint64_t at,
                                char* offsets) const {
  if (!ScatteredTexts) {  // one block
    const auto range = GetCMintRange(col, lo, hi - 1);
    if (offsets != nullptr) {
      MemCpy(dst + at, cMint + range.first, range.second - range.first);
      MoveTextOffsets(offsets, GetCTilePtr(lo, col, 0), static_cast<uint64_t>(hi - lo),
                      range.first, at);
    }
    return range.second - range.first;
  }
  uint64_t length = 0;
  for (int64_t r = lo; r < hi; ++r) {
    uint16_t n = 0;
    const char* bytes = GetCMintPtr(r, col, n);  // inside cMint: the table validated
    if (offsets != nullptr) {
      MemCpy(dst + at + length, bytes, n);
      StoreCell<uint64_t>(offsets + kTextOffsetBytes * (r - lo), at + length);
    }
    length += n;
  }
  return length;
}

ByteStream MiniFrad::GetViewByteStream(int64_t r0, int64_t r1, const std::string& name) const {
  ByteStream bs(false);
  AddViewToByteStream(r0, r1, bs, name);
  return bs;
}

void MiniFrad::SyncByteStream() {
  if (Locked || Mode != 2 || Stream == nullptr) return;
  Stream->AddInt64(kKeyNbCols, NbCols);
  Stream->AddInt64(kKeyNbRows, NbRows);
  AddColumnRecords(*Stream);
  // Records of another size move the image behind them, the blocks included.
  RefreshBlocks();
}

bool MiniFrad::LinkToByteStream(ByteStream& bs, const std::string& name) {
  Tighten();
  SyncMetadata();
  if (NbRows > 0 && !Validate(false)) return false;
  AddSchemaRecords(bs, name, NbRows);
  char* tile = reinterpret_cast<char*>(bs.AddBuffer(kKeyTile, cTileSize));
  char* mint = reinterpret_cast<char*>(bs.AddBuffer(kKeyMint, cMintSize));
  // Without both records the table would point at nothing: keep it as it is.
  if (tile == nullptr || mint == nullptr) return false;
  TileBuf.Clear();
  MintBuf.Clear();
  TileFile.ClearAll();
  MintFile.ClearAll();
  Mode = 2;
  Loaded = true;
  ScatteredTexts = false;  // the caller writes the cells
  if (IsContiguous(bs)) {
    // The table lives in the image from now on and grows through it; the cMint reservation
    // may have moved the cTile record.
    Stream = &bs;
    Locked = false;
    RefreshBlocks();
  } else {
    Stream = nullptr;
    Locked = true;
    cTile = tile;
    cMint = mint;
  }
  return true;
}

bool MiniFrad::CombineToByteStream(ByteStream& bs, const MiniFrad& first, const MiniFrad& second,
                                   const std::string& name) {
  if (!CanCombine(first, second)) return false;
  MiniFrad scratchA;
  MiniFrad scratchB;
  const MiniFrad& a = TextsInOrder(first, scratchA);
  const MiniFrad& b = TextsInOrder(second, scratchB);
  MiniFrad t;
  t.NbCols = a.NbCols;
  t.NbRows = a.NbRows + b.NbRows;
  t.ColNames = a.ColNames;
  t.ColTypes = a.ColTypes;
  t.ColFormat = a.ColFormat;
  t.ColSizes = CombineColSizes(a, b);
  t.cTileSize = a.cTileSize + b.cTileSize;
  t.cMintSize = a.cMintSize + b.cMintSize;
  t.SyncMetadata();
  return t.LinkToByteStream(bs, name) && Combine(a, b, t.cTile, t.cMint);
}
