// Byte layouts of records, images, vector values and pre-allocated layouts, checked against
// images spelled out independently of the container's writer.
#include <gtest/gtest.h>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

using namespace bstest;

namespace {

Bytes U64s(std::initializer_list<uint64_t> values) {
  Bytes out;
  for (uint64_t v : values) PutU64(out, v);
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes ValueOf(ByteStream& bs, const std::string& key) {
  ByteStreamBuffer* r = bs.GetRecord(key);
  return Bytes(r->GetValue(), r->GetValue() + r->GetValueSize());
}

}  // namespace

TEST(ByteStreamLayout, EmptyImageIsSixteenBytes) {
  ByteStream bs;
  EXPECT_EQ(bs.GetStreamSize(), 16u);
  EXPECT_EQ(ImageOf(bs), U64s({0, 16}));
  EXPECT_EQ(bs.mode, 1u);
  EXPECT_EQ(ByteStream(true).mode, 0u);
}

TEST(ByteStreamLayout, RecordHeaderKeyAndValue) {
  ByteStreamBuffer r("ab", dt_int32, 4);
  ASSERT_EQ(r.size, 15u);
  int32_t v = -2;
  ASSERT_TRUE(r.SetValue(&v));
  Bytes expected = {5, 2, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', '\xfe', '\xff', '\xff', '\xff'};
  EXPECT_EQ(Bytes(r.data, r.data + r.size), expected);
  ByteStreamBuffer empty("", dt_int8, 1);
  EXPECT_EQ(empty.GetKeySize(), 0u);
  EXPECT_EQ(empty.GetValue(), empty.data + 9);
}

TEST(ByteStreamLayout, ScalarAddsGiveTheExpectedImage) {
  ByteStream bs;
  bs.AddInt32("a", 7);
  EXPECT_EQ(bs.GetStreamSize(), 38u);
  EXPECT_EQ(ImageOf(bs), Image({Record(dt_int32, "a", Bytes{7, 0, 0, 0})}));
  bs.AddInt32("a", 9);  // same key: replaced, size unchanged
  EXPECT_EQ(bs.GetStreamSize(), 38u);
  EXPECT_EQ(ImageOf(bs), Image({Record(dt_int32, "a", Bytes{9, 0, 0, 0})}));
  bs.AddBool("b", true);
  bs.AddString("c", "xyz");
  EXPECT_EQ(ImageOf(bs), Image({Record(dt_int32, "a", Bytes{9, 0, 0, 0}),
                                Record(dt_uint8, "b", Bytes{1}), Record(dt_string, "c", Str("xyz"))}));
}

TEST(ByteStreamLayout, VectorValues) {
  ByteStream bs;
  bs.AddStringVector("s", {"ab", "", "c"});
  EXPECT_EQ(ValueOf(bs, "s"), Cat({U64s({3, 0, 2, 2, 3}), Str("abc")}));
  EXPECT_EQ(ValueOf(bs, "s").size(), 43u);
  bs.AddInt16Vector2D("m", {{1, 2}, {3}});
  EXPECT_EQ(ValueOf(bs, "m"), Cat({U64s({2, 2, 1}), Bytes{1, 0, 2, 0, 3, 0}}));
  bs.AddStringVector2D("t", {{"a", "bc"}, {}, {"d"}});
  EXPECT_EQ(ValueOf(bs, "t"), Cat({U64s({3, 2, 0, 1, 0, 1, 3, 4}), Str("abcd")}));
  EXPECT_EQ(ValueOf(bs, "t").size(), 68u);
  bs.AddInt32Vector("e", {});
  EXPECT_EQ(ValueOf(bs, "e"), U64s({0}));
  bs.AddStreamVector("v", {});
  EXPECT_EQ(ValueOf(bs, "v"), U64s({0, 0}));
  bs.AddDoubleVector2D("z", {});
  EXPECT_EQ(ValueOf(bs, "z"), U64s({0}));
  bs.AddStringVector2D("zs", {});
  EXPECT_EQ(ValueOf(bs, "zs"), U64s({0, 0}));
}

TEST(ByteStreamLayout, PreAllocateDetails) {
  std::vector<ByteStreamSlotSpec> slots = {
      {"a", dt_int32, 0}, {"b", dt_string, 5}, {"", dt_int8, 1}, {"c", dt_none, 4},
      {"d", dt_buffer, 0}};
  std::vector<std::string> keys;
  std::vector<ByteStreamDataType> types;
  std::vector<uint64_t> sizes, offsets;
  EXPECT_EQ(ByteStream::GetPreAllocateDetails(slots, keys, types, sizes, offsets), 61u);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(sizes, (std::vector<uint64_t>{14, 15}));
  EXPECT_EQ(offsets, (std::vector<uint64_t>{32, 46, 61}));

  slots = {{"a", dt_int32, 0}, {"a", dt_double, 0}};
  EXPECT_EQ(ByteStream::GetPreAllocateDetails(slots, keys, types, sizes, offsets), 42u);
  EXPECT_EQ(types, (std::vector<ByteStreamDataType>{dt_double}));
  EXPECT_EQ(sizes, (std::vector<uint64_t>{18}));
  EXPECT_EQ(ByteStream::GetPreAllocateSize({}), 16u);
  // A size that cannot be represented is refused, not wrapped.
  EXPECT_EQ(ByteStream::GetPreAllocateSize({{"x", dt_buffer, UINT64_MAX - 5}}), 0u);
}

TEST(ByteStreamLayout, PreAllocateInBufferThenFill) {
  ByteStream bs;
  ASSERT_TRUE(bs.PreAllocate({{"a", dt_int32, 0}, {"b", dt_string, 3}}, ""));
  EXPECT_EQ(bs.mode, 2u);
  EXPECT_EQ(bs.GetStreamSize(), 16u + 8 + 14 + 8 + 13);
  bs.AddInt32("a", 5);
  bs.AddString("b", "xyz");
  EXPECT_EQ(ImageOf(bs), Image({Record(dt_int32, "a", Bytes{5, 0, 0, 0}),
                                Record(dt_string, "b", Str("xyz"))}));
  EXPECT_EQ(Bytes(bs.buffer.data, bs.buffer.data + bs.buffer.size), ImageOf(bs));
}

TEST(ByteStreamLayout, StreamViewCopiesImageRanges) {
  ByteStream bs;
  bs.AddInt32("a", 1);
  bs.AddString("bb", "hello");
  Bytes image = ImageOf(bs);
  Bytes all(image.size());
  bs.GetStreamView(all.data(), 0, image.size());
  EXPECT_EQ(all, image);
  Bytes part(10);
  bs.GetStreamView(part.data(), 3, 10);
  EXPECT_EQ(part, Bytes(image.begin() + 3, image.begin() + 13));
  for (uint64_t off = 0; off < image.size(); off += 7) {
    for (uint64_t len : {1ul, 5ul, 9ul, 100ul}) {
      Bytes got(len, 'Z');
      bs.GetStreamView(got.data(), off, len);
      uint64_t n = std::min<uint64_t>(len, image.size() - off);
      EXPECT_EQ(Bytes(got.begin(), got.begin() + n), Bytes(image.begin() + off, image.begin() + off + n));
      EXPECT_EQ(Bytes(got.begin() + n, got.end()), Bytes(len - n, 'Z'));  // past the end: untouched
    }
  }
}
