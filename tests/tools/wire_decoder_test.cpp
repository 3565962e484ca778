// The independent wire decoder against hand-written images, its own encoder (round trips
// over random containers and tables) and broken input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "support/WireDecoder.h"
#include "support/WireEncoder.h"

namespace testsupport {
namespace {

// Bytes from space-separated hex pairs.
std::string Hex(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') { ++i; continue; }
    out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::string Decoded(std::string_view image, WireContainer* out) {
  std::string error;
  return DecodeContainer(image, out, &error) ? "" : error.empty() ? "refused" : error;
}

TEST(WireDecoderGolden, EmptyContainerIsSixteenBytes) {
  WireContainer c;
  EXPECT_EQ(Decoded(Hex("00 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00"), &c), "");
  EXPECT_TRUE(c.records.empty());
  EXPECT_NE(Decoded(Hex("00 00 00 00 00 00 00 00 10 00 00 00 00 00 00"), &c), "");  // 15 bytes
  EXPECT_NE(Decoded(Hex("00 00 00 00 00 00 00 00 0f 00 00 00 00 00 00 00"), &c), "");  // end says 15
  EXPECT_EQ(WireImage().Image(), Hex("00 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00"));
}

TEST(WireDecoderGolden, Int32RecordUnderKeyAb) {
  // One record of 15 bytes: type 05, key length 2, "ab", value 7; image 24 + 15 bytes.
  std::string image = Hex("01 00 00 00 00 00 00 00  18 00 00 00 00 00 00 00  27 00 00 00 00 00 00 00"
                          "05  02 00 00 00 00 00 00 00  61 62  07 00 00 00");
  WireContainer c;
  ASSERT_EQ(Decoded(image, &c), "");
  ASSERT_EQ(c.records.size(), 1u);
  EXPECT_EQ(c.records[0].key, "ab");
  EXPECT_EQ(c.records[0].type, wire::kInt32);
  int64_t v = 0;
  EXPECT_TRUE(c.GetInt("ab", &v));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(WireImage().Int32("ab", 7).Image(), image);
}

TEST(WireDecoderGolden, VectorLayouts) {
  // Strings ab, "", c: count 3, offsets 0 2 2 3, bytes abc (43 bytes).
  std::string strings = Hex("03 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  02 00 00 00 00 00 00 00"
                            "02 00 00 00 00 00 00 00  03 00 00 00 00 00 00 00  61 62 63");
  // int16 rows (1, 2) and (3): 2 rows, counts 2 and 1, six element bytes (30 bytes).
  std::string shorts = Hex("02 00 00 00 00 00 00 00  02 00 00 00 00 00 00 00  01 00 00 00 00 00 00 00"
                           "01 00 02 00 03 00");
  // String rows (a, bc), (), (d): counts 2 0 1, offsets 0 1 3 4, bytes abcd (68 bytes).
  std::string textRows = Hex("03 00 00 00 00 00 00 00  02 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"
                             "01 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  01 00 00 00 00 00 00 00"
                             "03 00 00 00 00 00 00 00  04 00 00 00 00 00 00 00  61 62 63 64");
  ASSERT_EQ(strings.size(), 43u);
  ASSERT_EQ(shorts.size(), 30u);
  ASSERT_EQ(textRows.size(), 68u);
  std::string image = WireImage().Raw(28, "s", strings).Raw(37, "i", shorts).Raw(45, "t", textRows).Image();
  WireContainer c;
  ASSERT_EQ(Decoded(image, &c), "");
  EXPECT_EQ(c.Find("s")->texts, (std::vector<std::string>{"ab", "", "c"}));
  const auto& rows = c.Find("i")->numberRows;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<WireNumber>{int64_t{1}, int64_t{2}}));
  EXPECT_EQ(rows[1], (std::vector<WireNumber>{int64_t{3}}));
  EXPECT_EQ(c.Find("t")->textRows,
            (std::vector<std::vector<std::string>>{{"a", "bc"}, {}, {"d"}}));
  EXPECT_EQ(WireImage().StringVector("s", {"ab", "", "c"}).Image(), WireImage().Raw(28, "s", strings).Image());
}

// A table update as the service sends it, written out byte by byte: target db/main/t,
// action UPSERT, no key column, and a table with an INT column "id" and a TEXT column
// "name" (size 16) holding the rows (1, "ab") and (null, "c").
std::string GoldenUpdate() {
  std::string table =
      Hex("09 00 00 00 00 00 00 00"                                     // 9 records
          "58 00 00 00 00 00 00 00  65 00 00 00 00 00 00 00  7c 00 00 00 00 00 00 00"
          "93 00 00 00 00 00 00 00  ca 00 00 00 00 00 00 00  eb 00 00 00 00 00 00 00"
          "0c 01 00 00 00 00 00 00  2e 01 00 00 00 00 00 00  58 01 00 00 00 00 00 00"
          "69 01 00 00 00 00 00 00"                                     // image end: 361
          "0b 04 00 00 00 00 00 00 00 4e 61 6d 65"                      // Name ""
          "07 06 00 00 00 00 00 00 00 4e 62 43 6f 6c 73 02 00 00 00 00 00 00 00"   // NbCols 2
          "07 06 00 00 00 00 00 00 00 4e 62 52 6f 77 73 02 00 00 00 00 00 00 00"   // NbRows 2
          "1c 08 00 00 00 00 00 00 00 43 6f 6c 4e 61 6d 65 73"          // ColNames: id, name
          "02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00"
          "06 00 00 00 00 00 00 00 69 64 6e 61 6d 65"
          "16 08 00 00 00 00 00 00 00 43 6f 6c 54 79 70 65 73"          // ColTypes: 2, 6
          "02 00 00 00 00 00 00 00 02 00 00 00 06 00 00 00"
          "16 08 00 00 00 00 00 00 00 43 6f 6c 53 69 7a 65 73"          // ColSizes: 4, 16
          "02 00 00 00 00 00 00 00 04 00 00 00 10 00 00 00"
          "36 09 00 00 00 00 00 00 00 43 6f 6c 46 6f 72 6d 61 74"       // ColFormat: none
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
          "34 05 00 00 00 00 00 00 00 63 54 69 6c 65"                   // cTile, 28 bytes:
          "01 00 00 00 00 00 00 80"                                     //   id: 1, null
          "00 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 02 00 01 00" //   name: offsets, lengths
          "34 05 00 00 00 00 00 00 00 63 4d 69 6e 74 61 62 63");        // cMint "abc"
  return "BS=" +
         Hex("07 00 00 00 00 00 00 00"                                  // 7 records
             "48 00 00 00 00 00 00 00  58 00 00 00 00 00 00 00  6a 00 00 00 00 00 00 00"
             "7d 00 00 00 00 00 00 00  90 00 00 00 00 00 00 00  a4 00 00 00 00 00 00 00"
             "b9 00 00 00 00 00 00 00  2f 02 00 00 00 00 00 00"           // image end: 559
             "0b 04 00 00 00 00 00 00 00 46 75 6e 63 41 50 49"          // Func API
             "0b 07 00 00 00 00 00 00 00 44 42 41 6c 69 61 73 64 62"    // DBAlias db
             "0b 06 00 00 00 00 00 00 00 44 42 4e 61 6d 65 6d 61 69 6e" // DBName main
             "0b 09 00 00 00 00 00 00 00 54 61 62 6c 65 4e 61 6d 65 74" // TableName t
             "0b 05 00 00 00 00 00 00 00 45 76 65 6e 74 55 50 53 45 52 54"  // Event UPSERT
             "05 08 00 00 00 00 00 00 00 4b 65 79 49 6e 64 65 78 ff ff ff ff"  // KeyIndex -1
             "35 04 00 00 00 00 00 00 00 44 61 74 61") +                // Data: the table
         table;
}

TEST(WireDecoderGolden, TableUpdateMessage) {
  WireContainer m;
  std::string error;
  ASSERT_TRUE(DecodeMessage(GoldenUpdate(), &m, &error)) << error;
  std::vector<std::string> keys;
  for (const auto& r : m.records) keys.push_back(r.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"Func", "DBAlias", "DBName", "TableName", "Event", "KeyIndex", "Data"}));
  std::string func, event;
  int64_t keyIndex = 0;
  EXPECT_TRUE(m.GetText("Func", &func));
  EXPECT_TRUE(m.GetText("Event", &event));
  EXPECT_TRUE(m.GetInt("KeyIndex", &keyIndex));
  EXPECT_EQ(func, "API");
  EXPECT_EQ(event, "UPSERT");
  EXPECT_EQ(keyIndex, -1);
  ASSERT_NE(m.GetNested("Data"), nullptr);
  WireTable t;
  ASSERT_TRUE(DecodeTable(*m.GetNested("Data"), &t, &error)) << error;
  EXPECT_EQ(t.colNames, (std::vector<std::string>{"id", "name"}));
  EXPECT_EQ(t.colTypes, (std::vector<int32_t>{2, 6}));
  EXPECT_EQ(t.colSizes, (std::vector<int32_t>{4, 16}));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(RowTexts(t.rows[0]), (std::vector<std::string>{"1", "ab"}));
  EXPECT_EQ(RowTexts(t.rows[1]), (std::vector<std::string>{"NULL", "c"}));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(t.rows[1][0]));
}

