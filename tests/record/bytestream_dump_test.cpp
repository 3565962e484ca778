// The record dump and the text forms of values, compared with the exact text expected.
#include <gtest/gtest.h>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string Dump(const ByteStream& bs, bool oneLine, int indent = 0) {
  CaptureStdout();
  bs.LogRecords(indent, oneLine);
  return GetCapturedStdout();
}

}  // namespace

TEST(ByteStreamDump, DetailedAndOneLineForms) {
  ByteStream bs;
  bs.AddString("Func", "API");
  bs.AddInt32("KeyIndex", -1);
  EXPECT_EQ(Dump(bs, false),
            "Type: dt_string, Key: Func, Values Size: 3, Entry Size 16\n"
            "    \"API\"\n"
            "Type: dt_int32, Key: KeyIndex, Values Size: 4, Entry Size 21\n"
            "    -1\n");
  EXPECT_EQ(Dump(bs, true), "Func (dt_string) --> \"API\"\nKeyIndex (dt_int32) --> -1\n");
  CaptureStdout();
  bs.LogInfo();
  EXPECT_EQ(GetCapturedStdout(),
            "Type: dt_string, Key: Func, Values Size: 3, Entry Size 16\n"
            "Type: dt_int32, Key: KeyIndex, Values Size: 4, Entry Size 21\n");
  EXPECT_EQ(Dump(ByteStream(), false), "");
}

TEST(ByteStreamDump, ScalarsAsText) {
  ByteStream bs;
  bs.AddUInt8("u", 200);
  bs.AddInt8("i", -5);
  bs.AddFloat("f", 0.25f);
  bs.AddUInt64("big", UINT64_MAX);
  bs.AddInt64("neg", INT64_MIN);
  bs.AddString("e", "");
  EXPECT_EQ(Dump(bs, true),
            "u (dt_uint8) --> 200\n"
            "i (dt_int8) --> -5\n"
            "f (dt_float) --> 0.250000\n"
            "big (dt_uint64) --> 18446744073709551615\n"
            "neg (dt_int64) --> -9223372036854775808\n"
            "e (dt_string) --> \"\"\n");
}

TEST(ByteStreamDump, VectorsArraysAndBuffers) {
  ByteStream bs;
  bs.AddInt32Vector("v", {1, -2, 3});
  bs.AddInt32Vector("e", {});
  bs.AddStringVector("s", {"a", ""});
  bs.AddInt16Vector2D("m", {{1, 2}, {}});
  bs.AddBuffer("b", "0123456789", 10);
  EXPECT_EQ(Dump(bs, true),
            "v (dt_int32_vector) --> { 1, -2, 3 }\n"
            "e (dt_int32_vector) --> {  }\n"
            "s (dt_string_vector) --> { \"a\", \"\" }\n"
            "m (dt_int16_vector2D) -->     { \n"
            "        { 1, 2 }\n"
            "        {  }\n"
            "    }\n"
            "b (dt_buffer) -->  [Buffer of Size 10]\n");
  ByteStream two;
  two.AddInt16Vector2D("m", {{7}});
  EXPECT_EQ(Dump(two, false),
            "Type: dt_int16_vector2D, Key: m, Values Size: 18, Entry Size 28\n"
            "    { \n"
            "        { 7 }\n"
            "    }\n");
}

TEST(ByteStreamDump, CodesWithoutValuesAndInvalidRecords) {
  ByteStream bs;
  ByteStreamBuffer vec3("p", dt_vec3, 12);
  bs.AddRecord(vec3);
  EXPECT_EQ(Dump(bs, true), "p (dt_vec3) --> ");
  EXPECT_EQ(Dump(bs, false, 2), "  Type: dt_vec3, Key: p, Values Size: 12, Entry Size 22\n      ");
  ByteStreamBuffer invalid("k", dt_last, 1);
  CaptureStdout();
  bs.LogRecord(invalid, 0, true);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(invalid.ValueToString<std::string>(), "");
  EXPECT_EQ(invalid.VectorValueToString<int32_t>(), "{}");
  EXPECT_EQ(invalid.Vector2DValueToString<int32_t>(4), "{}");
}

