// MiniFrad life cycle, storage modes, block resizing, cell addressing and schema.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "record/ByteStream.h"
#include "table/MiniFrad.h"
#include "table/TableRecords.h"

namespace {

std::string BlockPath(const std::string& dir, const std::string& name, const char* suffix) {
  return (std::filesystem::path(dir) / (name + suffix)).string();
}

}  // namespace

MiniFrad::MiniFrad(MiniFrad&& other) noexcept { *this = std::move(other); }

MiniFrad& MiniFrad::operator=(MiniFrad&& other) noexcept {
  if (this == &other) return *this;
  Clear();
  cTileSize = other.cTileSize;
  cMintSize = other.cMintSize;
  cTile = other.cTile;
  cMint = other.cMint;
  Name = std::move(other.Name);
  Directory = std::move(other.Directory);
  NbCols = other.NbCols;
  NbRows = other.NbRows;
  ColNames = std::move(other.ColNames);
  ColTypes = std::move(other.ColTypes);
  ColSizes = std::move(other.ColSizes);
  ColFormat = std::move(other.ColFormat);
  ColStride = std::move(other.ColStride);
  ColOffsets = std::move(other.ColOffsets);
  RowStride = other.RowStride;
  RowCapacity = other.RowCapacity;
  RowStart = other.RowStart;
  TextRooms = std::move(other.TextRooms);
  ScatteredTexts = other.ScatteredTexts;
  Loaded = other.Loaded;
  Locked = other.Locked;
  DateSpecs = std::move(other.DateSpecs);
  Mode = other.Mode;
  TileBuf = std::move(other.TileBuf);
  MintBuf = std::move(other.MintBuf);
  Stream = other.Stream;
  TileFile = std::move(other.TileFile);
  MintFile = std::move(other.MintFile);
  // The heap blocks and mappings moved with their owners, so the pointers stay valid.
  other.Stream = nullptr;
  other.Clear();
  return *this;
}

MiniFrad::~MiniFrad() {
  TileFile.ClearAll();
  MintFile.ClearAll();
}

void MiniFrad::Clear() {
  cTileSize = cMintSize = 0;
  cTile = cMint = nullptr;
  Name.clear();
  Directory.clear();
  NbCols = NbRows = 0;
  ColNames.clear();
  ColTypes.clear();
  ColSizes.clear();
  ColFormat.clear();
  ColStride.clear();
  ColOffsets.clear();
  DateSpecs.clear();
  RowStride = 0;
  RowCapacity = RowStart = 0;
  TextRooms.clear();
  ScatteredTexts = false;
  Loaded = Locked = false;
  Mode = 0;
  TileBuf.Clear();
  MintBuf.Clear();
  Stream = nullptr;
  TileFile.ClearAll();
  MintFile.ClearAll();
}

void MiniFrad::New(const std::string& name) { New(name, std::string()); }

void MiniFrad::New(const std::string& name, const std::string& dir) {
  if (Loaded) Clear();
  Name = name;
  Directory = dir;
  Mode = 1;
  Loaded = true;
  RefreshBlocks();
  std::error_code error;
  if (dir.empty() || !std::filesystem::exists(dir, error)) return;
  TileFile.SetEngine(true);
  MintFile.SetEngine(true);
  if (TileFile.NewFile(BlockPath(dir, name, kTileFileSuffix), 1) &&
      MintFile.NewFile(BlockPath(dir, name, kMintFileSuffix), 1)) {
    Mode = 3;
    // The files hold one byte each (a mapped file is never empty); the blocks are empty.
    cTileSize = cMintSize = 0;
    RefreshBlocks();
    return;
  }
  TileFile.ClearAll();
  MintFile.ClearAll();
}

bool MiniFrad::Rename(const std::string& name, const std::string& dir) {
  if (Mode == 1) {
    Name = name;
    Directory = dir;
    return true;
  }
  if (Mode != 3) return true;
  const std::string oldTile = BlockPath(Directory, Name, kTileFileSuffix);
  const std::string oldMint = BlockPath(Directory, Name, kMintFileSuffix);
  const std::string newTile = BlockPath(dir, name, kTileFileSuffix);
  const std::string newMint = BlockPath(dir, name, kMintFileSuffix);
  // The files are moved while they stay open and mapped, so the blocks never go through a
  // reopen (which could fail, or skip leading bytes that look like a text signature).
  std::error_code error;
  std::filesystem::rename(oldTile, newTile, error);
  if (error) return false;
  std::filesystem::rename(oldMint, newMint, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::rename(newTile, oldTile, ignored);
    return false;
  }
  TileFile.mm.path = newTile;
  MintFile.mm.path = newMint;
  Name = name;
  Directory = dir;
  return true;
}

