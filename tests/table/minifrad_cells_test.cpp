// Cells of a heap table: rows of texts in, cells out as text, numbers and bytes; the schema
// operations and row growth that move cells; the dumps.
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "table/MiniFrad.h"

namespace {

MiniFrad MakeTable(const std::vector<int32_t>& types, std::vector<int32_t> sizes = {}) {
  std::vector<std::string> names;
  for (size_t i = 0; i < types.size(); ++i) names.push_back("c" + std::to_string(i));
  MiniFrad t;
  t.New("t");
  EXPECT_TRUE(t.Set(0, names, types, sizes));
  return t;
}

std::string Text(const MiniFrad& t, int64_t col, int64_t row) {
  std::string out = "unset";
  t.ToString(col, row, out);
  return out;
}

template <typename T>
void PutCell(MiniFrad& t, int64_t row, int64_t col, T value) {
  std::memcpy(t.GetCTilePtr(row, col), &value, sizeof value);
}

TEST(MiniFradCells, MissingTextsGiveNullsOfEveryKind) {
  MiniFrad t = MakeTable({2, 3, 4, 5, 20, 6});
  ASSERT_TRUE(t.AddRow({"1"}));
  for (int64_t c = 1; c < 6; ++c) {
    EXPECT_TRUE(t.ValueIsNull(c, 0)) << c;
    EXPECT_EQ(Text(t, c, 0), "NULL") << c;
  }
  uint16_t length = 0;
  const char* text = t.GetCMintPtr(0, 5, length);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(text[0], '\0');
}

// Number texts in and out: bad texts give null, good ones print every digit they hold, and
// what prints reads back to the same cell.
TEST(MiniFradCells, NumberTextsInAndOut) {
  struct Case {
    int32_t type;
    const char* in;
    const char* out;
  } cases[] = {
      {2, "12a", "NULL"},       {2, " 12", "NULL"},        {2, "+12", "NULL"},
      {2, "", "NULL"},          {2, "-", "NULL"},          {2, "-2147483648", "NULL"},
      {2, "-17", "-17"},        {4, "1e3", "1000"},        {4, "1.5x", "NULL"},
      {4, "inf", "inf"},        {4, "0.5", "0.5"},         {4, "1.05", "1.05"},
      {4, "19.99", "19.99"},    {4, "-122.409", "-122.409"}, {4, "1.5e+06", "1.5e+06"},
      {4, "1e-05", "1e-05"},    {5, "0.1", "0.1"},         {5, "1", "1"},
      {5, "100", "100"},        {5, "19.99", "19.99"},     {5, "1.5e+06", "1500000"},
      {5, "2.99999999997", "2.99999999997"},
  };
  for (const Case& c : cases) {
    MiniFrad t = MakeTable({c.type});
    ASSERT_TRUE(t.AddRow({c.in}));
    ASSERT_TRUE(t.AddRow({Text(t, 0, 0)}));
    EXPECT_EQ(Text(t, 0, 0), c.out) << c.type << " " << c.in;
    EXPECT_EQ(Text(t, 0, 1), c.out) << c.type << " " << c.in << " read back";
  }
  // A quiet NaN that is not all ones is a value, not null.
  MiniFrad t = MakeTable({4});
  ASSERT_TRUE(t.AddRow({"1"}));
  PutCell(t, 0, 0, std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(t.ValueIsNull(0, 0));
}

// A text column whose size was left out holds texts up to its type's own length.
TEST(MiniFradCells, SetGivesOmittedTextSizesTheTypeDefault) {
  MiniFrad t = MakeTable({6, 2}, {});
  EXPECT_EQ(t.ColSizes[0], 65535);
  ASSERT_TRUE(t.AddRow({"light-17", "0"}));
  EXPECT_EQ(Text(t, 0, 0), "light-17");
  MiniFrad few = MakeTable({7}, {});
  EXPECT_EQ(few.ColSizes[0], 1024);
}

TEST(MiniFradCells, SetRefusesBadSchemasAndKeepsTheShorterList) {
  MiniFrad t;
  t.New("t");
  EXPECT_FALSE(t.Set(0, {"a"}, {21}, {}));
  EXPECT_FALSE(t.Set(0, {"a"}, {-1}, {}));
  EXPECT_FALSE(t.Set(0, {"a"}, {6}, {65536}));
  ASSERT_TRUE(t.Set(2, {"a", "b", "c"}, {2, 3}, {}));
  EXPECT_EQ(t.NbCols, 2);
  EXPECT_EQ(t.cTileSize, 2u * 12u);
}

TEST(MiniFradCells, EmptyAndNullTexts) {
  MiniFrad t = MakeTable({6});
  ASSERT_TRUE(t.AddRow({""}));
  ASSERT_TRUE(t.AddRow({}));
  ASSERT_TRUE(t.AddRow({"0"}));
  std::string out;
  EXPECT_TRUE(t.ToString(0, 0, out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(t.ToString(0, 1, out));
  EXPECT_EQ(out, "NULL");
  EXPECT_FALSE(t.ValueIsNull(0, 2));
  EXPECT_FALSE(t.ToString(0, 3, out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(t.ToString(1, 0, out));
}

TEST(MiniFradCells, DatetimeCells) {
  MiniFrad t = MakeTable({20});
  ASSERT_TRUE(t.AddRow({"1970-01-01 00:00:01.5 trailing"}));
  ASSERT_TRUE(t.AddRow({"yesterday"}));
  int64_t ns = 0;
  std::memcpy(&ns, t.GetCTilePtr(0, 0), sizeof ns);
  EXPECT_EQ(ns, 1500000000);
  EXPECT_TRUE(t.ValueIsNull(0, 1));
  EXPECT_EQ(Text(t, 0, 0), "1970-01-01 00:00:01.500000");
  double serial = 0;
  PutCell<int64_t>(t, 0, 0, 0);
  ASSERT_TRUE(t.ToDouble(0, 0, serial, true));
  EXPECT_EQ(serial, 25569.0);
  int64_t day = 0;
  ASSERT_TRUE(t.ToInt64(0, 0, day, true));
  EXPECT_EQ(day, 25569);
}

TEST(MiniFradCells, NumbersFromCells) {
  MiniFrad t = MakeTable({2, 4, 5, 6});
  ASSERT_TRUE(t.AddRow({"-5", "2.75", "-3.9", "x"}));
  double d = 0;
  int64_t i = 0;
  EXPECT_TRUE(t.ToDouble(1, 0, d, false));
  EXPECT_EQ(d, 2.75);
  EXPECT_TRUE(t.ToInt64(0, 0, i, false));
  EXPECT_EQ(i, -5);
  EXPECT_TRUE(t.ToInt64(2, 0, i, false));
  EXPECT_EQ(i, -3);
  EXPECT_FALSE(t.ToInt64(3, 0, i, false));
  EXPECT_EQ(i, INT64_MIN);
  d = 1;
  EXPECT_FALSE(t.ToDouble(3, 0, d, false));
  EXPECT_TRUE(std::isnan(d));
  i = 4;
  EXPECT_FALSE(t.ToInt64(0, 1, i, false));
  EXPECT_EQ(i, 4);
}

// Floats without an integer value give the integer null, never undefined behaviour.
TEST(MiniFradCells, FloatsWithoutAnIntegerGiveNull) {
  MiniFrad t = MakeTable({4, 5});
  for (const char* v : {"nan", "inf", "-inf", "1e30", "-1e19", "9.3e18"}) ASSERT_TRUE(t.AddRow({v, v}));
  ASSERT_TRUE(t.AddRow({"", ""}));  // the null cells
  for (int64_t r = 0; r < t.NbRows; ++r) {
    for (int64_t c = 0; c < 2; ++c) {
      int64_t i = 0;
      EXPECT_TRUE(t.ToInt64(c, r, i, false));
      EXPECT_EQ(i, INT64_MIN) << c << " " << r;
    }
  }
  ASSERT_TRUE(t.AddRow({"-9.2e18", "-9.223372036854775e18"}));
  int64_t i = 0;
  EXPECT_TRUE(t.ToInt64(1, t.NbRows - 1, i, false));
  EXPECT_EQ(i, -9223372036854774784);
}

TEST(MiniFradCells, RawBytes) {
  MiniFrad t = MakeTable({2, 5, 6, 1});
  ASSERT_TRUE(t.AddRow({"7", "0.5", "hey"}));
  ASSERT_TRUE(t.AddRow({"7", "0.5"}));
  AppCore::CharBuffer b;
  ASSERT_TRUE(t.ToBuffer(0, 0, b));
  ASSERT_EQ(b.size, 4u);
  int32_t v;
  std::memcpy(&v, b.data, 4);
  EXPECT_EQ(v, 7);
  ASSERT_TRUE(t.ToBuffer(1, 0, b));
  EXPECT_EQ(b.size, 8u);
  ASSERT_TRUE(t.ToBuffer(2, 0, b));
  EXPECT_EQ(std::string(b.data, b.size), "hey");
  ASSERT_TRUE(t.ToBuffer(2, 1, b));
  ASSERT_EQ(b.size, 1u);
  EXPECT_EQ(b.data[0], '\0');
  EXPECT_FALSE(t.ToBuffer(3, 0, b));
  EXPECT_FALSE(t.ToBuffer(0, 2, b));
  EXPECT_FALSE(t.ToBuffer(9, 0, b));
}

TEST(MiniFradCells, StringVectors) {
  MiniFrad t = MakeTable({6});
  for (const char* v : {"a", "b", "c"}) ASSERT_TRUE(t.AddRow({v}));
  std::vector<std::string> all;
  ASSERT_TRUE(t.ToStringVector(all, 0, 0, nullptr));
  EXPECT_EQ(all, (std::vector<std::string>{"a", "b", "c"}));
  const uint32_t rows[] = {2, 0};
  std::vector<std::string> some;
  ASSERT_TRUE(t.ToStringVector(some, 0, 2, rows));
  EXPECT_EQ(some, (std::vector<std::string>{"c", "a"}));
  EXPECT_FALSE(t.ToStringVector(some, 1, 0, nullptr));
}

TEST(MiniFradCells, GrowingAndShrinkingRowsKeepsCells) {
  MiniFrad t = MakeTable({2, 6, 5});
  for (int r = 0; r < 10; ++r) ASSERT_TRUE(t.AddRow({std::to_string(r), "t" + std::to_string(r), "0.5"}));
  EXPECT_EQ(t.GetCTilePtr(10, 0), nullptr);
  const uint64_t textBytes = t.cMintSize;
  ASSERT_TRUE(t.DecreaseRows(4));
  ASSERT_TRUE(t.Validate(true));
  EXPECT_EQ(t.cMintSize, textBytes);  // the dropped rows' texts stay, unreferenced
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(Text(t, 0, r), std::to_string(r));
    EXPECT_EQ(Text(t, 1, r), "t" + std::to_string(r));
  }
  ASSERT_TRUE(t.IncreaseRows(3));
  for (int r = 0; r < 6; ++r) EXPECT_EQ(Text(t, 0, r), std::to_string(r));
  ASSERT_TRUE(t.DecreaseRows(100));
  EXPECT_EQ(t.NbRows, 0);
  EXPECT_EQ(t.cTileSize, 0u);
}

using Range = std::pair<uint64_t, uint64_t>;

TEST(MiniFradCells, SizesOfRowRanges) {
  MiniFrad t = MakeTable({2, 6, 6});
  ASSERT_TRUE(t.AddRow({"1", "a", "xyz"}));
  ASSERT_TRUE(t.AddRow({"2", "bb", ""}));
  ASSERT_TRUE(t.AddRow({"3", "ccc", "q"}));
  // Rows r0..r1 in order; r0 outside 0..NbRows is the first row, r1 outside it the last, and
  // the row count itself stands for the last row: never a row that does not exist.
  const struct {
    int64_t r0, r1;
    Range size;
  } sizes[] = {
      {0, 2, Range(72, 10)}, {1, 1, Range(24, 2)}, {-4, 3, Range(72, 10)},
      {3, 3, Range(24, 4)},  {2, 0, Range(72, 10)}, {1, -1, Range(48, 6)},
  };
  for (const auto& c : sizes) EXPECT_EQ(t.GetSize(c.r0, c.r1), c.size) << c.r0 << ".." << c.r1;
  const auto range = t.GetCMintRange(1, 2, 1);
  EXPECT_EQ(range.second - range.first, 5u);
  EXPECT_EQ(t.GetCMintRange(0), Range(0, 0));
  EXPECT_EQ(t.GetCMintRange(9), Range(0, 0));
}

TEST(MiniFradCells, NewColumnSizes) {
  MiniFrad t = MakeTable({2});
  ASSERT_TRUE(t.AddRow({"1"}));
  ASSERT_NE(t.NewColumn("a", 6, 0), nullptr);
  ASSERT_NE(t.NewColumn("b", 6, 70000), nullptr);
  ASSERT_NE(t.NewColumn("c", 6, 12), nullptr);
  ASSERT_NE(t.NewColumn("d", 5, 12), nullptr);
  EXPECT_EQ(t.ColSizes, (std::vector<int32_t>{4, 65535, 65535, 12, 8}));
  EXPECT_EQ(t.NewColumn("e", 21, 0), nullptr);
}

TEST(MiniFradCells, LockedTablesRefuseChanges) {
  MiniFrad t = MakeTable({2});
  ASSERT_TRUE(t.AddRow({"1"}));
  t.Locked = true;
  EXPECT_FALSE(t.AddRow({"2"}));
  EXPECT_FALSE(t.IncreaseRows(1));
  EXPECT_FALSE(t.DeleteAllRows());
  EXPECT_EQ(t.NewColumn("x", 2, 0), nullptr);
  EXPECT_FALSE(t.Set(5, {"a"}, {2}, {}));
  EXPECT_FALSE(t.ResizeCTile(100));
  EXPECT_FALSE(t.ResizeCMint(100));
  EXPECT_EQ(t.NbRows, 1);
  t.Locked = false;
}

// Rows without a byte of cells would leave a table that neither validates nor loads.
TEST(MiniFradCells, SchemasWithoutCellsTakeNoRows) {
  MiniFrad t = MakeTable({0, 1});  // DROP and NULL columns only
  EXPECT_FALSE(t.AddRow({"a", "b"}));
  EXPECT_FALSE(t.IncreaseRows(3));
  EXPECT_TRUE(t.IncreaseRows(0));
  EXPECT_EQ(t.NbRows, 0);
  EXPECT_TRUE(t.Validate(true));
}

TEST(MiniFradCells, GenMiniFradFromRows) {
  MiniFrad t = MiniFrad::GenMiniFrad("g", {2, 6, 5}, {{"1", "hello", "2.5"}, {"x"}, {"3", "", "1e300"}},
                                     {"a", "b"});
  ASSERT_TRUE(t.Validate(true));
  EXPECT_EQ(t.ColNames, (std::vector<std::string>{"a", "b", "Column2"}));
  EXPECT_EQ(t.ColSizes[1], 5);
  EXPECT_EQ(Text(t, 1, 0), "hello");
  EXPECT_EQ(Text(t, 1, 1), "NULL");
  EXPECT_EQ(Text(t, 0, 1), "NULL");
  EXPECT_EQ(Text(t, 2, 2), "1e+300");
  EXPECT_EQ(t.cMintSize, 6u);
}

TEST(MiniFradCells, GeneratorsAndCombinations) {
  MiniFrad t = MakeTable({2, 6, 6});
  for (int r = 0; r < 8; ++r) {
    ASSERT_TRUE(t.AddRow({std::to_string(r), std::string(r, 'x'), "y" + std::to_string(r)}));
  }
  const int64_t pick[] = {5, 1, 1};
  MiniFrad g = t.GenerateFromRows(pick, 3, "g", "");
  ASSERT_TRUE(g.Validate(true));
  EXPECT_EQ(Text(g, 1, 0), "xxxxx");
  EXPECT_EQ(Text(g, 2, 2), "y1");
  MiniFrad copy = t.GenerateCopy("c", "");
  MiniFrad both = MiniFrad::CombineToMiniFrad(t, copy, "both");
  ASSERT_TRUE(both.Validate(true));
  ASSERT_EQ(both.NbRows, 16);
  for (int r = 0; r < 16; ++r) EXPECT_EQ(Text(both, 2, r), "y" + std::to_string(r % 8));
  copy.ColFormat[1].DisplayName = "other";
  EXPECT_EQ(MiniFrad::CombineToMiniFrad(t, copy, "x").NbCols, 0);
  std::vector<uint8_t> mask = {1, 0, 1};
  EXPECT_EQ(t.GenerateFromMask(mask, "m", "").NbRows, 2);
  const int64_t bad[] = {8};
  EXPECT_FALSE(t.GenerateFromRows(bad, 1, "b", "").Loaded);
}

TEST(MiniFradCells, DeleteColumnsKeepsTheOthers) {
  MiniFrad t = MakeTable({6, 2, 6, 5, 6});
  for (int r = 0; r < 5; ++r) {
    ASSERT_TRUE(t.AddRow({"a" + std::to_string(r), std::to_string(r), "b", "0.25", "c" + std::to_string(r)}));
  }
  EXPECT_FALSE(t.DeleteColumns({7}));
  ASSERT_TRUE(t.DeleteColumns({2, 0, 2}));
  ASSERT_TRUE(t.Validate(true));
  ASSERT_EQ(t.NbCols, 3);
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(Text(t, 0, r), std::to_string(r));
    EXPECT_EQ(Text(t, 1, r), "0.25");
    EXPECT_EQ(Text(t, 2, r), "c" + std::to_string(r));
  }
  EXPECT_EQ(t.cMintSize, 10u);
}

TEST(MiniFradCells, Dumps) {
  EXPECT_EQ(HeaderDivider("AB", 10, "-"), "--- AB ---");
  EXPECT_EQ(HeaderDivider("AB", 11, "-"), "--- AB ----");
  EXPECT_EQ(HeaderDivider("ABCDEFGH", 10, "="), "= ABCDEFGH =");
  EXPECT_EQ(Divider(3, "*"), "***");
  MiniFrad t = MakeTable({2, 6});
  ASSERT_TRUE(t.AddRow({"1", "a"}));
  ASSERT_TRUE(t.AddRow({"2"}));
  const std::string rows = t.LogRows(-1, "T", true);
  EXPECT_NE(rows.find("c0, c1\nINT, TEXT\n1, [0,1]\"a\"\n2, [1,1]NULL\n"), std::string::npos) << rows;
  EXPECT_NE(t.LogRows(0, "T", false).find("...\n"), std::string::npos);
  EXPECT_EQ(t.LogInfo(),
            "Name: t, NbCols: 2, NbRows: 2, cTileSize: 28, cMintSize: 2\n"
            "  ColTypes: { 2, 6 }\n  ColOffsets: { 0, 4 }\n  ColSizes: { 4, 65535 }\n"
            "  ColStride: { 4, 10 }\n");
}

}  // namespace
