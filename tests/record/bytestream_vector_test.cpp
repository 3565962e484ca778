// Vector and 2-D records read in place through the element accessors, and damaged vector
// values that must be refused instead of read past.
#include <gtest/gtest.h>

#include <cstring>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"

using namespace bstest;

namespace {

// A record of `type` under key "k" holding exactly `value`.
ByteStreamBuffer RawRecord(ByteStreamDataType type, const Bytes& value) {
  ByteStreamBuffer r("k", type, value.size());
  if (!value.empty()) std::memcpy(r.GetValue(), value.data(), value.size());
  return r;
}

Bytes Words(std::initializer_list<uint64_t> words) {
  Bytes out;
  for (uint64_t w : words) PutU64(out, w);
  return out;
}

template <class T>
T At(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

TEST(ByteStreamVector, NumberVectorElements) {
  ByteStream bs;
  bs.AddFloatVector("f", {1.5f, -2.f, 3.25f});
  ByteStreamBuffer* r = bs.GetRecord("f");
  EXPECT_TRUE(r->IsVectorType());
  EXPECT_FALSE(r->IsVector2DType());
  EXPECT_EQ(r->GetVectorSize(), 3u);
  EXPECT_EQ(r->GetVectorElemCount(), 3u);
  EXPECT_EQ(r->GetVectorSize(2), 4u);
  EXPECT_EQ(r->GetVectorSize(3), 0u);
  EXPECT_EQ(At<float>(r->GetVectorElem(2)), 3.25f);
  EXPECT_EQ(r->GetVectorElem(3), nullptr);  // i equal to the count
  EXPECT_EQ(r->GetVectorElem(0, 0), nullptr);
  std::vector<float> out;
  EXPECT_TRUE(bs.GetFloatVector("f", out));
  EXPECT_EQ(out, (std::vector<float>{1.5f, -2.f, 3.25f}));
}

TEST(ByteStreamVector, StringVectorElements) {
  ByteStream bs;
  bs.AddStringVector("s", {"ab", "", "c"});
  ByteStreamBuffer* r = bs.GetRecord("s");
  EXPECT_EQ(r->GetVectorSize(), 3u);
  EXPECT_EQ(r->GetVectorSize(0), 2u);
  EXPECT_EQ(r->GetVectorSize(1), 0u);
  EXPECT_EQ(std::string(r->GetVectorElem(2), 1), "c");
  std::vector<std::string> out = {"x", "y", "z", "w"};
  EXPECT_TRUE(bs.GetStringVector("s", out));
  EXPECT_EQ(out, (std::vector<std::string>{"ab", "", "c"}));
}

TEST(ByteStreamVector, Array2DElements) {
  ByteStream bs;
  bs.AddFloatVector2D("m", {{1.f, 2.f}, {}, {3.f, 4.f, 5.f}});
  ByteStreamBuffer* r = bs.GetRecord("m");
  EXPECT_TRUE(r->IsVector2DType());
  EXPECT_EQ(r->GetVectorSize(), 3u);
  EXPECT_EQ(r->GetVectorSize(2), 3u);
  EXPECT_EQ(r->GetVectorSize(1), 0u);
  EXPECT_EQ(r->GetVectorSize(3), 0u);
  EXPECT_EQ(r->GetVectorSize(2, 2), 4u);
  EXPECT_EQ(r->GetVectorSize(2, 3), 0u);
  EXPECT_EQ(r->GetVectorElemCount(), 5u);
  EXPECT_EQ(At<float>(r->GetVectorElem(2)), 3.f);
  EXPECT_EQ(At<float>(r->GetVectorElem(2, 1)), 4.f);
  EXPECT_EQ(At<float>(r->GetVectorElem(0, 1)), 2.f);
  EXPECT_EQ(r->GetVectorElem(1, 0), nullptr);
  EXPECT_EQ(r->GetVectorElem(3), nullptr);

  bs.AddStringVector2D("t", {{"a", "bc"}, {}, {"d"}});
  r = bs.GetRecord("t");
  EXPECT_EQ(r->GetVectorSize(0), 2u);
  EXPECT_EQ(r->GetVectorSize(0, 1), 2u);
  EXPECT_EQ(r->GetVectorSize(2, 0), 1u);
  EXPECT_EQ(r->GetVectorElemCount(), 3u);
  EXPECT_EQ(std::string(r->GetVectorElem(0, 1), 2), "bc");
  EXPECT_EQ(std::string(r->GetVectorElem(2), 1), "d");
  std::vector<std::vector<std::string>> rows;
  EXPECT_TRUE(bs.GetStringVector2D("t", rows));
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"a", "bc"}, {}, {"d"}}));
}