void MiniFrad::RefreshBlocks() {
  switch (Mode) {
    case 1:
      cTile = reinterpret_cast<char*>(TileBuf.data);
      // A block with spare rows is larger than the table's cells.
      cTileSize = RowCapacity > 0 ? static_cast<uint64_t>(NbRows) * RowStride : TileBuf.size;
      cMint = reinterpret_cast<char*>(MintBuf.data);
      // A block with room holds more than the texts in use, whose count is kept as they change.
      if (TextRooms.empty()) cMintSize = MintBuf.size;
      break;
    case 2:
      if (Stream != nullptr) {
        uint64_t size = 0;
        cTile = reinterpret_cast<char*>(Stream->GetBufferPtr(kKeyTile, size));
        cTileSize = size;
        size = 0;
        cMint = reinterpret_cast<char*>(Stream->GetBufferPtr(kKeyMint, size));
        cMintSize = size;
      }
      break;
    case 3:  // the sizes are the table's own: the files may hold one spare byte
      cTile = reinterpret_cast<char*>(TileFile.view);
      cMint = reinterpret_cast<char*>(MintFile.view);
      break;
    default:
      break;
  }
}

bool MiniFrad::ResizeBlock(bool tile, uint64_t size) {
  if (Locked || !Loaded) return false;
  const uint64_t oldSize = tile ? cTileSize : cMintSize;
  switch (Mode) {
    case 1:
      (tile ? TileBuf : MintBuf).Resize(size);
      break;
    case 2: {
      if (Stream == nullptr) return false;
      // A contiguous image resizes the record in place, keeping its bytes. A container that
      // left the contiguous modes stores a new record instead: keep the bytes by hand.
      const bool inPlace = Stream->mode == 2 || Stream->mode == 3;
      const char* block = tile ? cTile : cMint;
      std::string kept;
      if (!inPlace && block != nullptr) {
        kept.assign(block, std::min(size, oldSize));
      }
      char* value = Stream->AddBuffer(tile ? kKeyTile : kKeyMint, size);
      if (value == nullptr && size > 0) {
        RefreshBlocks();
        return false;
      }
      MemCpy(value, kept.data(), kept.size());
      break;
    }
    case 3: {
      AppCore::FileEngine& file = tile ? TileFile : MintFile;
      if (!file.ResizeFile(size)) {
        RefreshBlocks();
        return false;
      }
      (tile ? cTileSize : cMintSize) = size;
      break;
    }
    default:
      return false;
  }
  // Any resize may move the image or mapping: both blocks are fetched again.
  RefreshBlocks();
  // Bytes the table has not written yet, such as the gaps that later appends leave beside the
  // texts of dropped rows, are zero in every store, as a grown file gives them: images never
  // carry stale heap memory, and the same operations give the same bytes in every mode.
  if (size > oldSize) std::memset((tile ? cTile : cMint) + oldSize, 0, size - oldSize);
  return true;
}

bool MiniFrad::ResizeCTile(uint64_t size) {
  if (Locked || !Loaded) return false;
  Tighten();
  return ResizeBlock(true, size);
}
bool MiniFrad::ResizeCMint(uint64_t size) {
  if (Locked || !Loaded) return false;
  Tighten();
  return ResizeBlock(false, size);
}

char* MiniFrad::GetCMintPtr(int64_t row, int64_t col, uint16_t& length) const {
  if (!IsTextColumn(col)) return nullptr;
  const char* offsetCell = GetCTilePtr(row, col, 0);
  if (offsetCell == nullptr) return nullptr;
  const uint64_t offset = LoadCell<uint64_t>(offsetCell);
  const uint16_t size = LoadCell<uint16_t>(GetCTilePtr(row, col, 1));
  const uint64_t bound = MintBound();
  if (offset > bound || size > bound - offset) return nullptr;
  length = size;
  // Empty texts in an empty text block still get a pointer: null means "no text cell".
  static char noBytes = 0;
  return cMint != nullptr ? cMint + offset : &noBytes;
}

std::pair<uint64_t, uint64_t> MiniFrad::GetCMintRange(int64_t col, int64_t r0, int64_t r1) const {
  if (NbRows == 0 || MintBound() == 0 || cMint == nullptr || !IsTextColumn(col)) return {0, 0};
  int64_t lo = std::max<int64_t>(std::min(r0, r1), 0);
  int64_t hi = std::min<int64_t>(std::max(r0, r1), NbRows - 1);
  lo = std::min(lo, NbRows - 1);
  hi = std::max<int64_t>(hi, 0);
  return TextSpan(col, lo, hi);
}

