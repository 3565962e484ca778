// Loading images from outside: every damaged count, directory and record is refused without
// reading outside the image, and records, lookups, copies and nested loads behave as the
// container promises.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"

using namespace bstest;

namespace {

Bytes U8(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<char>(x));
  return out;
}

// Loads a heap copy of exactly `image`, so that AddressSanitizer sees any read past it.
bool LoadExact(ByteStream& bs, const Bytes& image) {
  std::unique_ptr<char[]> copy(new char[image.size() + 1]);
  std::memcpy(copy.get(), image.data(), image.size());
  bool loaded = bs.LoadStream(copy.get(), image.size());
  if (bs.readOnly) bs.Reset();  // its records viewed the copy
  return loaded;
}

}  // namespace

TEST(ByteStreamLoad, ShortInputsAndTheEmptyImage) {
  ByteStream bs;
  bs.AddInt32("keep", 1);
  Bytes seven(7, 0);
  EXPECT_FALSE(bs.LoadStream(seven.data(), 7));
  EXPECT_TRUE(bs.HasRecord("keep"));  // unchanged
  EXPECT_FALSE(bs.LoadStream(nullptr, 100));
  EXPECT_TRUE(bs.HasRecord("keep"));
  Bytes eight(8, 0);
  EXPECT_FALSE(bs.LoadStream(eight.data(), 8));  // N = 0 but no directory
  EXPECT_TRUE(bs.records.empty());
  EXPECT_EQ(bs.GetStreamSize(), 16u);
  Bytes empty = Image({});
  EXPECT_TRUE(bs.LoadStream(empty.data(), empty.size()));
  EXPECT_TRUE(bs.records.empty());
}

TEST(ByteStreamLoad, CountsThatWouldWrapAreRefused) {
  // N near 2^61 makes 8 (N + 2) wrap to a small number.
  for (uint64_t n : std::vector<uint64_t>{(1ull << 61) - 2, (1ull << 61) - 1, 1ull << 61, UINT64_MAX, UINT64_MAX / 8}) {
    Bytes image;
    PutU64(image, n);
    PutU64(image, 16);
    PutU64(image, 16);
    ByteStream bs;
    EXPECT_FALSE(LoadExact(bs, image)) << n;
    EXPECT_FALSE(ByteStream::ValidateStream(image.data(), image.size())) << n;
    ByteStream view(true);
    EXPECT_FALSE(LoadExact(view, image)) << n;
  }
}

TEST(ByteStreamLoad, EmptyDirectoryEntriesGiveNoRecord) {
  Bytes a = Record(dt_uint8, "a", U8({1})), b = Record(dt_uint8, "b", U8({2}));
  Bytes image;
  PutU64(image, 3);
  PutU64(image, 40);
  PutU64(image, 40);  // record 0 is empty
  PutU64(image, 40 + a.size());
  PutU64(image, 40 + a.size() + b.size());
  image.insert(image.end(), a.begin(), a.end());
  image.insert(image.end(), b.begin(), b.end());
  ByteStream bs;
  ASSERT_TRUE(LoadExact(bs, image));
  ASSERT_EQ(bs.records.size(), 2u);
  uint8_t v = 0;
  EXPECT_TRUE(bs.GetUInt8("b", v));
  EXPECT_EQ(v, 2);
  // The container's own image is the canonical one.
  EXPECT_EQ(ImageOf(bs), Image({a, b}));
}

TEST(ByteStreamLoad, AnEntryPastTheEndKeepsTheRecordsBeforeIt) {
  Bytes a = Record(dt_uint8, "a", U8({1})), b = Record(dt_uint8, "b", U8({2}));
  Bytes image = Image({a, b});
  PutU64(image, 0);  // keep the length from matching
  Bytes bad = image;
  uint64_t past = image.size() + 1;
  std::memcpy(bad.data() + 24, &past, 8);  // entry 2: past the end
  ByteStream bs;
  EXPECT_FALSE(LoadExact(bs, bad));
  ASSERT_EQ(bs.records.size(), 1u);
  EXPECT_TRUE(bs.HasRecord("a"));
  // Past the end on its own: falling entries give no record to measure against the length.
  Bytes lone;
  for (uint64_t word : {2, 2000, 1000, 1000}) PutU64(lone, word);
  for (bool view : {false, true}) {
    ByteStream loaded(view);
    EXPECT_FALSE(LoadExact(loaded, lone)) << view;
  }
}

