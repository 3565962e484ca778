// MiniFrad: the column table.
//
// A table is a schema (column names, type ids from column_types_lookup, sizes, formats) and
// two byte blocks: "cTile" with the fixed-width cells and "cMint" with the bytes of the text
// cells (layout in table/TextCell.h). cTile is column-major: column c is the slice of
// NbRows * ColStride[c] bytes starting at ColOffsets[c] * NbRows, so the row count is part of
// every cell address and changing it moves every slice. Cells are mostly unaligned: read and
// write them with memcpy.
//
// That tight layout is what every image, file and container holds. A heap table (mode 1)
// that gains rows lays its slices out for a row capacity instead (ColOffsets[c] * capacity),
// which grows geometrically, so appending rows one at a time moves the slices only when the
// capacity runs out. Such a heap block is read through GetCTilePtr, whose column slices stay
// contiguous; the raw bytes at cTile follow the tight layout only in modes 2 and 3, or in
// mode 1 after an operation other than IncreaseRows/AddRow changed the block. Images
// (AddToByteStream and the operations built on it) always hold the tight layout.
//
// Storage modes (Mode): 0 none; 1 heap (TileBuf, MintBuf); 2 the values of the buffer records
// "cTile" and "cMint" of a record container (Stream, not owned, or a container that was only
// viewed when Stream is null: such a table cannot grow); 3 two memory-mapped files
// Directory/Name + ".cTile" and ".cMint" holding exactly the blocks' bytes. In every mode
// cTile/cMint and cTileSize/cMintSize describe the current blocks; they are fetched again
// after every operation that can move them. cTileSize and cMintSize are exact even where the
// store is larger (a mapped file is never empty).
//
// A Locked table is a read-only view: every operation that resizes or rewrites it refuses.
// A table in mode 2 refers to its container's memory: the container must outlive it, and
// changes made to the container behind the table's back invalidate its block pointers.
//
// Failures are reported by a false or null result and leave the table as it was unless a
// method says otherwise; a failed heap allocation throws std::bad_alloc. A table has no lock
// of its own and is used by one thread at a time.
#ifndef TVX_TABLE_MINIFRAD_H_
#define TVX_TABLE_MINIFRAD_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/CharBuffer.h"
#include "foundation/FileEngine.h"
#include "table/ColumnFormat.h"
#include "table/ColumnTypes.h"
#include "table/IO_Datetimes.h"
#include "table/TextCell.h"

class ByteStream;
struct ByteStreamSlotSpec;

class MiniFrad {
 public:
  // Widths of a text cell's offset and length (table/TextCell.h).
  static constexpr uint32_t TextStride[2] = {kTextOffsetBytes, kTextLengthBytes};

  uint64_t cTileSize = 0;
  uint64_t cMintSize = 0;
  char* cTile = nullptr;
  char* cMint = nullptr;
  std::string Name;
  std::string Directory;
  int64_t NbCols = 0;
  int64_t NbRows = 0;
  std::vector<std::string> ColNames;
  std::vector<int32_t> ColTypes;
  std::vector<int32_t> ColSizes;
  std::vector<ColumnFormat> ColFormat;
  std::vector<int32_t> ColStride;
  std::vector<int32_t> ColOffsets;
  uint64_t RowStride = 0;
  bool Loaded = false;
  bool Locked = false;
  std::vector<IO_Datetimes::DateTimeSpec> DateSpecs;
  uint32_t Mode = 0;
  AppCore::CharBuffer TileBuf;
  AppCore::CharBuffer MintBuf;
  ByteStream* Stream = nullptr;
  AppCore::FileEngine TileFile{false};
  AppCore::FileEngine MintFile{false};

  // ---- Life cycle and storage (MiniFradStorage.cpp) ----
  MiniFrad() = default;
  MiniFrad(MiniFrad&& other) noexcept;
  MiniFrad& operator=(MiniFrad&& other) noexcept;
  MiniFrad(const MiniFrad&) = delete;
  MiniFrad& operator=(const MiniFrad&) = delete;
  ~MiniFrad();