std::pair<uint64_t, uint64_t> MiniFrad::GetCMintRange(int64_t col) const {
  return GetCMintRange(col, 0, NbRows - 1);
}

std::pair<uint64_t, uint64_t> MiniFrad::GetSize(int64_t r0, int64_t r1) const {
  if (NbRows == 0) return {0, 0};
  // r0 outside the rows (NbRows itself included) starts at the first row, r1 ends at the
  // last; the rows are then taken in order and lowered to the last row, so that the tile
  // and text bytes count the same rows and never a row that does not exist.
  const int64_t a = (r0 >= 0 && r0 <= NbRows) ? r0 : 0;
  const int64_t b = (r1 >= 0 && r1 <= NbRows) ? r1 : NbRows - 1;
  const int64_t lo = std::min({a, b, NbRows - 1});
  const int64_t hi = std::min(std::max(a, b), NbRows - 1);
  uint64_t text = 0;
  for (int64_t c = 0; c < NbCols; ++c) {
    const auto range = GetCMintRange(c, lo, hi);
    text += range.second - range.first;
  }
  return {RowStride * static_cast<uint64_t>(hi - lo + 1), text};
}

void MiniFrad::MemCpy(void* dst, const void* src, uint64_t n) {
  if (n > 0) std::memmove(dst, src, n);
}

void MiniFrad::SyncMetadata() {
  const size_t n = static_cast<size_t>(std::max<int64_t>(NbCols, 0));
  RowStride = 0;
  ColSizes.resize(n, 0);
  ColStride.resize(n, 0);
  ColOffsets.resize(n, 0);
  ColFormat.resize(n);
  DateSpecs.resize(n);
  for (size_t c = 0; c < n; ++c) {
    ColOffsets[c] = static_cast<int32_t>(RowStride);
    const int32_t type = (c < ColTypes.size()) ? ColTypes[c] : -1;
    int32_t stride = 0;
    if (IsValidColumnType(type)) {
      const ColumnTypes& row = column_types_lookup[type];
      if (row.StorageId == st_text) {
        stride = kTextCellStride;
      } else {
        stride = static_cast<int32_t>(row.ByteSize);
        ColSizes[c] = stride;
      }
      if (type == kDatetimeTypeId) DateSpecs[c].Set(ColFormat[c].Code);
    }
    ColStride[c] = stride;
    RowStride += static_cast<uint64_t>(stride);
  }
}

bool MiniFrad::Set(int64_t nbRows, std::vector<std::string> names, std::vector<int32_t> types,
                   std::vector<int32_t> sizes) {
  if (Locked || nbRows < 0) return false;
  const size_t cols = std::min(names.size(), types.size());
  for (size_t c = 0; c < cols; ++c) {
    if (!IsValidColumnType(types[c])) return false;
    if (c < sizes.size() && column_types_lookup[types[c]].StorageId == st_text &&
        (sizes[c] < 0 || static_cast<uint32_t>(sizes[c]) > kMaxTextLength)) {
      return false;
    }
  }
  if (!Loaded) New(Name, Directory);
  Tighten();
  names.resize(cols);
  types.resize(cols);
  // A text column whose size is left out gets its type's own default maximum length.
  for (size_t c = sizes.size(); c < cols; ++c) {
    sizes.push_back(static_cast<int32_t>(column_types_lookup[types[c]].ByteSize));
  }
  sizes.resize(cols);
  const int64_t oldRows = NbRows;
  NbRows = nbRows;
  NbCols = static_cast<int64_t>(cols);
  ColNames = std::move(names);
  ColTypes = std::move(types);
  ColSizes = std::move(sizes);
  ColFormat.assign(cols, ColumnFormat());
  SyncMetadata();
  ScatteredTexts = false;  // the cells are the caller's to write
  uint64_t tileSize = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(NbRows), RowStride, &tileSize) ||
      !ResizeCTile(tileSize)) {
    NbRows = oldRows;
    return false;
  }
  SyncByteStream();
  return true;
}

bool MiniFrad::PushColumn(const std::string& name, int32_t type, int32_t size) {
  if (Locked || !IsValidColumnType(type)) return false;
  Tighten();
  ColNames.push_back(name);
  ColTypes.push_back(type);
  ColSizes.resize(static_cast<size_t>(NbCols));
  ColSizes.push_back(size);
  ++NbCols;
  SyncMetadata();
  return true;
}

bool MiniFrad::PopColumn() {
  if (Locked || NbCols < 1) return false;
  Tighten();
  --NbCols;
  ColNames.resize(static_cast<size_t>(NbCols));
  ColTypes.resize(static_cast<size_t>(NbCols));
  SyncMetadata();
  return true;
}