TEST(ByteStreamDump, NestedContainersAndStreamVectors) {
  ByteStream inner;
  inner.AddInt32("n", 1);
  ByteStream outer;
  outer.AddStream("c", inner);
  std::vector<ByteStream> kids(2);
  kids[0].AddString("a", "x");
  kids[1].AddString("b", "y");
  outer.AddStreamVector("kids", kids);
  const std::string nested =
      "c (dt_stream) --> \n"
      "    n (dt_int32) --> 1\n"
      "kids (dt_stream_vector) --> \n"
      "    ------------ [0] ------------\n"
      "    a (dt_string) --> \"x\"\n"
      "    ------------ [1] ------------\n"
      "    b (dt_string) --> \"y\"\n";
  EXPECT_EQ(Dump(outer, true), nested);
  EXPECT_EQ(Dump(outer, false, 4),
            "    Type: dt_stream, Key: c, Values Size: 38, Entry Size 48\n"
            "        Type: dt_int32, Key: n, Values Size: 4, Entry Size 14\n"
            "            1\n"
            "    Type: dt_stream_vector, Key: kids, Values Size: 102, Entry Size 115\n"
            "        ------------ [0] ------------\n"
            "        Type: dt_string, Key: a, Values Size: 1, Entry Size 11\n"
            "            \"x\"\n"
            "        ------------ [1] ------------\n"
            "        Type: dt_string, Key: b, Values Size: 1, Entry Size 11\n"
            "            \"y\"\n");
  // A record handed in shows the value its key holds in the container that dumps it: another
  // container's record of the same key prints this one's value, and a key this container
  // lacks (or holds as another kind) prints the header alone.
  ByteStream other;
  ByteStream foreign;
  foreign.AddString("z", "other");
  other.AddStream("c", foreign);
  std::vector<ByteStream> foreignKids;
  foreignKids.push_back(foreign.GetCopy());
  other.AddStreamVector("kids", foreignKids);
  other.AddStream("kids2", foreign);
  CaptureStdout();
  for (const char* key : {"c", "kids", "kids2"}) outer.LogRecord(*other.GetRecord(key), 0, true);
  EXPECT_EQ(GetCapturedStdout(), nested + "kids2 (dt_stream) --> \n");
}

TEST(ByteStreamDump, LogInfoOfADamagedTypeCode) {
  bstest::Bytes image = bstest::Image({bstest::Record(200, "odd", {'x'})});
  ByteStream bs(true);
  ASSERT_TRUE(bs.LoadStream(image.data(), image.size()));
  CaptureStdout();
  bs.LogInfo();
  EXPECT_EQ(GetCapturedStdout(), "Type: dt_invalid, Key: odd, Values Size: 1, Entry Size 13\n");
  EXPECT_EQ(Dump(bs, false), "");
}

// An image nesting containers 20,000 deep loads; its dump shows 64 levels, then says so,
// without a stack frame or a copy of the rest of the image per level.
TEST(ByteStreamDump, DeepNestingIsCutAtALimit) {
  const uint64_t kDepth = 20000, kLevel = 8 + 16 + 9 + 1;  // count, 2 entries, record "k"
  bstest::Bytes image(kDepth * kLevel + 16, 0);
  for (uint64_t i = 0; i <= kDepth; ++i) {
    char* at = image.data() + i * kLevel;
    uint64_t size = image.size() - i * kLevel;
    bstest::Bytes head;
    if (i == kDepth) {
      bstest::PutU64(head, 0);
      bstest::PutU64(head, 16);
    } else {
      for (uint64_t word : {uint64_t{1}, uint64_t{24}, size}) bstest::PutU64(head, word);
      head.push_back(static_cast<char>(dt_stream));
      bstest::PutU64(head, 1);
      head.push_back('k');
    }
    std::copy(head.begin(), head.end(), at);
  }
  ByteStream bs(true);
  ASSERT_TRUE(bs.LoadStream(image.data(), image.size()));
  std::string text = Dump(bs, true);
  std::string expected;
  for (int level = 0; level <= 64; ++level) {
    expected += std::string(4 * level, ' ') + "k (dt_stream) --> \n";
  }
  expected += std::string(4 * 65, ' ') + "[deeper levels not shown]\n";
  EXPECT_EQ(text, expected);
}