  void Clear();
  // Empty heap table named `name`.
  void New(const std::string& name);
  // With a non-empty existing `dir`, a table in the two files dir/name.cTile and
  // dir/name.cMint (created or truncated); when dir does not exist or a file cannot be
  // created, a heap table with Directory set.
  void New(const std::string& name, const std::string& dir);
  // Heap table: new name and directory. File table: moves both files and reopens them; false
  // (table cleared) when a move or reopen fails. Other modes: nothing, true.
  bool Rename(const std::string& name, const std::string& dir);
  // Resize a block to exactly `size` bytes; new bytes are zero in every mode. False when
  // locked, not loaded, or the store cannot resize.
  bool ResizeCTile(uint64_t size);
  bool ResizeCMint(uint64_t size);

  // ---- Cell addressing ----
  // For (row, col) in range: the cell; for a text column its 64-bit offset, or its 16-bit
  // length with part 1. With row 0, the start of the column's slice (or length array).
  char* GetCTilePtr(int64_t row, int64_t col, int part = 0) const;
  // The bytes of a text cell in cMint and their count; null for other columns, out of range,
  // or a reference outside cMint. Never null for a valid text cell, even an empty one.
  char* GetCMintPtr(int64_t row, int64_t col, uint16_t& length) const;
  // [start, end) of the text bytes of rows min(r0, r1)..max(r0, r1), clamped to the rows.
  std::pair<uint64_t, uint64_t> GetCMintRange(int64_t col, int64_t r0, int64_t r1) const;
  std::pair<uint64_t, uint64_t> GetCMintRange(int64_t col) const;
  // (tile bytes, text bytes) of a row range.
  std::pair<uint64_t, uint64_t> GetSize(int64_t r0, int64_t r1) const;
  static void MemCpy(void* dst, const void* src, uint64_t n);

  // ---- Schema ----
  // Strides, offsets, RowStride and sizes of non-text columns from NbCols and ColTypes; date
  // formats from the formats. Vectors are cut or padded to NbCols.
  void SyncMetadata();
  // Defines the schema: nbRows rows with uninitialised cells. Missing sizes of text columns
  // become the type's default maximum length. Nothing happens when locked. False when a type
  // id is not one of the 21, a text size lies outside 0..65535 or cTile cannot be sized.
  bool Set(int64_t nbRows, std::vector<std::string> names, std::vector<int32_t> types,
           std::vector<int32_t> sizes);
  // Append or remove the last column of the schema without touching the blocks.
  bool PushColumn(const std::string& name, int32_t type, int32_t size);
  bool PopColumn();
  // Appends a column; returns its first cell, or null when the table has no rows (the column
  // is appended all the same) or on failure (nothing changed). Cells are not initialised.
  char* NewColumn(const std::string& name, int32_t type, int32_t size);
  // Appends a text column; rows past the texts get empty texts, or null texts with nullFill.
  bool AddColumn(const std::string& name, const std::vector<std::string>& texts, bool nullFill,
                 int32_t size);
  // Appends a DATETIME column from nanosecond values or from texts; further rows are null.
  bool AddColumnDT(const std::string& name, const int64_t* values, int64_t count,
                   const std::string& format);
  bool AddColumnDT(const std::string& name, const std::vector<std::string>& texts,
                   const std::string& format);
  // False (nothing changed) when locked or an index is not a column.
  bool DeleteColumns(std::vector<int64_t> indices);

  // ---- Rows (MiniFradRows.cpp) ----
  // Appends n rows with uninitialised cells. A heap table keeps spare rows, so appending is
  // amortised constant time per row; other modes resize their store to the exact size.
  bool IncreaseRows(int64_t n);
  bool DecreaseRows(int64_t n);
  bool DeleteAllRows();
  // Indices out of range are ignored.
  bool DeleteRows(const std::vector<int64_t>& indices);

