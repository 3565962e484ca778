// The Kafka message scanner: the documented examples, white space of every kind, escapes,
// truncation, and random flat objects checked against simdjson's reading of the same text.

#include <gtest/gtest.h>
#include <simdjson.h>

#include <random>

#include "streams/KafkaStream.h"
#include "stream_test_util.h"

namespace {

using Row = std::vector<std::string>;

// A stream whose target has the columns `names`, in that order.
class Scanner : public KafkaStream {
 public:
  explicit Scanner(const std::vector<std::string>& names) : StreamBase("k", nullptr), KafkaStream("k", nullptr) {
    for (size_t i = 0; i < names.size(); ++i) columnMap[names[i]] = {static_cast<int32_t>(i), 6};
    columnCount = static_cast<int64_t>(names.size());
  }
};

template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

struct Case {
  const char* what;
  std::string payload;
  Row row;         // for the columns b, a
  size_t matched;  // members stored
};

TEST(JsonToRow, Table) {
  const std::vector<Case> cases = {
      {"one line, spaces, target order", R"({"a": "x y", "b": 2})", {"2", "x y"}, 2},
      {"line feed before every member", "{\n  \"a\": \"x\",\n  \"b\": 2\n}\n", {"2", "x"}, 2},
      {"tabs and carriage returns", "{\t\"a\"\t:\r\n\"x\" ,\r\n\"b\":\t-1.5e3}", {"-1.5e3", "x"}, 2},
      {"escaped quote and backslash", R"({"a":"say \"hi\"","b":"c:\\dir"})", {"c:\\dir", "say \"hi\""}, 2},
      {"escapes are not decoded", R"({"a":"l1\nl2","b":"\u0041"})", {"u0041", "l1nl2"}, 2},
      {"literals as their text", R"({"a":null,"b":true})", {"true", "null"}, 2},
      {"absent key leaves an empty text", R"({"b":"7"})", {"7", ""}, 1},
      {"repeated key: the later value", R"({"a":"1","a":"2"})", {"", "2"}, 2},
      {"unknown keys are ignored", R"({"c":"1","b":"2"})", {"2", ""}, 1},
      {"case matters in keys", R"({"A":"1","B":"2"})", {"", ""}, 0},
      {"truncated object loses its last member", R"({"a":"1","b":2)", {"", "1"}, 1},
      {"ends inside quotes", R"({"a":"1","b":"2)", {"", "1"}, 1},
      {"ends after a backslash", "{\"a\":\"1\",\"b\":\"2\\", {"", "1"}, 1},
      {"NUL ends the scan", Bytes("{\"a\":\"1\",\0\"b\":\"2\"}"), {"", "1"}, 1},
      {"array value keeps its text up to the first comma", R"({"a":[1,2],"b":3})", {"3", "[1"}, 2},
      {"nested object names no column", R"({"a":{"b":1},"b":2})", {"2", ""}, 1},
      {"quoted separators are text", R"({"a":"{x:1, y}","b":"q"})", {"q", "{x:1, y}"}, 2},
      {"empty payload", "", {"", ""}, 0},
      {"not JSON at all", "hello world", {"", ""}, 0},
      {"empty object", "{}", {"", ""}, 0},
  };
  const Scanner stream({"b", "a"});
  for (const Case& c : cases) {
    size_t matched = 99;
    EXPECT_EQ(stream.JsonToRow(c.payload, &matched), c.row) << c.what;
    EXPECT_EQ(matched, c.matched) << c.what;
  }
}

TEST(JsonToRow, RowHasOneTextPerColumn) {
  const Scanner none({});
  EXPECT_TRUE(none.JsonToRow(R"({"a":"1"})").empty());
  const Scanner four({"w", "x", "y", "z"});
  EXPECT_EQ(four.JsonToRow(R"({"y":"3"})"), (Row{"", "", "3", ""}));
}

// Random flat objects of string and number members with random JSON white space, written
// with only \" and \\ escapes (which the scanner and a JSON parser read alike): every
// column's text must be what simdjson reads for that key (the last occurrence). The row and
// the scanner's buffers are reused from one object to the next, as the stream does.
TEST(JsonToRow, RandomObjectsMatchSimdjson) {
  std::mt19937 rng(20261207);
  const std::vector<std::string> keys = {"id", "name", "price", "when", "note", "extra"};
  const Scanner stream({"id", "name", "price", "when", "note"});
  const std::string kValueBytes = " ab,:{}[]\"\\xyz";
  const char* blanks[] = {"", " ", "\n", "\t", "\r\n", "  \n\t"};
  auto blank = [&] { return std::string(blanks[rng() % 6]); };
  simdjson::dom::parser parser;
  Row row;
  KafkaStream::ScanBuffers buffers;
  for (int round = 0; round < 2000; ++round) {
    std::string json = blank() + "{";
    const int members = static_cast<int>(rng() % 8);
    for (int m = 0; m < members; ++m) {
      const std::string& key = keys[rng() % keys.size()];
      std::string value;
      std::string written;
      if (rng() % 2) {
        value = std::to_string(static_cast<int64_t>(rng()) - (1ll << 31));
        written = value;
      } else {
        const int len = static_cast<int>(rng() % 12);
        for (int i = 0; i < len; ++i) value += kValueBytes[rng() % kValueBytes.size()];
        written = streamtest::Quote(value);
      }
      json += (m ? "," : "") + blank() + "\"" + key + "\"" + blank() + ":" + blank() + written + blank();
    }
    json += "}" + blank();

    simdjson::dom::element doc;
    ASSERT_EQ(parser.parse(json).get(doc), simdjson::SUCCESS) << json;
    const size_t matched = stream.ScanRow(json, row, buffers);
    size_t expectMatched = 0;
    // simdjson's reading: the last member of each column's name, every member counted.
    Row expect(stream.columnMap.size());
    simdjson::dom::object object;
    ASSERT_EQ(doc.get_object().get(object), simdjson::SUCCESS);
    for (simdjson::dom::key_value_pair field : object) {
      auto it = stream.columnMap.find(field.key);
      if (it == stream.columnMap.end()) continue;
      ++expectMatched;
      std::string_view text;
      int64_t number = 0;
      if (field.value.get_string().get(text) == simdjson::SUCCESS) expect[it->second.first] = std::string(text);
      else if (field.value.get_int64().get(number) == simdjson::SUCCESS) expect[it->second.first] = std::to_string(number);
    }
    EXPECT_EQ(row, expect) << json;
    EXPECT_EQ(matched, expectMatched) << json;
  }
}

}  // namespace