TEST(ByteStreamVector, ItemListsHaveNoElementAccess) {
  ByteStream bs;
  bs.AddStreamVector("v", std::vector<ByteStream>(2));
  char x = 'x';
  bs.AddBufferVector("b", {&x, nullptr}, {1, 0});
  for (const char* key : {"v", "b"}) {
    ByteStreamBuffer* r = bs.GetRecord(key);
    EXPECT_TRUE(r->IsVectorType());
    EXPECT_EQ(r->GetVectorSize(), 2u);
    EXPECT_EQ(r->GetVectorElemCount(), 2u);
    EXPECT_EQ(r->GetVectorSize(0), 0u);
    EXPECT_EQ(r->GetVectorElem(0), nullptr);
  }
  std::vector<char*> data;
  std::vector<uint64_t> sizes;
  EXPECT_TRUE(bs.GetBufferVector("b", data, sizes));
  EXPECT_EQ(data[1], nullptr);
  EXPECT_EQ(sizes[1], 0u);
  ByteStream scalar;
  scalar.AddInt32("i", 1);
  EXPECT_EQ(scalar.GetRecord("i")->GetVectorSize(), 0u);
  EXPECT_EQ(scalar.GetRecord("i")->GetVectorElemCount(), 0u);
}

TEST(ByteStreamVector, DamagedNumberVectorsAreRefused) {
  // A count near 2^61 that would wrap count * width, and a count one too large.
  for (uint64_t count : std::vector<uint64_t>{1ull << 61, (1ull << 62) + 1, 3ull, UINT64_MAX}) {
    Bytes value = Words({count});
    PutU64(value, 7);  // 8 element bytes for a 4-byte type: only 2 fit
    ByteStreamBuffer r = RawRecord(dt_int32_vector, value);
    EXPECT_EQ(r.GetVectorElem(0), nullptr) << count;
    EXPECT_EQ(r.GetVectorSize(0), 0u) << count;
    EXPECT_EQ(r.VectorValueToString<int32_t>(), "{}");
    ByteStream bs;
    bs.AddRecord(r);
    std::vector<int32_t> out = {9};
    EXPECT_FALSE(bs.GetInt32Vector("k", out)) << count;
    EXPECT_TRUE(out.empty());
  }
  ByteStreamBuffer tooShort = RawRecord(dt_int64_vector, Bytes(5, 1));
  EXPECT_EQ(tooShort.GetVectorSize(), 0u);
  EXPECT_EQ(tooShort.GetVectorElem(0), nullptr);
}

