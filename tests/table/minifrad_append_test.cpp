// Appending rows to a heap table, which keeps room in its blocks (spare rows, room behind each
// column's texts, rows dropped from the front), against the same operations on a file table,
// whose blocks are always exactly the table's cells and texts: every cell must agree, and the
// heap table's images, views, copies and combinations must be those of the file table with
// its texts packed, across the points where the heap table's room runs out. A table built by
// appends alone gives the file table's own image. Rows dropped from the end leave their texts
// in the text block of every store, so until the heap table packs its texts again (at its
// next append or row deletion) its image must only read back as the same cells.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "record/ByteStream.h"
#include "support/TempDir.h"
#include "table/ColumnTypes.h"
#include "table/MiniFrad.h"
#include "table/table_model_util.h"

namespace {

using tablemodel::RefColumn;
using testsupport::TempDir;

std::string ImageOf(const ByteStream& bs) {
  std::string image(bs.GetStreamSize(), '\0');
  bs.GetStream(image.data());
  return image;
}

// Equal images, or where the first difference lies (images are too long to print).
::testing::AssertionResult SameImage(const ByteStream& a, const ByteStream& b) {
  const std::string x = ImageOf(a);
  const std::string y = ImageOf(b);
  if (x == y) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < x.size() && at < y.size() && x[at] == y[at]) ++at;
  return ::testing::AssertionFailure() << "images of " << x.size() << " and " << y.size()
                                       << " bytes differ from byte " << at;
}

// The cell's bytes; for a text cell its length and text (where the text lies is the table's).
std::string CellBytes(const MiniFrad& t, int64_t row, int64_t col) {
  const char* cell = t.GetCTilePtr(row, col, 0);
  if (cell == nullptr) return "<none>";
  if (column_types_lookup[t.ColTypes[col]].StorageId != st_text) {
    return std::string(cell, static_cast<size_t>(t.ColStride[col]));
  }
  uint16_t length = 0;
  const char* text = t.GetCMintPtr(row, col, length);
  if (text == nullptr) return "<outside>";
  std::string out(t.GetCTilePtr(row, col, 1), 2);
  return out.append(text, length);
}

// The table with its texts packed in column order: what images of it hold.
MiniFrad Packed(const MiniFrad& t) {
  return t.GenerateFromMask(std::vector<uint8_t>(static_cast<size_t>(t.NbRows), 1), t.Name, "");
}

// The same operations on a heap table and on a file table.
class Pair {
 public:
  explicit Pair(uint64_t seed) : rng_(seed) {
    heap_.New("t");
    files_.New("t", dir_.Path());
    EXPECT_EQ(heap_.Mode, 1u);
    EXPECT_EQ(files_.Mode, 3u);
    const std::vector<int32_t> types = {2, 6, 3, 5, 20, 6, tablemodel::RandomType(rng_)};
    std::vector<std::string> names;
    std::vector<int32_t> sizes;
    for (size_t c = 0; c < types.size(); ++c) {
      RefColumn col;
      col.name = "c" + std::to_string(c);
      col.type = types[c];
      col.size = 12;
      cols_.push_back(col);
      names.push_back(col.name);
      sizes.push_back(col.size);
    }
    EXPECT_TRUE(heap_.Set(0, names, types, sizes));
    EXPECT_TRUE(files_.Set(0, names, types, sizes));
  }

  void AddRows(int n) {
    for (int i = 0; i < n; ++i) {
      std::vector<std::string> texts;
      for (const RefColumn& col : cols_) texts.push_back(tablemodel::RandomCell(rng_, col).first);
      if (rng_() % 8 == 0) texts.resize(rng_() % texts.size());  // missing trailing cells
      ASSERT_TRUE(heap_.AddRow(texts));
      ASSERT_TRUE(files_.AddRow(texts));
    }
    textsKept_ = false;
  }