TEST(ByteStreamLoad, RecordsThatRunPastTheImageAreRefused) {
  Bytes a = Record(dt_string, "a", Str("hello"));
  // The directory claims a long record, then falls back and rises again, so that the sum of
  // the lengths passes the end although every entry is inside it.
  Bytes image;
  PutU64(image, 3);
  PutU64(image, 40);
  PutU64(image, 40 + a.size());
  PutU64(image, 41);
  PutU64(image, 40 + a.size());
  image.insert(image.end(), a.begin(), a.end());
  ByteStream bs;
  EXPECT_FALSE(LoadExact(bs, image));
  EXPECT_EQ(bs.records.size(), 1u);
  ByteStream view(true);
  EXPECT_FALSE(LoadExact(view, image));
}

TEST(ByteStreamLoad, RecordsShorterThanTheirKeyAreRefused) {
  // 8 bytes: shorter than the 9-byte header.
  Bytes shortRecord = U8({dt_uint8, 1, 0, 0, 0, 0, 0, 0});
  ByteStream bs;
  EXPECT_FALSE(LoadExact(bs, Image({shortRecord})));
  // Key lengths running past the record (by one byte, by three) and ones that would wrap.
  for (uint64_t keyLength : std::vector<uint64_t>{3ull, 5ull, 1ull << 63, UINT64_MAX - 3}) {
    Bytes r = U8({dt_uint8});
    PutU64(r, keyLength);
    PutText(r, "ab");
    EXPECT_FALSE(LoadExact(bs, Image({r}))) << keyLength;
    EXPECT_TRUE(bs.records.empty());
  }
}

TEST(ByteStreamLoad, DuplicateKeysKeepBothRecordsAndTheLastWins) {
  Bytes first = Record(dt_int32, "k", U8({1, 0, 0, 0}));
  Bytes second = Record(dt_int32, "k", U8({2, 0, 0, 0}));
  Bytes image = Image({first, second});
  ByteStream bs;
  ASSERT_TRUE(LoadExact(bs, image));
  EXPECT_EQ(bs.records.size(), 2u);
  int32_t v = 0;
  EXPECT_TRUE(bs.GetInt32("k", v));
  EXPECT_EQ(v, 2);
  EXPECT_EQ(bs.GetRecordIndex("k"), 1);
  EXPECT_EQ(ImageOf(bs), image);
}

TEST(ByteStreamLoad, ValidateStreamChecksCountDirectoryAndLength) {
  Bytes image = Image({Record(dt_uint8, "a", U8({1}))});
  EXPECT_TRUE(ByteStream::ValidateStream(image.data(), image.size()));
  EXPECT_FALSE(ByteStream::ValidateStream(image.data(), image.size() - 1));
  image.push_back(0);
  EXPECT_FALSE(ByteStream::ValidateStream(image.data(), image.size()));
  EXPECT_FALSE(ByteStream::ValidateStream(image.data(), 7));
  EXPECT_FALSE(ByteStream::ValidateStream(nullptr, 16));
}

TEST(ByteStreamLoad, ReadOnlyLoadsViewTheCallersBytes) {
  Bytes image = Image({Record(dt_string, "s", Str("abc"))});
  ByteStream view(true);
  ASSERT_TRUE(view.LoadStream(image.data(), image.size()));
  EXPECT_FALSE(view.records[0].owned);
  EXPECT_EQ(view.records[0].data, image.data() + 24);
  ByteStream copy;
  ASSERT_TRUE(copy.LoadStream(image.data(), image.size()));
  EXPECT_TRUE(copy.records[0].owned);
  EXPECT_EQ(copy.mode, 1u);
  // Adds on a read-only container change nothing.
  view.AddInt32("x", 1);
  view.AddString("s", "zzz");
  EXPECT_EQ(view.AddBuffer("b", static_cast<uint64_t>(4)), nullptr);
  EXPECT_EQ(ImageOf(view), image);
}

