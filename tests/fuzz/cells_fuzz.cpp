// Fuzz target: texts and schemas into typed cells. The input names a schema (column count,
// type ids including ones outside the table, text sizes of any sign) and rows of tab-separated
// texts. Whatever they hold, Set refuses the schema or the rows go in with AddRow; the table
// then validates, its image is read back by the independent wire decoder with every row,
// a copy loaded from that image gives the same texts, and the texts read back through
// AddRow give the same texts again (a cell's own text is a fixed point; nulls aside).
//
// Input: the schema (tests/fuzz/fuzz_schema.h), then rows separated by '\n', texts by
// '\t'.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_schema.h"
#include "fuzz_scratch.h"
#include "record/ByteStream.h"
#include "support/WireDecoder.h"
#include "table/MiniFrad.h"

namespace {

constexpr size_t kMaxRows = 24;

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string_view::npos; start = at + 1) {
    parts.emplace_back(text.substr(start, at - start));
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

// Every cell as text; with `nulls`, null cells as kNull instead of their display text.
constexpr char kNull[] = "\x01null";
std::vector<std::vector<std::string>> Texts(const MiniFrad& t, bool nulls) {
  std::vector<std::vector<std::string>> rows(static_cast<size_t>(t.NbRows));
  for (int64_t r = 0; r < t.NbRows; ++r) {
    for (int64_t c = 0; c < t.NbCols; ++c) {
      std::string text;
      t.ToString(c, r, text);
      rows[r].push_back(nulls && t.ValueIsNull(c, r) ? kNull : text);
    }
  }
  return rows;
}

// The image, read by the independent decoder, holds the schema and every row.
void RequireDecodes(const MiniFrad& t) {
  ByteStream bs = t.ToByteStream("", "");
  std::string image(bs.GetStreamSize(), '\0');
  bs.GetStream(image.data());
  testsupport::WireContainer container;
  testsupport::WireTable table;
  std::string error;
  FUZZ_REQUIRE(testsupport::DecodeContainer(image, &container, &error));
  FUZZ_REQUIRE(testsupport::DecodeTable(container, &table, &error));
  FUZZ_REQUIRE(table.rows.size() == static_cast<size_t>(t.NbRows));
  FUZZ_REQUIRE(table.colTypes == t.ColTypes);

  MiniFrad loaded;
  FUZZ_REQUIRE(loaded.Load(&bs, false));
  FUZZ_REQUIRE(Texts(loaded, true) == Texts(t, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MiniFrad t;
  const size_t head =
      fuzzschema::Read(data, size, "fuzz", [](size_t c) { return "c" + std::to_string(c); }, t);
  if (head == 0) return 0;
  FUZZ_REQUIRE(t.Validate(true));

  const std::string_view body(reinterpret_cast<const char*>(data) + head, size - head);
  std::vector<std::string> lines = Split(body, '\n');
  if (lines.size() > kMaxRows) lines.resize(kMaxRows);
  for (const std::string& line : lines) FUZZ_REQUIRE(t.AddRow(Split(line, '\t')));
  FUZZ_REQUIRE(t.NbRows == static_cast<int64_t>(lines.size()) && t.Validate(true));

  RequireDecodes(t);
  // A null cell's display text ("NULL") is no value of its own: a narrow text column would
  // cut it, so only the other cells must come back.
  MiniFrad again = fuzzschema::SameSchema(t, "again");
  for (const std::vector<std::string>& row : Texts(t, false)) FUZZ_REQUIRE(again.AddRow(row));
  const std::vector<std::vector<std::string>> first = Texts(t, true), second = Texts(again, true);
  for (size_t r = 0; r < first.size(); ++r) {
    for (size_t c = 0; c < first[r].size(); ++c) {
      FUZZ_REQUIRE(first[r][c] == kNull || first[r][c] == second[r][c]);
    }
  }
  return 0;
}