  // One random operation other than appending.
  void Change() {
    const int64_t rows = heap_.NbRows;
    switch (rng_() % 7) {
      case 0: {
        std::vector<int64_t> gone;
        for (int64_t i = 0; i < 3 && rows > 0; ++i) gone.push_back(static_cast<int64_t>(rng_() % rows));
        ASSERT_TRUE(heap_.DeleteRows(gone));
        ASSERT_TRUE(files_.DeleteRows(gone));
        textsKept_ = false;
        break;
      }
      case 1: {
        const int64_t n = static_cast<int64_t>(rng_() % 4);
        const uint64_t heapText = heap_.cMintSize;
        const uint64_t fileText = files_.cMintSize;
        ASSERT_TRUE(heap_.DecreaseRows(n));
        ASSERT_TRUE(files_.DecreaseRows(n));
        EXPECT_EQ(heap_.cMintSize, heapText);
        EXPECT_EQ(files_.cMintSize, fileText);
        textsKept_ = textsKept_ || n > 0;
        break;
      }
      case 2: {
        std::vector<std::string> texts;
        for (int64_t r = 0; r + 2 < rows; ++r) texts.push_back("x" + std::to_string(rng_() % 1000));
        const std::string name = "a" + std::to_string(heap_.NbCols);
        ASSERT_TRUE(heap_.AddColumn(name, texts, true, 8));
        ASSERT_TRUE(files_.AddColumn(name, texts, true, 8));
        cols_.push_back(RefColumn{name, 6, 8, {}});
        break;
      }
      case 3: {
        std::vector<std::string> texts(static_cast<size_t>(rows / 2), "2024-03-05 10:11:12");
        const std::string name = "d" + std::to_string(heap_.NbCols);
        ASSERT_TRUE(heap_.AddColumnDT(name, texts, ""));
        ASSERT_TRUE(files_.AddColumnDT(name, texts, ""));
        cols_.push_back(RefColumn{name, 20, 0, {}});
        break;
      }
      case 6: {
        const int64_t n = static_cast<int64_t>(rng_() % (rows / 2 + 2));
        ASSERT_TRUE(heap_.DropFirstRows(n));
        ASSERT_TRUE(files_.DropFirstRows(n));
        textsKept_ = textsKept_ && n == 0;
        break;
      }
      case 4: {
        if (heap_.NbCols < 3) break;
        const int64_t col = 1 + static_cast<int64_t>(rng_() % (heap_.NbCols - 1));
        ASSERT_TRUE(heap_.DeleteColumns({col}));
        ASSERT_TRUE(files_.DeleteColumns({col}));
        cols_.erase(cols_.begin() + col);
        break;
      }
      default:
        if (rng_() % 4 == 0) {
          ASSERT_TRUE(heap_.DeleteAllRows());
          ASSERT_TRUE(files_.DeleteAllRows());
          textsKept_ = false;
        }
        break;
    }
  }

  // With appendsOnly, the file table's raw image too.
  void ExpectSame(const std::string& context, bool appendsOnly = false) {
    SCOPED_TRACE(context);
    ASSERT_EQ(heap_.NbRows, files_.NbRows);
    ASSERT_EQ(heap_.NbCols, files_.NbCols);
    const MiniFrad packed = Packed(files_);
    EXPECT_EQ(heap_.cTileSize, files_.cTileSize);
    EXPECT_TRUE(heap_.Validate(true));
    ByteStream image = heap_.ToByteStream("", "");
    MiniFrad back;
    ASSERT_TRUE(back.Load(&image, true));
    EXPECT_EQ(back.cMintSize, heap_.cMintSize);
    if (!textsKept_) {
      EXPECT_EQ(heap_.cMintSize, packed.cMintSize);
      EXPECT_TRUE(SameImage(image, packed.ToByteStream("", "")));
    }
    if (appendsOnly) {
      EXPECT_TRUE(SameImage(heap_.ToByteStream("", ""), files_.ToByteStream("", "")));
    }
    const int64_t n = heap_.NbRows;
    for (const auto& range : {std::pair<int64_t, int64_t>{0, n}, {n - 1, n}, {n / 2, n}, {1, n / 3}}) {
      EXPECT_TRUE(SameImage(heap_.GetViewByteStream(range.first, range.second, "v"),
                            files_.GetViewByteStream(range.first, range.second, "v")))
          << "view " << range.first << ".." << range.second;
    }
    for (int64_t r = 0; r < n; ++r) {
      for (int64_t c = 0; c < heap_.NbCols; ++c) {
        ASSERT_EQ(CellBytes(heap_, r, c), CellBytes(files_, r, c)) << "row " << r << " col " << c;
        ASSERT_EQ(CellBytes(back, r, c), CellBytes(files_, r, c)) << "image row " << r << " col " << c;
      }
    }
  }