TEST(ByteStreamRecords, LookupsOfMissingKeysAndIndexes) {
  ByteStream bs;
  bs.AddString("a", "x");
  EXPECT_EQ(bs.GetRecordIndex("nope"), -1);
  EXPECT_EQ(bs.GetRecordKey(1), "");
  EXPECT_EQ(bs.GetRecord(1), nullptr);
  EXPECT_EQ(bs.GetRecord("nope"), nullptr);
  EXPECT_EQ(bs.GetRecordValueSize("nope"), 0u);
  EXPECT_EQ(bs.GetRecordValueSize("a"), 1u);
  EXPECT_FALSE(bs.HasRecord("nope"));
}

TEST(ByteStreamRecords, GettersInsistOnTheExactType) {
  ByteStream bs;
  bs.AddInt32("i", 7);
  int64_t wide = 5;
  uint32_t unsignedOut = 5;
  EXPECT_FALSE(bs.GetInt64("i", wide));
  EXPECT_FALSE(bs.GetUInt32("i", unsignedOut));
  EXPECT_EQ(wide, 5);
  EXPECT_EQ(unsignedOut, 5u);
  bs.AddString("i", "now text");  // replaces whatever the type
  int32_t i = 3;
  EXPECT_FALSE(bs.GetInt32("i", i));
  EXPECT_EQ(i, 3);
  std::string s;
  EXPECT_TRUE(bs.GetString("i", s));
  EXPECT_EQ(bs.records.size(), 1u);
  std::vector<float> floats = {1.5f};
  bs.AddInt32Vector("v", {1, 2});
  EXPECT_FALSE(bs.GetFloatVector("v", floats));
  EXPECT_EQ(floats, std::vector<float>{1.5f});
  bs.AddFloatVector2D("m", {{1.f}});
  EXPECT_FALSE(bs.GetFloatVector("m", floats));
  // Bool and UInt8 share code 2, Char and Int8 share code 1.
  bs.AddUInt8("u", 200);
  bool b = false;
  EXPECT_TRUE(bs.GetBool("u", b));
  EXPECT_TRUE(b);
  bs.AddChar("c", 'q');
  int8_t c8 = 0;
  EXPECT_TRUE(bs.GetInt8("c", c8));
  EXPECT_EQ(c8, 'q');
}