TEST(WireDecoderGolden, OurEncoderWritesTheSameUpdate) {
  WireTable t;
  t.colNames = {"id", "name"};
  t.colTypes = {2, 6};
  t.colSizes = {4, 16};
  t.rows = {{int64_t{1}, std::string("ab")}, {std::monostate{}, std::string("c")}};
  WireImage table = TableImage(t);
  std::string message = WireImage()
                            .Text("Func", "API").Text("DBAlias", "db").Text("DBName", "main").Text("TableName", "t")
                            .Text("Event", "UPSERT").Int32("KeyIndex", -1).Nested("Data", table).Message();
  // TableImage writes one default format per column where the golden image has none, so
  // compare decoded rows rather than bytes.
  WireContainer m;
  WireTable back;
  std::string error;
  ASSERT_TRUE(DecodeMessage(message, &m, &error)) << error;
  ASSERT_TRUE(DecodeTable(*m.GetNested("Data"), &back, &error)) << error;
  EXPECT_EQ(back.rows, t.rows);
  EXPECT_EQ(back.formatCodes, (std::vector<std::string>{"", ""}));
}

TEST(WireDecoderBadInput, EveryTruncationIsRefused) {
  std::string frame = GoldenUpdate();
  for (size_t n = 0; n < frame.size(); ++n) {
    WireContainer m;
    std::string error;
    EXPECT_FALSE(DecodeMessage(frame.substr(0, n), &m, &error)) << n;
    EXPECT_FALSE(error.empty()) << n;
  }
}