  // Checks the invariants of a valid table (counts, strides, block sizes; with deep, every
  // type id and text size and every text reference inside cMint, contiguous per column and
  // without overlap between columns).
  bool Validate(bool deep) const;

  // ---- New tables from existing ones (MiniFradGenerate.cpp) ----
  // `rows` must be valid row indices (invalid ones give an empty table).
  MiniFrad GenerateFromRows(const int64_t* rows, int64_t n, const std::string& name,
                            const std::string& dir) const;
  MiniFrad GenerateFromMask(const std::vector<uint8_t>& mask, const std::string& name,
                            const std::string& dir) const;
  MiniFrad GenerateCopy(const std::string& name, const std::string& dir) const;
  static std::vector<int32_t> CombineColSizes(const MiniFrad& a, const MiniFrad& b);
  // The rows of a then b into blocks sized (a.NbRows + b.NbRows) * RowStride and
  // a.cMintSize + b.cMintSize, every byte written (text bytes that no row refers to, left
  // by dropped rows, become zeros at the end). False when the schemas differ.
  static bool Combine(const MiniFrad& a, const MiniFrad& b, char* tile, char* text);
  static MiniFrad CombineToMiniFrad(const MiniFrad& a, const MiniFrad& b,
                                    const std::string& name);
  static void DedupVector(std::vector<int64_t>& values);

  // ---- Cells and text (MiniFradText.cpp, MiniFradCells.cpp) ----
  // Appends one row; text i goes to column i, missing texts give nulls. Unparsable numbers
  // give nulls. False only when locked or a block cannot grow (the row is then removed).
  bool AddRow(const std::vector<std::string>& texts);
  bool ToString(int64_t col, int64_t row, std::string& out) const;
  // out must hold NbRows entries (count < 1) or count entries.
  bool ToStringVector(std::vector<std::string>& out, int64_t col, int64_t count,
                      const uint32_t* rows) const;
  bool ToDouble(int64_t col, int64_t row, double& out, bool excel) const;
  // NaN, infinite or out-of-range float cells give the BIGINT null value.
  bool ToInt64(int64_t col, int64_t row, int64_t& out, bool excel) const;
  bool ToBuffer(int64_t col, int64_t row, AppCore::CharBuffer& buffer) const;
  bool ValueIsNull(int64_t col, int64_t row) const;
  static MiniFrad GenMiniFrad(const std::string& name, const std::vector<int32_t>& types,
                              const std::vector<std::vector<std::string>>& rows,
                              const std::vector<std::string>& names);

  // ---- Inside a record container (MiniFradStream.cpp; record set in TableRecords.h) ----
  // Replaces the table with the one held by bs. With lock, a read-only view of bs's memory;
  // without, inside bs when bs is contiguous, else a heap copy. The table is checked before
  // use; a malformed one is refused (false, table cleared).
  bool Load(ByteStream* bs, bool lock);
  bool FromByteStream(ByteStream& bs);
  void AddToByteStream(ByteStream& bs, const std::string& name) const;
  ByteStream ToByteStream(const std::string& name, const std::string& path) const;
  std::vector<ByteStreamSlotSpec> PreAllocateInfo(const std::string& name) const;
  // Rows min(r0, r1) .. max(r0, r1) - 1 (clamped) as a table of their own. A container
  // that refuses the cell records (read-only) gets the schema records only.
  void AddViewToByteStream(int64_t r0, int64_t r1, ByteStream& bs, const std::string& name) const;
  ByteStream GetViewByteStream(int64_t r0, int64_t r1, const std::string& name) const;
  // Rewrites the schema and row-count records of the container holding the table (mode 2
  // with Stream set) and fetches the block pointers again.
  void SyncByteStream();
  // Writes the schema into bs and makes the table's blocks bs's reserved (unwritten) cell
  // records. False, the table unchanged, for counts that disagree or a container that
  // refuses the records (read-only).
  bool LinkToByteStream(ByteStream& bs, const std::string& name);
  // The rows of a, then those of b, written as one table into bs; false as for Link.
  static bool CombineToByteStream(ByteStream& bs, const MiniFrad& a, const MiniFrad& b,
                                  const std::string& name);

