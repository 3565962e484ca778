// Tables inside record containers and files: round trips as copies, locked views and
// contiguous containers; views against the model's slices; malformed images refused.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "record/ByteStream.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "table/MiniFrad.h"
#include "table/TableRecords.h"
#include "table/table_model_util.h"

namespace {

using tablemodel::ExpectSameTable;
using tablemodel::RefCell;
using tablemodel::RefColumn;
using tablemodel::RefTable;

// A heap table and its reference with `rows` random rows over a mix of every storage type.
struct Sample {
  MiniFrad table;
  RefTable ref;
};

Sample MakeSample(uint64_t seed, int64_t rows) {
  Sample s;
  std::mt19937_64 rng(seed);
  const int32_t types[] = {6, 2, 3, 4, 5, 20, 12, 1, 6};
  std::vector<std::string> names;
  std::vector<int32_t> typeIds;
  std::vector<int32_t> sizes;
  for (int32_t type : types) {
    RefColumn col;
    col.name = "col" + std::to_string(names.size());
    col.type = type;
    col.size = column_types_lookup[type].StorageId == st_text ? 40 : column_types_lookup[type].ByteSize;
    names.push_back(col.name);
    typeIds.push_back(type);
    sizes.push_back(col.size);
    s.ref.cols.push_back(col);
  }
  s.table.New("sample");
  EXPECT_TRUE(s.table.Set(0, names, typeIds, sizes));
  s.table.ColFormat[5].Code = "dd/mm/yyyy HH:mm";
  s.table.ColFormat[0].DisplayName = "First";
  s.table.ColFormat[0].Theme = {1, 2, 3};
  s.table.SyncMetadata();
  for (int64_t r = 0; r < rows; ++r) tablemodel::AddRandomRow(rng, s.table, s.ref);
  return s;
}

std::vector<char> ImageOf(const ByteStream& bs) {
  std::vector<char> image(bs.GetStreamSize());
  bs.GetStream(image.data());
  return image;
}

void ExpectSameFormats(const MiniFrad& a, const MiniFrad& b) {
  ASSERT_EQ(a.ColFormat.size(), b.ColFormat.size());
  for (size_t c = 0; c < a.ColFormat.size(); ++c) {
    EXPECT_EQ(a.ColFormat[c].Code, b.ColFormat[c].Code);
    EXPECT_EQ(a.ColFormat[c].DisplayName, b.ColFormat[c].DisplayName);
    EXPECT_EQ(a.ColFormat[c].Theme, b.ColFormat[c].Theme);
  }
}

TEST(MiniFradStream, CopyFromAnOrdinaryContainerIsIndependent) {
  Sample s = MakeSample(1, 40);
  ByteStream bs = s.table.ToByteStream("", "");
  MiniFrad copy;
  ASSERT_TRUE(copy.Load(&bs, false));
  EXPECT_EQ(copy.Mode, 1u);
  EXPECT_FALSE(copy.Locked);
  EXPECT_EQ(copy.Name, "sample");
  ExpectSameTable(copy, s.ref, "copy");
  ExpectSameFormats(copy, s.table);
  std::string when;
  ASSERT_TRUE(copy.ToString(5, 0, when));
  s.table.DeleteAllRows();
  ExpectSameTable(copy, s.ref, "copy after the original changed");
  ASSERT_TRUE(copy.AddRow({"x"}));
}

TEST(MiniFradStream, LockedViewOfAReceivedImage) {
  Sample s = MakeSample(2, 25);
  std::vector<char> image = ImageOf(s.table.ToByteStream("renamed", ""));
  ByteStream received(true);
  ASSERT_TRUE(received.LoadStream(image.data(), image.size()));
  MiniFrad view;
  ASSERT_TRUE(view.FromByteStream(received));
  EXPECT_TRUE(view.Locked);
  EXPECT_EQ(view.Mode, 2u);
  EXPECT_EQ(view.Name, "renamed");
  EXPECT_GE(view.cTile, image.data());
  EXPECT_LT(view.cTile, image.data() + image.size());
  ExpectSameTable(view, s.ref, "view");
  EXPECT_FALSE(view.AddRow({"1"}));
  EXPECT_FALSE(view.DeleteAllRows());
  EXPECT_FALSE(view.ResizeCMint(1));
  EXPECT_EQ(view.NbRows, 25);
}

TEST(MiniFradStream, TableLivesInsideAContiguousContainerFile) {
  testsupport::TempDir dir;
  Sample s = MakeSample(3, 10);
  const std::string path = dir.File("table.bs");
  {
    ByteStream file = s.table.ToByteStream("", path);
    EXPECT_EQ(file.mode, 3u);
    // The pre-allocated slots were exact: writing the table moved nothing.
    EXPECT_EQ(file.GetStreamSize(), std::filesystem::file_size(path));
    MiniFrad inside;
    ASSERT_TRUE(inside.Load(&file, false));
    EXPECT_EQ(inside.Mode, 2u);
    EXPECT_EQ(inside.Stream, &file);
    std::mt19937_64 rng(9);
    for (int r = 0; r < 30; ++r) tablemodel::AddRandomRow(rng, inside, s.ref);
    ExpectSameTable(inside, s.ref, "inside");
  }
  // The file is the container's image: it holds the grown table, records in step.
  ByteStream reread(false);
  std::string bytes = testsupport::ReadFileBytes(path);
  ASSERT_TRUE(reread.LoadStream(bytes.data(), bytes.size()));
  MiniFrad back;
  ASSERT_TRUE(back.Load(&reread, true));
  ExpectSameTable(back, s.ref, "file");
}

TEST(MiniFradStream, DeleteAllRowsInsideAContainerUpdatesItsRecords) {
  Sample s = MakeSample(4, 12);
  ByteStream bs(false);
  ASSERT_TRUE(bs.PreAllocate({}, ""));
  s.table.AddToByteStream(bs, "");
  MiniFrad inside;
  ASSERT_TRUE(inside.Load(&bs, false));
  ASSERT_TRUE(inside.DeleteAllRows());
  int64_t rows = -1;
  ASSERT_TRUE(bs.GetInt64(kKeyNbRows, rows));
  EXPECT_EQ(rows, 0);
  MiniFrad view;
  ASSERT_TRUE(view.Load(&bs, true));
  EXPECT_EQ(view.NbRows, 0);
}

// Views against the slices of the model.
TEST(MiniFradStream, ViewsHoldTheirRowRange) {
  Sample s = MakeSample(5, 30);
  std::mt19937_64 rng(5);
  for (int i = 0; i < 60; ++i) {
    const int64_t r0 = static_cast<int64_t>(rng() % 36);
    const int64_t r1 = static_cast<int64_t>(rng() % 36);
    ByteStream bs = s.table.GetViewByteStream(r0, r1, "view");
    const int64_t lo = std::min<int64_t>(std::min(r0, r1), 30);
    const int64_t hi = std::min<int64_t>(std::max(r0, r1), 30);
    RefTable slice = s.ref;
    slice.DropLastRows(30 - hi);
    std::vector<int64_t> head;
    for (int64_t r = 0; r < lo; ++r) head.push_back(r);
    slice.DeleteRows(head);
    MiniFrad view;
    ASSERT_TRUE(view.Load(&bs, true)) << r0 << " " << r1;
    ExpectSameTable(view, slice, "view " + std::to_string(r0) + " " + std::to_string(r1));
    int64_t start = -1, total = -1;
    ASSERT_TRUE(bs.GetInt64(kKeyViewStart, start));
    ASSERT_TRUE(bs.GetInt64(kKeyNbRowsTotal, total));
    EXPECT_EQ(start, lo);
    EXPECT_EQ(total, 30);
    if (view.NbRows > 0) {
      uint64_t first;
      std::memcpy(&first, view.GetCTilePtr(0, 0, 0), sizeof first);
      EXPECT_EQ(first, 0u);  // the first text column's texts start the view's text block
    } else {
      EXPECT_EQ(bs.GetRecordValueSize(kKeyTile), 0u);
      EXPECT_EQ(bs.GetRecordValueSize(kKeyMint), 0u);
    }
  }
}

TEST(MiniFradStream, OlderFormatRecordAndEmptyTables) {
  ByteStream bs(false);
  bs.AddString(kKeyName, "old");
  bs.AddInt64(kKeyNbCols, 1);
  bs.AddInt64(kKeyNbRows, 0);
  bs.AddStringVector(kKeyColNames, {"when"});
  bs.AddStringVector(kKeyColFormat, {"dd/mm/yyyy"});
  bs.AddInt32Vector(kKeyColTypes, {20});
  bs.AddInt32Vector(kKeyColSizes, {8});
  MiniFrad t;
  ASSERT_TRUE(t.Load(&bs, false));
  EXPECT_EQ(t.ColFormat[0].Code, "dd/mm/yyyy");
  EXPECT_TRUE(t.DateSpecs[0].valid);

  MiniFrad none;
  none.New("none");
  ByteStream empty = none.ToByteStream("", "");
  std::vector<ByteStream> formats;
  ASSERT_TRUE(empty.GetStreamVector(kKeyColFormat, formats));
  EXPECT_TRUE(formats.empty());
  MiniFrad back;
  EXPECT_TRUE(back.Load(&empty, true));
}

// A table saved while empty may carry stray block bytes; they never reach the row arithmetic.
TEST(MiniFradStream, EmptyTableWithStrayBytesLoadsEmpty) {
  MiniFrad t;
  t.New("t");
  ASSERT_TRUE(t.Set(0, {"a", "b"}, {2, 6}, {}));
  ByteStream bs = t.ToByteStream("", "");
  const char stray = 1;
  bs.AddBuffer(kKeyTile, &stray, 1);
  MiniFrad back;
  ASSERT_TRUE(back.Load(&bs, false));
  EXPECT_EQ(back.cTileSize, 0u);
  ASSERT_TRUE(back.AddRow({"5", "x"}));
  EXPECT_EQ(back.cTileSize, 14u);
  std::string out;
  ASSERT_TRUE(back.ToString(1, 0, out));
  EXPECT_EQ(out, "x");
  MiniFrad view;
  ASSERT_TRUE(view.Load(&bs, true));
  EXPECT_EQ(view.cTileSize, 0u);
  // A table without rows is valid whatever its blocks hold.
  ASSERT_TRUE(t.ResizeCTile(5));
  EXPECT_TRUE(t.Validate(true));
}

// Each defect must be refused with false and a cleared table, never read out of bounds.
TEST(MiniFradStream, MalformedTablesAreRefused) {
  Sample s = MakeSample(6, 6);
  const ByteStream good = s.table.ToByteStream("", "");
  auto expectRefused = [&](const char* what, const std::function<void(ByteStream&)>& spoil) {
    ByteStream bs = good.GetCopy();
    spoil(bs);
    MiniFrad t;
    EXPECT_FALSE(t.Load(&bs, true)) << what;
    EXPECT_FALSE(t.Loaded) << what;
    EXPECT_EQ(t.NbCols, 0) << what;
    MiniFrad c;
    EXPECT_FALSE(c.Load(&bs, false)) << what;
  };
  const int64_t cols = s.table.NbCols;
  expectRefused("column count", [&](ByteStream& bs) { bs.AddInt64(kKeyNbCols, cols + 1); });
  expectRefused("huge column count", [&](ByteStream& bs) { bs.AddInt64(kKeyNbCols, INT64_MAX); });
  expectRefused("negative rows", [&](ByteStream& bs) { bs.AddInt64(kKeyNbRows, -1); });
  expectRefused("row count", [&](ByteStream& bs) { bs.AddInt64(kKeyNbRows, 7); });
  expectRefused("overflowing rows", [&](ByteStream& bs) { bs.AddInt64(kKeyNbRows, INT64_MAX / 3); });
  expectRefused("missing cells", [&](ByteStream& bs) { bs.AddBuffer(kKeyTile, nullptr, 0); });
  expectRefused("names", [&](ByteStream& bs) { bs.AddStringVector(kKeyColNames, {"a"}); });
  auto withTypes = [&](std::vector<int32_t> types) {
    return [types](ByteStream& bs) { bs.AddInt32Vector(kKeyColTypes, types); };
  };
  std::vector<int32_t> types = s.table.ColTypes;
  types[1] = 21;
  expectRefused("type 21", withTypes(types));
  types[1] = -1;
  expectRefused("type -1", withTypes(types));
  std::vector<int32_t> sizes = s.table.ColSizes;
  sizes[0] = 65536;
  expectRefused("text size", [&](ByteStream& bs) { bs.AddInt32Vector(kKeyColSizes, sizes); });
  sizes[0] = -1;
  expectRefused("negative text size", [&](ByteStream& bs) { bs.AddInt32Vector(kKeyColSizes, sizes); });

  // Text references: rewrite one offset or length of the first text column (column 0).
  auto withTextCell = [&](int64_t row, uint64_t offset, uint16_t length) {
    return [=](ByteStream& bs) {
      uint64_t size = 0;
      char* tile = reinterpret_cast<char*>(bs.GetBufferPtr(kKeyTile, size));
      std::vector<char> cells(tile, tile + size);
      std::memcpy(cells.data() + 8 * row, &offset, 8);
      std::memcpy(cells.data() + 8 * 6 + 2 * row, &length, 2);
      bs.AddBuffer(kKeyTile, cells.data(), cells.size());
    };
  };
  expectRefused("offset past the text block", withTextCell(5, s.table.cMintSize + 1, 0));
  expectRefused("length past the text block", withTextCell(5, s.table.cMintSize - 1, 2));
  expectRefused("wrapping reference", withTextCell(5, UINT64_MAX - 1, 4));
  expectRefused("short text block", [&](ByteStream& bs) { bs.AddBuffer(kKeyMint, "x", 1); });
  MiniFrad t;
  EXPECT_FALSE(t.Load(nullptr, true));
}

// Layouts other writers may give a table: whatever the texts' places, a table whose every
// reference lies inside its text block loads without a byte written, reads as written (a
// locked one as a view of the container, whose image it gives back), gives packed views and
// combinations, and takes rows as a heap copy and inside a contiguous container (whose
// records stay in step), its texts laid out afresh by its first change.
TEST(MiniFradStream, TablesWithTextsAnywhereInTheirBlockLoad) {
  Sample s = MakeSample(10, 6);
  const ByteStream good = s.table.ToByteStream("", "");
  const int64_t rows = s.table.NbRows;
  const std::vector<int32_t> colOffsets = s.table.ColOffsets;
  // Cells of text column `col` (0 or 8, both of size 40) rewritten by `edit`.
  auto withTextCells = [&](int64_t col, std::function<void(std::vector<uint64_t>&, std::vector<uint16_t>&)> edit) {
    return [=](ByteStream& bs) {
      uint64_t size = 0;
      char* tile = reinterpret_cast<char*>(bs.GetBufferPtr(kKeyTile, size));
      std::vector<char> cells(tile, tile + size);
      char* slice = cells.data() + static_cast<uint64_t>(colOffsets[col]) * rows;
      std::vector<uint64_t> offsets(static_cast<size_t>(rows));
      std::vector<uint16_t> lengths(static_cast<size_t>(rows));
      std::memcpy(offsets.data(), slice, 8 * rows);
      std::memcpy(lengths.data(), slice + 8 * rows, 2 * rows);
      edit(offsets, lengths);
      std::memcpy(slice, offsets.data(), 8 * rows);
      std::memcpy(slice + 8 * rows, lengths.data(), 2 * rows);
      bs.AddBuffer(kKeyTile, cells.data(), cells.size());
    };
  };
  std::vector<uint64_t> firstOffsets;
  std::vector<uint16_t> firstLengths;
  ByteStream scratch = good.GetCopy();
  withTextCells(0, [&](std::vector<uint64_t>& o, std::vector<uint16_t>& l) {
    firstOffsets = o;
    firstLengths = l;
  })(scratch);
  struct Case {
    const char* what;
    std::function<void(ByteStream&)> spoil;
    std::function<void(RefTable&)> expect;  // what the cells then hold
  } cases[] = {
      {"an empty text at offset 0 in the middle of a column",
       withTextCells(0, [](std::vector<uint64_t>& o, std::vector<uint16_t>& l) { o[3] = 0; l[3] = 0; }),
       [](RefTable& ref) { ref.cols[0].cells[3] = RefCell{false, 0, ""}; }},
      {"texts in reverse row order",
       withTextCells(0, [](std::vector<uint64_t>& o, std::vector<uint16_t>& l) {
         std::reverse(o.begin(), o.end());
         std::reverse(l.begin(), l.end());
       }),
       [](RefTable& ref) { std::reverse(ref.cols[0].cells.begin(), ref.cols[0].cells.end()); }},
      {"two columns sharing their texts",
       withTextCells(8, [&](std::vector<uint64_t>& o, std::vector<uint16_t>& l) {
         o = firstOffsets;
         l = firstLengths;
       }),
       [](RefTable& ref) { ref.cols[8].cells = ref.cols[0].cells; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteStream spoilt = good.GetCopy();
    c.spoil(spoilt);
    RefTable ref = s.ref;
    c.expect(ref);
    MiniFrad view;
    ASSERT_TRUE(view.Load(&spoilt, true));
    EXPECT_TRUE(view.Locked);
    EXPECT_EQ(view.Mode, 2u);
    uint64_t size = 0;
    EXPECT_EQ(view.cMint, spoilt.GetBufferPtr(kKeyMint, size));
    tablemodel::ExpectSameCells(view, ref, "locked");
    EXPECT_TRUE(ImageOf(view.ToByteStream("", "")) == ImageOf(spoilt)) << "the image moved texts";
    EXPECT_FALSE(view.AddRow({"1"}));
    RefTable slice = ref;
    slice.DropLastRows(1);
    slice.DeleteRows({0});
    ByteStream sliceImage = view.GetViewByteStream(1, rows - 1, "v");
    MiniFrad sliced;
    ASSERT_TRUE(sliced.Load(&sliceImage, true));
    ExpectSameTable(sliced, slice, "a view of the rows but the first and last");
    RefTable twice = ref;
    for (int64_t r = 0; r < rows; ++r) {
      std::vector<RefCell> row;
      for (const RefColumn& col : ref.cols) row.push_back(col.cells[r]);
      twice.AddRow(row);
    }
    ExpectSameTable(MiniFrad::CombineToMiniFrad(view, view, "vv"), twice, "combined");
    MiniFrad cut;
    ASSERT_TRUE(cut.Load(&spoilt, false));
    ASSERT_TRUE(cut.DeleteColumns({8}));
    ASSERT_TRUE(cut.DropFirstRows(2));
    RefTable cutRef = ref;
    cutRef.DeleteColumns({8});
    cutRef.DeleteRows({0, 1});
    ExpectSameTable(cut, cutRef, "a text column and the first rows deleted");
    MiniFrad copy;
    ASSERT_TRUE(copy.Load(&spoilt, false));
    EXPECT_EQ(copy.Mode, 1u);
    testsupport::TempDir dir;
    ASSERT_TRUE(spoilt.Save(dir.File("t.bs")));
    const std::string saved = testsupport::ReadFileBytes(dir.File("t.bs"));
    ByteStream contiguous(false);
    ASSERT_TRUE(contiguous.Open(dir.File("t.bs")));
    MiniFrad inside;
    ASSERT_TRUE(inside.Load(&contiguous, false));
    EXPECT_EQ(inside.Mode, 2u);
    EXPECT_TRUE(testsupport::ReadFileBytes(dir.File("t.bs")) == saved) << "the load wrote the file";
    RefTable grown;
    for (MiniFrad* t : {&copy, &inside}) {
      tablemodel::ExpectSameCells(*t, ref, "loaded");
      std::mt19937_64 rng(3);
      grown = ref;
      for (int r = 0; r < 20; ++r) tablemodel::AddRandomRow(rng, *t, grown);
      ExpectSameTable(*t, grown, t == &copy ? "heap copy" : "inside a container");
    }
    MiniFrad records;
    ASSERT_TRUE(records.Load(&contiguous, true));
    ExpectSameTable(records, grown, "the container's records");
  }
}

TEST(MiniFradStream, LinkAndCombineIntoContainers) {
  Sample a = MakeSample(7, 9);
  Sample b = MakeSample(8, 5);
  b.table.ColFormat = a.table.ColFormat;
  b.table.SyncMetadata();
  for (bool contiguous : {false, true}) {
    ByteStream bs(false);
    if (contiguous) {
      ASSERT_TRUE(bs.PreAllocate({}, ""));
    }
    ASSERT_TRUE(MiniFrad::CombineToByteStream(bs, a.table, b.table, "ab"));
    MiniFrad both;
    ASSERT_TRUE(both.Load(&bs, true));
    RefTable ref = a.ref;
    for (int64_t r = 0; r < b.ref.rows; ++r) {
      std::vector<RefCell> row;
      for (const RefColumn& col : b.ref.cols) row.push_back(col.cells[r]);
      ref.AddRow(row);
    }
    ExpectSameTable(both, ref, contiguous ? "combined, contiguous" : "combined");
  }
  // Linked into an ordinary container the table is a locked view of the new records.
  ByteStream plain(false);
  MiniFrad linked = a.table.GenerateCopy("l", "");
  ASSERT_TRUE(linked.LinkToByteStream(plain, ""));
  EXPECT_TRUE(linked.Locked);
  EXPECT_EQ(linked.Stream, nullptr);
  EXPECT_EQ(linked.cTileSize, a.table.cTileSize);
  // Linked from one contiguous container into another, the table grows through the one that
  // holds its blocks: a table still tied to the first would write its rows there.
  ByteStream first(false);
  ByteStream second(false);
  ASSERT_TRUE(first.PreAllocate({}, ""));
  ASSERT_TRUE(second.PreAllocate({}, ""));
  a.table.AddToByteStream(first, "");
  MiniFrad moving;
  ASSERT_TRUE(moving.Load(&first, false));
  const std::vector<char> firstImage = ImageOf(first);
  ASSERT_TRUE(moving.LinkToByteStream(second, ""));
  EXPECT_EQ(moving.Stream, &second);
  const MiniFrad tight = a.table.GenerateCopy("t", "");
  std::memcpy(moving.cTile, tight.cTile, tight.cTileSize);
  std::memcpy(moving.cMint, tight.cMint, tight.cMintSize);
  std::mt19937_64 rng(4);
  RefTable grown = a.ref;
  for (int r = 0; r < 5; ++r) tablemodel::AddRandomRow(rng, moving, grown);
  EXPECT_EQ(ImageOf(first), firstImage);
  MiniFrad records;
  ASSERT_TRUE(records.Load(&second, true));
  ExpectSameTable(records, grown, "linked into a second container");
}

// A container that refuses the cell records (read-only) is a failure, never a table whose
// blocks point nowhere, and a view is not written through records that were not reserved.
TEST(MiniFradStream, ReadOnlyContainersTakeNoCells) {
  Sample a = MakeSample(9, 6);
  ByteStream readOnly(true);
  EXPECT_FALSE(MiniFrad::CombineToByteStream(readOnly, a.table, a.table, "aa"));
  MiniFrad linked = a.table.GenerateCopy("l", "");
  EXPECT_FALSE(linked.LinkToByteStream(readOnly, ""));
  ExpectSameTable(linked, a.ref, "after a refused link");
  a.table.AddViewToByteStream(1, 4, readOnly, "v");
  EXPECT_TRUE(readOnly.records.empty());
  // A received image is read-only too: its records are never written over.
  ByteStream image = a.table.GetViewByteStream(0, 2, "v");
  std::vector<char> bytes = ImageOf(image);
  ByteStream received(true);
  ASSERT_TRUE(received.LoadStream(bytes.data(), bytes.size()));
  a.table.AddViewToByteStream(0, 6, received, "v");
  EXPECT_EQ(ImageOf(received), bytes);
}

TEST(MiniFradStream, FileBackedTables) {
  testsupport::TempDir dir;
  MiniFrad t;
  t.New("cars", dir.Path());
  ASSERT_EQ(t.Mode, 3u);
  ASSERT_TRUE(t.Set(0, {"id", "name"}, {2, 6}, {}));
  EXPECT_EQ(t.cTileSize, 0u);
  EXPECT_EQ(t.cMintSize, 0u);
  // The files' spare bytes never reach an image of the table.
  ByteStream empty = t.ToByteStream("", "");
  EXPECT_EQ(empty.GetRecordValueSize(kKeyTile), 0u);
  EXPECT_EQ(empty.GetRecordValueSize(kKeyMint), 0u);
  for (int r = 0; r < 20; ++r) ASSERT_TRUE(t.AddRow({std::to_string(r), "car" + std::to_string(r)}));
  t.TileFile.FlushView();
  t.MintFile.FlushView();
  EXPECT_EQ(testsupport::ReadFileBytes(dir.File("cars.cTile")), std::string(t.cTile, t.cTileSize));
  EXPECT_EQ(testsupport::ReadFileBytes(dir.File("cars.cMint")), std::string(t.cMint, t.cMintSize));

  testsupport::TempDir other;
  ASSERT_TRUE(t.Rename("trucks", other.Path()));
  EXPECT_FALSE(std::filesystem::exists(dir.File("cars.cTile")));
  EXPECT_TRUE(std::filesystem::exists(other.File("trucks.cMint")));
  ASSERT_TRUE(t.AddRow({"20", "car20"}));
  EXPECT_EQ(std::filesystem::file_size(other.File("trucks.cTile")), t.cTileSize);
  // Renaming into a directory that does not exist fails and leaves the table where it was.
  EXPECT_FALSE(t.Rename("x", other.File("missing")));
  EXPECT_EQ(t.Name, "trucks");
  ASSERT_TRUE(t.AddRow({"21", "car21"}));
  std::string out;
  ASSERT_TRUE(t.ToString(1, 21, out));
  EXPECT_EQ(out, "car21");
  ASSERT_TRUE(t.DeleteAllRows());
  EXPECT_EQ(t.cTileSize, 0u);
  ASSERT_TRUE(t.AddRow({"1", "a"}));
  EXPECT_EQ(t.cTileSize, 14u);
  // Moving keeps the mapped blocks valid and leaves the source empty.
  MiniFrad moved = std::move(t);
  EXPECT_EQ(t.Mode, 0u);
  EXPECT_EQ(moved.Mode, 3u);
  ASSERT_TRUE(moved.AddRow({"2", "b"}));
  ASSERT_TRUE(moved.ToString(1, 1, out));
  EXPECT_EQ(out, "b");

  MiniFrad heap;
  heap.New("h", dir.File("no-such-dir"));
  EXPECT_EQ(heap.Mode, 1u);
  EXPECT_TRUE(heap.Set(0, {"a"}, {2}, {}));
  EXPECT_TRUE(heap.AddRow({"1"}));
}

}  // namespace