TEST(WireDecoderBadInput, CorruptedBytesNeverReadOutside) {
  // Under the sanitizers this shows that no corruption makes the decoder read past its
  // input; whatever decodes must also pass the table check or fail it with a reason.
  std::string frame = GoldenUpdate();
  std::mt19937 rng(7);
  for (int i = 0; i < 4000; ++i) {
    std::string bad = frame;
    int flips = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < flips; ++f) bad[3 + rng() % (bad.size() - 3)] = static_cast<char>(rng());
    WireContainer m;
    std::string error;
    if (!DecodeMessage(bad, &m, &error)) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    if (const WireContainer* data = m.GetNested("Data")) {
      WireTable t;
      if (!DecodeTable(*data, &t, &error)) {
        EXPECT_FALSE(error.empty());
      }
    }
  }
}

TEST(WireDecoderBadInput, MalformedFrames) {
  for (Malformed kind : {Malformed::kTwoBytes, Malformed::kBadPrefix, Malformed::kPrefixOnly,
                         Malformed::kTruncatedImage, Malformed::kDirectoryPastEnd, Malformed::kHugeCount,
                         Malformed::kBadTypeCode, Malformed::kKeyPastRecord}) {
    WireContainer m;
    std::string error;
    EXPECT_FALSE(DecodeMessage(MalformedFrame(kind), &m, &error)) << static_cast<int>(kind);
  }
  WireContainer m;
  std::string text;
  ASSERT_TRUE(DecodeMessage(MalformedFrame(Malformed::kNoFunc), &m, nullptr));
  EXPECT_FALSE(m.GetText("Func", &text));
  ASSERT_TRUE(DecodeMessage(MalformedFrame(Malformed::kNoMsid), &m, nullptr));
  EXPECT_FALSE(m.GetText("MSID", &text));
}