  // ---- Dumps (MiniFradDump.cpp) ----
  std::string LogInfo() const;
  std::string LogRows(int64_t nRows, const std::string& title, bool detailed) const;

 private:
  bool IsTextColumn(int64_t col) const;
  bool IsDatetime(int64_t col) const;
  // StorageId of a column's type; 0 for a column index or type id out of range.
  uint32_t StorageOf(int64_t col) const;
  // Rows the column slices of cTile are laid out for: NbRows, or the heap table's row
  // capacity while it has spare rows. The one place where slice addresses are derived.
  int64_t SliceRows() const { return std::max(RowCapacity, NbRows); }
  // (offset factor, width) of each part of a slice: a part of c rows starts at factor * c.
  // A text column has two parts (offsets, then lengths).
  std::vector<std::pair<uint64_t, uint64_t>> SliceParts() const;
  // Own buffer: makes room for `rows` rows (rows >= NbRows) by growing the row capacity
  // geometrically, and sets NbRows. New cells are not initialised.
  bool ReserveRows(int64_t rows);
  // Back to the tight layout (heap block of exactly NbRows * RowStride bytes): every
  // operation that changes the schema, shrinks the rows or hands the block on starts here.
  void Tighten();
  // The tight image of cTile (cTileSize bytes) into dst, one copy per slice part.
  void CopyTightTile(char* dst) const;
  // Fetches cTile/cMint (and, outside mode 3, their sizes) again from the current store.
  void RefreshBlocks();
  bool ResizeBlock(bool tile, uint64_t size);
  // Fills the fixed-width cell (col, row) from a text; a missing text or one that does not
  // parse gives the column's null value. Text and "NULL" columns are left alone.
  void ParseCell(int64_t col, int64_t row, const char* text, uint64_t length, bool missing);
  // Writes the text cells of the new row r (AddRow steps for text columns), moving the
  // text blocks that must make room. False when cMint cannot grow.
  bool AddTextCells(int64_t r, const std::vector<std::string>& texts);
  // Nanoseconds of a recognised date-time text, else the null value.
  static int64_t ParseDatetime(const char* text, uint64_t length);
  // A new table (New(name, dir)) with this table's schema and no rows.
  MiniFrad EmptyCopyOfSchema(const std::string& name, const std::string& dir) const;
  // Moves the first keptRows cells of every column slice from its place in a table of
  // fromRows rows to its place in a table of toRows rows.
  void MoveSlices(int64_t fromRows, int64_t toRows, int64_t keptRows);
  // Same column count, names, types and formats (sizes may differ).
  static bool CanCombine(const MiniFrad& a, const MiniFrad& b);
  // Counts agree with the vectors, type ids are valid and text sizes fit 16 bits: what must
  // hold before anything is derived from a schema read from outside.
  bool SchemaReadable() const;
  // "Name" (name, or Name when empty), "NbCols", "NbRows" = rows, then AddColumnRecords.
  void AddSchemaRecords(ByteStream& bs, const std::string& name, int64_t rows) const;
  // "ColNames", "ColTypes", "ColSizes", "ColFormat".
  void AddColumnRecords(ByteStream& bs) const;

  // Row capacity of a heap block laid out for spare rows; 0 when the layout is tight.
  int64_t RowCapacity = 0;
};

std::string HeaderDivider(const std::string& title, int width, const std::string& fill);
std::string Divider(int count, const std::string& fill);

#endif  // TVX_TABLE_MINIFRAD_H_