TEST(ByteStreamRecords, EmptyValues) {
  ByteStream bs;
  bs.AddString("s", "");
  std::string s = "x";
  EXPECT_TRUE(bs.GetString("s", s));
  EXPECT_EQ(s, "");
  bs.AddBuffer("b", nullptr, 0);
  AppCore::CharBuffer buf;
  EXPECT_FALSE(bs.GetBuffer("b", buf));
  uint64_t size = 9;
  EXPECT_EQ(bs.GetBufferPtr("b", size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(bs.HasRecord("b"));
}

TEST(ByteStreamRecords, AddRecordValidatesOnBothPaths) {
  ByteStream bs;
  bs.AddInt32("k", 1);
  uint64_t size = bs.GetStreamSize();
  ByteStreamBuffer bad("n", dt_last, 4);
  EXPECT_EQ(bs.AddRecord(bad), nullptr);  // new key, type 58
  EXPECT_EQ(bs.GetStreamSize(), size);
  ByteStreamBuffer badReplace("k", dt_last, 4);
  EXPECT_EQ(bs.AddRecord(badReplace), nullptr);  // existing key: refused as well
  int32_t v = 0;
  EXPECT_TRUE(bs.GetInt32("k", v));
  ByteStreamBuffer empty;
  EXPECT_EQ(bs.AddRecord(empty), nullptr);
  ByteStreamBuffer truncated("k", dt_int32, 4);
  truncated.size = 5;  // shorter than its header: must not be read
  EXPECT_EQ(bs.AddRecord(truncated), nullptr);
  truncated.size = 14;
  ByteStreamBuffer good("k", dt_int32, 4);
  int32_t nine = 9;
  good.SetValue(&nine);
  ASSERT_NE(bs.AddRecord(good), nullptr);
  EXPECT_EQ(good.data, nullptr);  // taken
  EXPECT_TRUE(bs.GetInt32("k", v));
  EXPECT_EQ(v, 9);
  EXPECT_EQ(bs.GetStreamSize(), size);
}

TEST(ByteStreamRecords, CopyEntryAndGetCopy) {
  ByteStream source;
  source.AddString("s", "value");
  source.AddInt64("n", -4);
  ByteStream target;
  target.CopyEntry(source, "s");
  target.CopyEntry(source, "missing");
  std::string s;
  EXPECT_TRUE(target.GetString("s", s));
  EXPECT_EQ(s, "value");
  EXPECT_EQ(target.records.size(), 1u);
  ByteStream readOnly(true);
  readOnly.CopyEntry(source, "s");
  EXPECT_TRUE(readOnly.records.empty());

  ByteStream copy = source.GetCopy();
  EXPECT_EQ(ImageOf(copy), ImageOf(source));
  source.AddString("s", "changed");
  EXPECT_TRUE(copy.GetString("s", s));
  EXPECT_EQ(s, "value");
  ByteStream empty = ByteStream(true).GetCopy();
  EXPECT_FALSE(empty.readOnly);
  EXPECT_EQ(empty.GetStreamSize(), 16u);
}

TEST(ByteStreamRecords, MovingARecordOrAContainerLeavesTheSourceEmpty) {
  ByteStreamBuffer a("k", dt_uint8, 1);
  ByteStreamBuffer b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0u);
  EXPECT_FALSE(a.owned);
  EXPECT_EQ(b.size, 11u);
  ByteStream s1;
  s1.AddString("x", "y");
  ByteStream s2(std::move(s1));
  EXPECT_EQ(s1.GetStreamSize(), 16u);
  EXPECT_TRUE(s1.records.empty());
  EXPECT_TRUE(s2.HasRecord("x"));
}

TEST(ByteStreamRecords, ScalarsSetValueAndSizes) {
  ByteStreamBuffer empty("", dt_buffer, 0);
  EXPECT_TRUE(empty.SetValue(nullptr));  // nothing to copy
  ByteStreamBuffer last("a", dt_last, 1);
  char v = 1;
  EXPECT_FALSE(last.SetValue(&v));
  ByteStreamBuffer json("a", dt_json, 1);
  EXPECT_TRUE(json.SetValue(&v));
  ByteStreamBuffer none;
  EXPECT_FALSE(none.SetValue(&v));
  ByteStreamBuffer view(true);
  EXPECT_FALSE(view.owned);
  char bytes[20] = {};
  ByteStreamBuffer placed("ab", dt_int16, bytes, 13);
  EXPECT_EQ(placed.data, bytes);
  EXPECT_FALSE(placed.Resize(20));  // a view never reallocates
  EXPECT_TRUE(placed.Resize(13));
  EXPECT_EQ(bytes[0], dt_int16);
  ByteStreamBuffer grown("k", dt_buffer, 2);
  grown.data[10] = 'x';
  ASSERT_TRUE(grown.Resize(100));
  EXPECT_EQ(grown.data[10], 'x');
  EXPECT_TRUE(grown.Resize(0));
  EXPECT_EQ(grown.data, nullptr);
}

TEST(ByteStreamRecords, CallerSizesThatOverflowAreRefused) {
  EXPECT_THROW(ByteStreamBuffer("key", dt_buffer, UINT64_MAX - 5), std::bad_alloc);
  ByteStream bs;
  EXPECT_EQ(bs.AddBuffer("key", UINT64_MAX - 5), nullptr);
  EXPECT_TRUE(bs.records.empty());
  char byte = 0;
  EXPECT_THROW(bs.AddBufferVector("v", {&byte, &byte}, {UINT64_MAX, 2}), std::bad_alloc);
  EXPECT_TRUE(bs.records.empty());
  bs.AddBufferVector("v", {&byte, &byte}, {1, 1, 1});  // lengths differ: nothing
  bs.AddBufferVector("w", {nullptr}, {4});             // no bytes to copy: nothing
  EXPECT_TRUE(bs.records.empty());
}

TEST(ByteStreamNested, GetStreamReportsTheLoad) {
  ByteStream child;
  child.AddInt32("n", 5);
  ByteStream parent;
  parent.AddStream("c", child);
  ByteStream out;
  ASSERT_TRUE(parent.GetStream("c", out));
  int32_t n = 0;
  EXPECT_TRUE(out.GetInt32("n", n));
  EXPECT_EQ(n, 5);

  // A damaged nested image is a failure, not a success with partial data.
  Bytes inner = ImageOf(child);
  inner[16] = 100;  // directory entry past the end
  parent.AddBuffer("raw", inner.data(), inner.size());
  parent.GetRecord("raw")->data[0] = dt_stream;
  ByteStream broken;
  EXPECT_FALSE(parent.GetStream("raw", broken));

  // dt_buffer records load when they hold a valid image.
  Bytes emptyImage = Image({});
  parent.AddBuffer("b16", emptyImage.data(), emptyImage.size());
  ByteStream fromBuffer;
  fromBuffer.AddInt32("old", 1);
  EXPECT_TRUE(parent.GetStream("b16", fromBuffer));
  EXPECT_TRUE(fromBuffer.records.empty());
  parent.AddBuffer("b15", emptyImage.data(), 15);
  EXPECT_FALSE(parent.GetStream("b15", fromBuffer));
  parent.AddStream("e", ByteStream());
  EXPECT_TRUE(parent.GetStream("e", fromBuffer));
  parent.AddInt32("i", 1);
  EXPECT_FALSE(parent.GetStream("i", fromBuffer));
  EXPECT_FALSE(parent.GetStream("missing", fromBuffer));
  // Loading a container's record into itself.
  ByteStream self;
  self.AddStream("c", child);
  EXPECT_TRUE(self.GetStream("c", self));
  EXPECT_TRUE(self.GetInt32("n", n));
  self.AddStream("c", child);
  ByteStreamBuffer* own = self.GetRecord("c");
  EXPECT_TRUE(self.LoadStream(own->GetValue(), own->GetValueSize()));
  EXPECT_EQ(ImageOf(self), ImageOf(child));
}

TEST(ByteStreamNested, StreamVectorsViewOrCopyAndReportFailures) {
  ByteStream a, b;
  a.AddString("name", "a");
  std::vector<ByteStream> children;
  children.push_back(std::move(a));
  children.push_back(std::move(b));
  ByteStream parent;
  parent.AddStreamVector("kids", children);
  Bytes image = ImageOf(parent);
  ByteStream view(true);
  ASSERT_TRUE(view.LoadStream(image.data(), image.size()));
  std::vector<ByteStream> got;
  ASSERT_TRUE(view.GetStreamVector("kids", got));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].readOnly);
  ASSERT_EQ(got[0].records.size(), 1u);
  EXPECT_GE(got[0].records[0].data, image.data());
  EXPECT_LT(got[0].records[0].data, image.data() + image.size());
  EXPECT_TRUE(got[1].records.empty());

  // Damage the first child's directory: the vector is reported as failed.
  ByteStreamBuffer* kids = parent.GetRecord("kids");
  char* firstItem = kids->GetValue() + 8 + 8 * 3;
  firstItem[8 + 8] = 0x7f;  // entry 1 of the child's directory
  EXPECT_FALSE(parent.GetStreamVector("kids", got));
  // Offsets past the value are refused before anything is read.
  char* offsets = kids->GetValue() + 8;
  uint64_t huge = 1ull << 40;
  std::memcpy(offsets + 8, &huge, 8);
  got.clear();
  got.emplace_back();
  EXPECT_FALSE(parent.GetStreamVector("kids", got));
}