TEST(WireDecoderBadInput, DirectoryMustChainRecords) {
  std::string good = WireImage().Text("a", "x").Text("b", "y").Image();
  WireContainer c;
  ASSERT_EQ(Decoded(good, &c), "");
  std::string gap = good;
  gap[8] = static_cast<char>(gap[8] + 1);  // first record no longer right after the directory
  EXPECT_NE(Decoded(gap, &c), "");
  std::string empty = good;
  std::memcpy(&empty[16], &good[8], 8);  // record 0 of length 0
  EXPECT_NE(Decoded(empty, &c), "");
}

TEST(WireDecoderBadInput, DeepNestingIsRefused) {
  WireImage inner;
  inner.Text("leaf", "x");
  for (int i = 0; i < 100; ++i) inner = WireImage().Nested("n", inner);
  WireContainer c;
  EXPECT_NE(Decoded(inner.Image(), &c), "");
}

// Table images with one thing wrong each are refused with a reason.
TEST(WireTableBadInput, CellsMustAgreeWithSchema) {
  auto base = [] {
    WireImage img;
    img.Text("Name", "t").Int64("NbCols", 1).Int64("NbRows", 2).StringVector("ColNames", {"s"});
    return img;
  };
  std::string tile2 = Hex("00 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 02 00 01 00");
  struct Case {
    const char* what;
    WireImage image;
  } cases[] = {
      {"text beyond block", base().Int32Vector("ColTypes", {6}).Int32Vector("ColSizes", {9}).StreamVector("ColFormat", {})
                                .Buffer("cTile", tile2).Buffer("cMint", "ab")},
      {"texts not contiguous", base().Int32Vector("ColTypes", {6}).Int32Vector("ColSizes", {9}).StreamVector("ColFormat", {})
                                   .Buffer("cTile", Hex("00 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 02 00 01 00"))
                                   .Buffer("cMint", "abcd")},
      {"text longer than size", base().Int32Vector("ColTypes", {6}).Int32Vector("ColSizes", {1}).StreamVector("ColFormat", {})
                                    .Buffer("cTile", tile2).Buffer("cMint", "abc")},
      {"tile size", base().Int32Vector("ColTypes", {2}).Int32Vector("ColSizes", {4}).StreamVector("ColFormat", {})
                        .Buffer("cTile", "1234567").Buffer("cMint", "")},
      {"type id", base().Int32Vector("ColTypes", {21}).Int32Vector("ColSizes", {4}).StreamVector("ColFormat", {})
                      .Buffer("cTile", "").Buffer("cMint", "")},
      {"column count", base().Int32Vector("ColTypes", {2, 2}).Int32Vector("ColSizes", {4}).StreamVector("ColFormat", {})
                           .Buffer("cTile", "12345678").Buffer("cMint", "")},
      {"missing cMint", base().Int32Vector("ColTypes", {2}).Int32Vector("ColSizes", {4}).StreamVector("ColFormat", {})
                            .Buffer("cTile", "12345678")},
      {"rows without cells", base().Int32Vector("ColTypes", {1}).Int32Vector("ColSizes", {0}).StreamVector("ColFormat", {})
                                 .Buffer("cTile", "").Buffer("cMint", "")},
  };
  for (auto& c : cases) {
    WireContainer container;
    ASSERT_EQ(Decoded(c.image.Image(), &container), "") << c.what;
    WireTable t;
    std::string error;
    EXPECT_FALSE(DecodeTable(container, &t, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

TEST(WireTableCells, NullsAreBitPatterns) {
  // FLOAT null is all bits set; another NaN is a value. INT and BIG INT nulls are the most
  // negative values. A text of one 0 byte is null; the text "0" is not.
  uint32_t otherNaN = 0x7FC00001u;
  std::string tile;
  auto put = [&tile](uint64_t v, int w) { for (int i = 0; i < w; ++i) tile.push_back(static_cast<char>(v >> (8 * i))); };
  put(0xFFFFFFFFu, 4), put(otherNaN, 4);                          // FLOAT
  put(0x80000000u, 4), put(0x7FFFFFFFu, 4);                       // INT
  put(0x8000000000000000ull, 8), put(0x7FFFFFFFFFFFFFFFull, 8);   // BIG INT
  put(~0ull, 8), put(0x3FF0000000000000ull, 8);                   // BIG FLOAT 1.0
  put(0, 8), put(1, 8), put(1, 2), put(1, 2);                     // TEXT: "\0", "0"
  std::string image = WireImage()
                          .Text("Name", "n").Int64("NbCols", 5).Int64("NbRows", 2)
                          .StringVector("ColNames", {"f", "i", "b", "d", "s"})
                          .Int32Vector("ColTypes", {4, 2, 3, 5, 6}).Int32Vector("ColSizes", {4, 4, 8, 8, 10})
                          .StreamVector("ColFormat", {}).Buffer("cTile", tile).Buffer("cMint", std::string("\0" "0", 2))
                          .Image();
  WireContainer c;
  ASSERT_EQ(Decoded(image, &c), "");
  WireTable t;
  std::string error;
  ASSERT_TRUE(DecodeTable(c, &t, &error)) << error;
  EXPECT_EQ(RowTexts(t.rows[0]), (std::vector<std::string>{"NULL", "NULL", "NULL", "NULL", "NULL"}));
  EXPECT_TRUE(std::isnan(std::get<float>(t.rows[1][0])));
  EXPECT_EQ(RowTexts(t.rows[1]), (std::vector<std::string>{"nan", "2147483647", "9223372036854775807", "1", "0"}));
}

// Random containers of every value kind, nested, survive encode then decode.
class RandomContainers {
 public:
  explicit RandomContainers(uint32_t seed) : rng_(seed) {}

  std::string Text() {
    std::string s(rng_() % 12, '\0');
    for (auto& ch : s) ch = static_cast<char>(rng_());
    return s;
  }

  WireImage Make(int depth, WireContainer* expect) {
    WireImage img;
    int n = static_cast<int>(rng_() % 6);
    for (int i = 0; i < n; ++i) {
      WireRecord r;
      r.key = Text();
      switch (rng_() % (depth > 0 ? 7 : 6)) {
        case 0: r.type = wire::kString; r.texts = {Text()}; img.Text(r.key, r.texts[0]); break;
        case 1: {
          int32_t v = static_cast<int32_t>(rng_());
          r.type = wire::kInt32; r.numbers = {int64_t{v}}; img.Int32(r.key, v); break;
        }
        case 2: {
          int64_t v = static_cast<int64_t>(uint64_t{rng_()} << 32 | rng_());
          r.type = wire::kInt64; r.numbers = {v}; img.Int64(r.key, v); break;
        }
        case 3: r.type = wire::kBuffer; r.texts = {Text()}; img.Buffer(r.key, r.texts[0]); break;
        case 4: {
          r.type = wire::kStringVector;
          for (unsigned k = rng_() % 4; k > 0; --k) r.texts.push_back(Text());
          img.StringVector(r.key, r.texts);
          break;
        }
        case 5: {
          std::vector<int32_t> v;
          for (unsigned k = rng_() % 5; k > 0; --k) v.push_back(static_cast<int32_t>(rng_()));
          r.type = wire::kInt32Vector;
          for (int32_t x : v) r.numbers.push_back(int64_t{x});
          img.Int32Vector(r.key, v);
          break;
        }
        default: {
          r.type = wire::kStream;
          img.Nested(r.key, Make(depth - 1, &r.containers.emplace_back()));
        }
      }
      expect->records.push_back(std::move(r));
    }
    return img;
  }

 private:
  std::mt19937 rng_;
};

void ExpectSame(const WireContainer& a, const WireContainer& b) {
  ASSERT_EQ(a.records.size(), b.records.size());
  for (size_t i = 0; i < a.records.size(); ++i) {
    const WireRecord &x = a.records[i], &y = b.records[i];
    EXPECT_EQ(x.key, y.key);
    EXPECT_EQ(x.type, y.type);
    EXPECT_EQ(x.numbers, y.numbers);
    EXPECT_EQ(x.texts, y.texts);
    ASSERT_EQ(x.containers.size(), y.containers.size());
    for (size_t k = 0; k < x.containers.size(); ++k) ExpectSame(x.containers[k], y.containers[k]);
  }
}

TEST(WireRoundTrip, RandomContainers) {
  RandomContainers gen(2024);
  for (int i = 0; i < 300; ++i) {
    WireContainer expect, got;
    WireImage img = gen.Make(3, &expect);
    ASSERT_EQ(Decoded(img.Image(), &got), "");
    ExpectSame(expect, got);
  }
}

TEST(WireRoundTrip, RandomTables) {
  std::mt19937 rng(99);
  const int32_t kTypes[] = {2, 3, 4, 5, 6, 7, 20, 9, 12};
  for (int i = 0; i < 200; ++i) {
    WireTable t;
    t.name = "t" + std::to_string(i);
    int cols = 1 + static_cast<int>(rng() % 5), rows = static_cast<int>(rng() % 6);
    for (int c = 0; c < cols; ++c) {
      t.colNames.push_back("c" + std::to_string(c));
      t.colTypes.push_back(kTypes[rng() % 9]);
      t.colSizes.push_back(0);
    }
    for (int r = 0; r < rows; ++r) {
      auto& row = t.rows.emplace_back();
      for (int c = 0; c < cols; ++c) {
        int32_t type = t.colTypes[c];
        if (rng() % 5 == 0) row.emplace_back(std::monostate{});
        else if (type == 2) row.emplace_back(int64_t{static_cast<int32_t>(rng() % 2000) - 1000});
        else if (type == 3 || type == 20) row.emplace_back(static_cast<int64_t>(uint64_t{rng()} << 20) - 5);
        else if (type == 4) row.emplace_back(static_cast<float>(rng() % 1000) / 8.0f);
        else if (type == 5 || type == 9) row.emplace_back(static_cast<double>(rng()) / 3.0);
        else row.emplace_back(std::string(rng() % 7, static_cast<char>('a' + rng() % 26)));
      }
    }
    WireContainer c;
    ASSERT_EQ(Decoded(TableImage(t).Image(), &c), "");
    WireTable back;
    std::string error;
    ASSERT_TRUE(DecodeTable(c, &back, &error)) << error;
    EXPECT_EQ(back.name, t.name);
    EXPECT_EQ(back.colNames, t.colNames);
    EXPECT_EQ(back.colTypes, t.colTypes);
    EXPECT_EQ(back.rows, t.rows);
  }
}

}  // namespace
}  // namespace testsupport