  // Copies and combinations of the heap table with its texts packed.
  void ExpectSameDerivedTables() {
    if (textsKept_) return;
    const MiniFrad packed = Packed(files_);
    EXPECT_TRUE(SameImage(heap_.GenerateCopy("c", "").ToByteStream("", ""),
                          packed.GenerateCopy("c", "").ToByteStream("", "")));
    EXPECT_TRUE(SameImage(MiniFrad::CombineToMiniFrad(heap_, heap_, "ab").ToByteStream("", ""),
                          MiniFrad::CombineToMiniFrad(packed, packed, "ab").ToByteStream("", "")));
    ByteStream a(false);
    ByteStream b(false);
    ASSERT_TRUE(MiniFrad::CombineToByteStream(a, heap_, heap_, "ab"));
    ASSERT_TRUE(MiniFrad::CombineToByteStream(b, packed, packed, "ab"));
    EXPECT_TRUE(SameImage(a, b));
    // A file-backed image reserves the blocks instead of copying them in one piece.
    TempDir dir;
    EXPECT_TRUE(SameImage(heap_.ToByteStream("", dir.File("heap.img")),
                          packed.ToByteStream("", dir.File("files.img"))));
  }

  MiniFrad& heap() { return heap_; }

 private:
  TempDir dir_;
  std::mt19937_64 rng_;
  std::vector<RefColumn> cols_;
  MiniFrad heap_;
  MiniFrad files_;
  // Rows were dropped from the end since the heap table last packed its texts.
  bool textsKept_ = false;
};

TEST(MiniFradAppend, EveryRowCountUpToSeveralCapacitiesGivesTheTightImage) {
  Pair p(7);
  for (int n = 1; n <= 260; ++n) {
    p.AddRows(1);
    p.ExpectSame("rows " + std::to_string(n), true);
    if (::testing::Test::HasFailure()) return;
  }
  p.ExpectSameDerivedTables();
}