TEST(ByteStreamVector, DamagedItemListsAreRefused) {
  // Offsets past the item area, falling offsets, counts that would wrap 8 N.
  Bytes falling = Words({2, 0, 3, 1});
  PutText(falling, "abc");
  Bytes onePast = Words({1, 0, 4});  // ends one byte after its 3 item bytes
  PutText(onePast, "abc");
  std::vector<Bytes> values = {Words({1, 0, 100}), falling, onePast, Words({1ull << 61, 0, 0}),
                               Words({UINT64_MAX, 0}), Bytes(15, 0)};
  for (const Bytes& value : values) {
    ByteStream bs;
    for (auto type : {dt_string_vector, dt_stream_vector, dt_buffer_vector}) {
      ByteStreamBuffer r = RawRecord(type, value);
      bs.AddRecord(r);
      if (type == dt_string_vector) {
        ByteStreamBuffer* stored = bs.GetRecord("k");
        EXPECT_EQ(stored->GetVectorElem(1), nullptr);
        EXPECT_EQ(stored->GetVectorSize(1), 0u);
        EXPECT_EQ(stored->VectorValueToString<std::string>(), "{}");
        std::vector<std::string> out = {"old"};
        EXPECT_FALSE(bs.GetStringVector("k", out));
        EXPECT_TRUE(out.empty());
      } else if (type == dt_stream_vector) {
        std::vector<ByteStream> out;
        EXPECT_FALSE(bs.GetStreamVector("k", out));
      } else {
        std::vector<char*> data;
        std::vector<uint64_t> sizes;
        EXPECT_FALSE(bs.GetBufferVector("k", data, sizes));
        std::vector<AppCore::CharBuffer> copies;
        EXPECT_FALSE(bs.GetBufferVector("k", copies));
      }
    }
  }
}

TEST(ByteStreamVector, DamagedArrays2DAreRefused) {
  std::vector<Bytes> numberValues = {
      Words({1, 3}),                  // row of 3 elements, none present
      Words({1ull << 61, 0}),         // rows that would wrap 8 R
      Words({2, UINT64_MAX, 2}),      // a row count that would wrap the element bytes
      Words({2, 1ull << 62, 1ull << 62}),
      Bytes(3, 0)};
  for (const Bytes& value : numberValues) {
    ByteStreamBuffer r = RawRecord(dt_int32_vector2D, value);
    EXPECT_EQ(r.GetVectorElem(0), nullptr);
    EXPECT_EQ(r.GetVectorElem(1, 0), nullptr);
    EXPECT_EQ(r.GetVectorSize(1, 0), 0u);
    std::vector<std::vector<int32_t>> rows = {{1}};
    EXPECT_FALSE(r.GetVector2DValue(rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(r.Vector2DValueToString<int32_t>(0), "{}");
  }
  std::vector<Bytes> textValues = {
      Words({1, 2, 0, 1}),                  // two strings but room for fewer offsets
      Words({2, UINT64_MAX, 2, 0}),         // counts whose sum wraps
      Words({1, 1, 0, 50}),                 // an offset past the string bytes
      Words({1ull << 61, 0}),
      Bytes(9, 0)};
  for (const Bytes& value : textValues) {
    ByteStreamBuffer r = RawRecord(dt_string_vector2D, value);
    EXPECT_EQ(r.GetVectorElem(0, 0), nullptr);
    EXPECT_EQ(r.GetVectorSize(0, 0), 0u);
    std::vector<std::vector<std::string>> rows = {{"x"}};
    EXPECT_FALSE(r.GetVector2DValue(rows));
    EXPECT_TRUE(rows.empty());
  }
}

TEST(ByteStreamVector, SettersWriteIntoRecords) {
  ByteStreamBuffer r("k", dt_int16_vector, 0);
  ASSERT_TRUE(r.SetVectorValue(std::vector<int16_t>{1, 2}));
  EXPECT_EQ(r.GetValueSize(), 8u + 4);
  ByteStreamBuffer t("k", dt_string_vector2D, 0);
  ASSERT_TRUE(t.SetVector2DValue(std::vector<std::vector<std::string>>{{"a"}, {}}));
  std::vector<std::vector<std::string>> rows;
  ASSERT_TRUE(t.GetVector2DValue(rows));
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"a"}, {}}));
  ByteStreamBuffer invalid("k", dt_last, 0);
  EXPECT_FALSE(invalid.SetVectorValue(std::vector<int8_t>{1}));
  char place[32];
  ByteStreamBuffer view("k", dt_int8_vector, place, 10);
  EXPECT_FALSE(view.SetVectorValue(std::vector<int8_t>{1}));  // a view of the wrong length
}
