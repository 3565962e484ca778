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
// that gains or drops rows at its ends keeps room instead, so that appending a row and
// dropping the oldest rows cost no more than the rows they touch:
// - its slices are laid out for a row capacity (ColOffsets[c] * capacity), which grows
//   geometrically, and the table's rows may start past the first row of each slice (rows
//   dropped from the front are only skipped until the next regrowth reclaims them);
// - each text column's texts lie in a region of their own with room behind them; a column
//   whose region is full moves all regions apart at once, with room in proportion to each.
// Such a heap table is read through GetCTilePtr and GetCMintPtr, whose column slices and
// per-column texts stay contiguous; the raw bytes at cTile and cMint (and cMintSize, the
// bytes of the texts in use) follow the tight layout only in modes 2 and 3, or in mode 1
// after an operation other than IncreaseRows, AddRow and DropFirstRows changed the table.
// Images (AddToByteStream and every operation built on it) and copies always hold the tight
// layout, texts packed in column order; only the texts of rows dropped by DecreaseRows stay
// behind their columns' texts, unreferenced, as in every store, until the heap table's next
// append or row deletion packs its texts again.
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
  // (tile bytes, text bytes) of rows min(r0, r1)..max(r0, r1), r0 taken as 0 and r1 as the
  // last row when outside 0..NbRows, both then lowered to the last row.
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
  // Appends n rows with uninitialised cells (in a heap table, text cells are empty texts). A
  // heap table keeps spare rows, so appending is amortised constant time per row; other
  // modes resize their store to the exact size. False for a schema without cells (only
  // DROP and NULL columns): rows of such a table would not validate, load or send.
  bool IncreaseRows(int64_t n);
  // Drops the last n rows (every row when n >= NbRows). The text block keeps its size and
  // bytes: the dropped rows' texts stay in it, unreferenced.
  bool DecreaseRows(int64_t n);
  bool DeleteAllRows();
  // Indices out of range are ignored.
  bool DeleteRows(const std::vector<int64_t>& indices);
  // Drops the first n rows (every row when n >= NbRows; nothing when n <= 0); the rows after
  // them keep their order and cells. A heap table does it in time independent of the rows
  // it keeps (their bytes stay where they are until appends need the room); other modes
  // rewrite their blocks as DeleteRows does. False only when locked or not loaded.
  bool DropFirstRows(int64_t n);
  // Bytes of the cells of rows [first, end) in an image of them alone: their fixed-width
  // cells and their texts. For a table built by appending rows; 0 for a range that is not
  // one of the table's.
  uint64_t RowBytes(int64_t first, int64_t end) const;

  // Checks the invariants of a valid table (counts, strides, block sizes; with deep, every
  // type id and text size and every text reference inside the text block). Texts need not
  // lie back to back (see Load).
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
  // by dropped rows, become zeros at the end). False when the schemas differ, or when a
  // table's texts are not back to back (loaded so and not changed since: see Load), whose
  // texts need not fit; CombineToMiniFrad and CombineToByteStream lay such a table's texts
  // out in a copy first.
  static bool Combine(const MiniFrad& a, const MiniFrad& b, char* tile, char* text);
  static MiniFrad CombineToMiniFrad(const MiniFrad& a, const MiniFrad& b,
                                    const std::string& name);
  static void DedupVector(std::vector<int64_t>& values);

  // ---- Cells and text (MiniFradText.cpp, MiniFradCells.cpp) ----
  // Appends one row; text i goes to column i, missing texts give nulls. Unparsable numbers
  // give nulls. False when locked, for a schema without cells (as IncreaseRows), or when a
  // block cannot grow (the row is then removed).
  bool AddRow(const std::vector<std::string>& texts);
  // Whether a row has any bytes of cells; a table whose rows have none can hold no rows.
  bool HoldsCells() const { return RowStride > 0; }
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
  // without, inside bs when bs is contiguous, else a heap copy. Views and tables inside bs
  // refer to bs's memory: bs must outlive them. The table is checked before use; a malformed
  // one is refused (false, table cleared). Load writes nothing, neither bs nor the file bs
  // maps: texts that are not back to back in row order per column, or columns whose texts
  // share bytes, are read where they lie (cells, images, copies and Validate take them as
  // they stand; views and combinations pack them) and laid out afresh, in the table's own
  // store, by the first change that relies on their layout: AddRow, a heap table's
  // IncreaseRows, DropFirstRows, DeleteRows, or deleting a text column.
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
  // records. In a contiguous bs the table lives on in bs and grows through it (Stream = &bs);
  // otherwise it is a locked view (Stream null). False, the table unchanged, for counts that
  // disagree or a container that refuses the records (read-only).
  bool LinkToByteStream(ByteStream& bs, const std::string& name);
  // The rows of a, then those of b, written as one table into bs; false as for Link.
  static bool CombineToByteStream(ByteStream& bs, const MiniFrad& a, const MiniFrad& b,
                                  const std::string& name);

  // ---- Dumps (MiniFradDump.cpp) ----
  std::string LogInfo() const;
  std::string LogRows(int64_t nRows, const std::string& title, bool detailed) const;

 private:
  friend class TableImage;  // writes the image from the schema records and the blocks

  bool IsTextColumn(int64_t col) const;
  bool IsDatetime(int64_t col) const;
  // StorageId of a column's type; 0 for a column index or type id out of range.
  uint32_t StorageOf(int64_t col) const;
  // Rows the column slices of cTile are laid out for: NbRows, or the heap table's row
  // capacity while it has spare rows; row r of the table is row RowStart + r of each slice.
  int64_t SliceRows() const { return std::max(RowCapacity, NbRows); }
  // (offset factor, width) of each part of a slice: a part of c rows starts at factor * c.
  // A text column has two parts (offsets, then lengths).
  std::vector<std::pair<uint64_t, uint64_t>> SliceParts() const;
  // Own buffer: makes room for `rows` rows (rows >= NbRows) by growing the row capacity
  // geometrically (or reclaiming the rows dropped from the front), and sets NbRows. New
  // cells are not initialised. False when the block's size would overflow.
  bool ReserveRows(int64_t rows);
  // Back to the tight layout (heap blocks of exactly NbRows * RowStride bytes and of the
  // texts in use, packed in column order): every operation that changes the schema, shrinks
  // the rows or hands the blocks on starts here.
  void Tighten();
  // The tight image of cTile for rows [first, end) ((end - first) * RowStride bytes; end -1:
  // NbRows) into dst, one copy per slice part.
  void CopyTightTile(char* dst, int64_t first = 0, int64_t end = -1) const;
  // Fetches cTile/cMint (and, outside mode 3, their sizes) again from the current store.
  void RefreshBlocks();
  bool ResizeBlock(bool tile, uint64_t size);
  // Moves blocks within `base` that keep their order and do not overlap one another, before
  // or after the move.
  struct BlockMove {
    uint64_t from;
    uint64_t to;
    uint64_t length;
  };
  static void MoveInOrder(char* base, const std::vector<BlockMove>& moves);
  // Fills the fixed-width cell (col, row) from a text; a missing text or one that does not
  // parse gives the column's null value. Text and "NULL" columns are left alone.
  void ParseCell(int64_t col, int64_t row, const char* text, uint64_t length, bool missing);
  // Writes the text cells of the new row r (AddRow steps for text columns), moving the
  // text blocks that must make room. False when cMint cannot grow.
  bool AddTextCells(int64_t r, const std::vector<std::string>& texts);
  // Heap text regions (MiniFradHeapText.cpp). A text column's [start, end) in cMint over
  // rows lo..hi, which must exist; an empty range for rows that refer outside the block.
  std::pair<uint64_t, uint64_t> TextSpan(int64_t col, int64_t lo, int64_t hi) const;
  // Bytes text references may address: the heap block with its room, else cMintSize.
  uint64_t MintBound() const;
  // Gives every text column of a heap table a region, leaving texts where they are.
  void AdoptTextRooms();
  // Where a text after the first `rows` rows of a column goes: after the last of their
  // texts, or at the column's region start.
  uint64_t TextEnd(int64_t col, int64_t rows) const;
  // Bytes AddRow stores for column col's text (one for a missing text: a null).
  uint64_t NewTextLength(int64_t col, const std::vector<std::string>& texts) const;
  // Every text column's region has room for its text of `texts` after its last text.
  bool TextsFit(const std::vector<std::string>& texts) const;
  // Moves the regions apart so that each text column has room for its texts, the bytes of
  // `texts` (AddRow's; missing ones take one byte) and as much again as half its texts.
  void SpreadTexts(const std::vector<std::string>& texts);
  // Appends row r's texts to a heap table with regions (the new row's cells exist).
  void AppendHeapTexts(int64_t r, const std::vector<std::string>& texts);
  // Copies the texts of column col's rows [first, end) to dst + at (never past dst + limit)
  // and writes their new offsets to `offsets` (end - first cells: the column's own, or those
  // of an image); returns the end of the copy.
  uint64_t CopyColumnTexts(int64_t col, int64_t first, int64_t end, char* dst, uint64_t at,
                           uint64_t limit, char* offsets) const;
  // Back to a text block of exactly the texts in use, packed in column order.
  void PackTexts();
  // Texts back to back in row order per column and no byte shared between columns: what
  // the operations that move whole column blocks rely on.
  bool TextsBackToBack() const;
  // Before a change that relies on that layout: the texts of a table loaded without it laid
  // out afresh, packed in column order, in the table's own store (nothing for other tables).
  // False, the table unchanged, when the store refuses.
  bool LayOutTextsAfresh();
  // The text bytes of rows lo..hi - 1 of text column col and, with `offsets` set, their copy
  // to dst + at, packed in row order, with their new offsets written to `offsets` (hi - lo
  // cells; dst may be null when there are no bytes). Texts back to back move as one block.
  uint64_t CopyRowTexts(int64_t col, int64_t lo, int64_t hi, char* dst, uint64_t at,
                        char* offsets) const;
  // t, or a copy of t in scratch with its texts laid out afresh when they are scattered.
  static const MiniFrad& TextsInOrder(const MiniFrad& t, MiniFrad& scratch);
  // The tight images of both blocks into caller memory of cTileSize and cMintSize bytes.
  void CopyImageBlocks(char* tile, char* text) const;
  // The tight images of the blocks of a table holding only rows [first, end), 0 <= first <=
  // end <= NbRows, of a table whose texts lie back to back per column in row order (as
  // appending keeps them): (end - first) * RowStride and RangeTextSize(first, end) bytes,
  // texts packed in column order.
  uint64_t RangeTextSize(int64_t first, int64_t end) const;
  void CopyRangeImageBlocks(int64_t first, int64_t end, char* tile, char* text) const;
  // The blocks already are their tight images.
  bool BlocksTight() const { return RowCapacity == 0 && TextRooms.empty(); }
  // Nanoseconds of a recognised date-time text, else the null value.
  static int64_t ParseDatetime(const char* text, uint64_t length);
  // A new table (New(name, dir)) with this table's schema and no rows.
  MiniFrad EmptyCopyOfSchema(const std::string& name, const std::string& dir) const;
  // Moves keptRows cells of every column slice, from slice row fromStart of a block laid out
  // for fromRows rows to the first row of a block laid out for toRows rows.
  void MoveSlices(int64_t fromRows, int64_t fromStart, int64_t toRows, int64_t keptRows);
  // Replaces the rows with those whose mask byte is set, texts laid out afresh in column
  // order (DeleteRows, and Load for texts that are not back to back).
  bool KeepRows(const std::vector<uint8_t>& mask);
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
  // Slice row of the table's first row (rows dropped from the front); 0 when tight.
  int64_t RowStart = 0;
  // [start, end) of each column's text region in a heap block laid out with room (NbCols
  // entries, unused for other columns); empty when the text block is packed.
  std::vector<std::pair<uint64_t, uint64_t>> TextRooms;
  // The texts are not back to back (a table loaded so, or copied from one): each is read
  // where its cell says until LayOutTextsAfresh.
  bool ScatteredTexts = false;
};

// Cell addressing is inline: AddRow and the column walks compute an address per cell.
inline uint32_t MiniFrad::StorageOf(int64_t col) const {
  if (col < 0 || col >= NbCols || !IsValidColumnType(ColTypes[col])) return 0;
  return column_types_lookup[ColTypes[col]].StorageId;
}

inline bool MiniFrad::IsTextColumn(int64_t col) const { return StorageOf(col) == st_text; }

inline char* MiniFrad::GetCTilePtr(int64_t row, int64_t col, int part) const {
  if (row < 0 || row >= NbRows || col < 0 || col >= NbCols || cTile == nullptr) return nullptr;
  const int64_t rows = SliceRows();
  const int64_t at = RowStart + row;
  if (IsTextColumn(col)) {
    return part == 1 ? cTile + TextLengthPosition(ColOffsets[col], rows, at)
                     : cTile + TextOffsetPosition(ColOffsets[col], rows, at);
  }
  return cTile + static_cast<uint64_t>(ColOffsets[col]) * rows +
         static_cast<uint64_t>(ColStride[col]) * at;
}

std::string HeaderDivider(const std::string& title, int width, const std::string& fill);
std::string Divider(int count, const std::string& fill);

#endif  // TVX_TABLE_MINIFRAD_H_