TEST(MiniFradAppend, AppendsMixedWithDeletionsColumnChangesAndImages) {
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    Pair p(seed);
    std::mt19937_64 rng(seed * 977);
    for (int step = 0; step < 40; ++step) {
      p.AddRows(1 + static_cast<int>(rng() % (step % 5 == 0 ? 90 : 20)));
      p.ExpectSame("seed " + std::to_string(seed) + " step " + std::to_string(step) + " appended");
      p.Change();
      p.ExpectSame("seed " + std::to_string(seed) + " step " + std::to_string(step) + " changed");
      if (step % 10 == 9) p.ExpectSameDerivedTables();
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// Producing images, views and copies reads the block where it lies: cell pointers handed out
// before stay valid, and writes through them are what the next image shows.
TEST(MiniFradAppend, ImagesLeaveCellPointersInPlace) {
  Pair p(3);
  p.AddRows(37);  // past one capacity step, with spare rows left
  MiniFrad& t = p.heap();
  char* cell = t.GetCTilePtr(20, 0);
  ASSERT_NE(cell, nullptr);
  const ByteStream before = t.ToByteStream("", "");
  t.GetViewByteStream(3, 30, "v");
  t.GenerateCopy("c", "");
  ASSERT_EQ(t.GetCTilePtr(20, 0), cell);
  const int32_t value = 123456;
  std::memcpy(cell, &value, sizeof value);
  MiniFrad back;
  ByteStream image = t.ToByteStream("", "");
  ASSERT_TRUE(back.FromByteStream(image));
  int32_t read = 0;
  std::memcpy(&read, back.GetCTilePtr(20, 0), sizeof read);
  EXPECT_EQ(read, value);
  EXPECT_EQ(before.GetStreamSize(), image.GetStreamSize());
}

// Dropped rows leave their texts in the text block of a file or container table, and rows
// appended later grow the block around those bytes without writing all it grew by. Those
// bytes must read the same in both stores, zero as in a grown file: a container's come from
// wherever its record grew. The heap table leaves them out: its images are the packed ones.
TEST(MiniFradAppend, RowsAppendedAfterDroppedRowsGiveTheSameBytesInEveryStore) {
  TempDir dir;
  MiniFrad heap;
  MiniFrad files;
  heap.New("t");
  files.New("t", dir.Path());
  const std::vector<std::string> names = {"n", "a", "b"};
  const std::vector<int32_t> types = {2, 6, 12};
  ASSERT_TRUE(heap.Set(0, names, types, {4, 40, 40}));
  ASSERT_TRUE(files.Set(0, names, types, {4, 40, 40}));
  ByteStream container(false);
  ASSERT_TRUE(container.PreAllocate({}, ""));
  heap.AddToByteStream(container, "");
  MiniFrad inside;
  ASSERT_TRUE(inside.Load(&container, false));
  ASSERT_EQ(inside.Mode, 2u);

  std::mt19937_64 rng(5);
  auto text = [&](size_t longest) {
    return std::string(1 + rng() % longest, static_cast<char>('a' + rng() % 26));
  };
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Long texts, then drop some of them, then short texts that fit where they were.
    const int64_t added = 1 + static_cast<int64_t>(rng() % 6);
    for (int64_t i = 0; i < added; ++i) {
      const std::vector<std::string> row = {std::to_string(i), text(40), text(40)};
      for (MiniFrad* t : {&heap, &files, &inside}) ASSERT_TRUE(t->AddRow(row));
    }
    const int64_t dropped = static_cast<int64_t>(rng() % (heap.NbRows + 1));
    for (MiniFrad* t : {&heap, &files, &inside}) ASSERT_TRUE(t->DecreaseRows(dropped));
    for (int i = 0; i < 3; ++i) {
      const std::vector<std::string> row = {"7", text(3), text(3)};
      for (MiniFrad* t : {&heap, &files, &inside}) ASSERT_TRUE(t->AddRow(row));
    }
    ASSERT_EQ(inside.cMintSize, files.cMintSize);
    EXPECT_EQ(std::string(inside.cMint, inside.cMintSize),
              std::string(files.cMint, files.cMintSize));
    EXPECT_TRUE(SameImage(inside.ToByteStream("", ""), files.ToByteStream("", "")));
    const MiniFrad packed = Packed(files);
    EXPECT_TRUE(SameImage(heap.ToByteStream("", ""), packed.ToByteStream("", "")));
    ByteStream fromHeap(false);
    ByteStream fromFiles(false);
    ASSERT_TRUE(MiniFrad::CombineToByteStream(fromHeap, heap, Packed(inside), "ab"));
    ASSERT_TRUE(MiniFrad::CombineToByteStream(fromFiles, packed, packed, "ab"));
    EXPECT_TRUE(SameImage(fromHeap, fromFiles));
    ByteStream combined(false);
    ASSERT_TRUE(MiniFrad::CombineToByteStream(combined, files, inside, "ab"));
    MiniFrad both;
    ASSERT_TRUE(both.Load(&combined, true));
    for (int64_t r = 0; r < both.NbRows; ++r) {
      for (int64_t c = 0; c < both.NbCols; ++c) {
        ASSERT_EQ(CellBytes(both, r, c), CellBytes(heap, r % heap.NbRows, c));
      }
    }
    if (::testing::Test::HasFailure()) return;
  }
}

// Appending n rows at once sizes the block for exactly those rows; appending one row after
// it leaves room for more, and shrinking gives the exact block back.
TEST(MiniFradAppend, BulkIncreaseAndShrinkKeepExactSizes) {
  Pair p(11);
  MiniFrad& t = p.heap();
  ASSERT_TRUE(t.IncreaseRows(1000));
  EXPECT_EQ(t.cTileSize, 1000 * t.RowStride);
  EXPECT_EQ(t.TileBuf.size, t.cTileSize);
  ASSERT_TRUE(t.AddRow({"1", "a"}));
  EXPECT_EQ(t.cTileSize, 1001 * t.RowStride);
  EXPECT_GT(t.TileBuf.size, t.cTileSize);
  int32_t first = 0;
  std::memcpy(&first, t.GetCTilePtr(1000, 0), sizeof first);
  EXPECT_EQ(first, 1);
  ASSERT_TRUE(t.DecreaseRows(1));
  EXPECT_EQ(t.TileBuf.size, 1000 * t.RowStride);
  EXPECT_EQ(t.cTileSize, t.TileBuf.size);
}

}  // namespace
