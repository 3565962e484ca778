// Fuzz target: the Kafka path from a message to the frame on the link. The input names the
// target's schema (tests/fuzz/fuzz_schema.h; columns "a" to "f") followed by the message.
// JsonToRow makes the row, UpdateTarget stores it, the update cycle builds and sends the
// update message, and the independent wire decoder reads the frame back: it must decode
// strictly and carry exactly the row that the same texts give in a table of that schema.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_schema.h"
#include "fuzz_scratch.h"
#include "record/ByteStream.h"
#include "service/TvxClient.h"
#include "streams/KafkaStream.h"
#include "support/WireDecoder.h"
#include "table/MiniFrad.h"

namespace {

class FuzzStream : public KafkaStream {
 public:
  explicit FuzzStream(const MiniFrad& schema)
      : StreamBase("fuzz", nullptr), KafkaStream("fuzz", nullptr) {
    for (int32_t i = 0; i < schema.NbCols; ++i) columnMap[schema.ColNames[i]] = {i, schema.ColTypes[i]};
    columnCount = schema.NbCols;
  }
};

// The rows of a table image as texts, read by the independent decoder.
std::vector<std::vector<std::string>> DecodedRows(const testsupport::WireContainer& data) {
  testsupport::WireTable table;
  std::string error;
  FUZZ_REQUIRE(testsupport::DecodeTable(data, &table, &error));
  std::vector<std::vector<std::string>> rows;
  for (const auto& row : table.rows) rows.push_back(testsupport::RowTexts(row));
  return rows;
}

std::vector<std::vector<std::string>> ExpectedRows(const MiniFrad& schema,
                                                   const std::vector<std::string>& row) {
  MiniFrad table = fuzzschema::SameSchema(schema, "expected");
  FUZZ_REQUIRE(table.AddRow(row));
  ByteStream bs = table.ToByteStream("", "");
  std::string image(bs.GetStreamSize(), '\0');
  bs.GetStream(image.data());
  testsupport::WireContainer container;
  std::string error;
  FUZZ_REQUIRE(testsupport::DecodeContainer(image, &container, &error));
  return DecodedRows(container);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MiniFrad schema;
  const size_t head = fuzzschema::Read(
      data, size, "t", [](size_t c) { return std::string(1, static_cast<char>('a' + c)); }, schema);
  if (head == 0) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data) + head, size - head);

  const FuzzStream stream(schema);
  const std::vector<std::string> row = stream.JsonToRow(payload);
  const std::vector<std::vector<std::string>> expected = ExpectedRows(schema, row);

  std::vector<std::string> frames;
  TvxClient client;
  client.frameSink = [&frames](bool, uint64_t bytes, const TvxClient::FrameFill& fill,
                               std::string*) {
    frames.emplace_back(bytes, '\0');
    fill(frames.back().data());
    return TvxClient::FrameResult::kSent;
  };
  TvxClient::Status = TvxClient::kOpen;
  FUZZ_REQUIRE(client.NewTarget("a", "d", "t", "UPSERT", "", fuzzschema::SameSchema(schema, "t")));
  client.UpdateTarget("a", "d", "t", row);
  client.SendTargetUpdates();
  TvxClient::Status = TvxClient::kNotStarted;

  FUZZ_REQUIRE(frames.size() == 1);
  testsupport::WireContainer message;
  std::string error;
  FUZZ_REQUIRE(testsupport::DecodeMessage(frames[0], &message, &error));
  const testsupport::WireContainer* sent = message.GetNested("Data");
  FUZZ_REQUIRE(sent != nullptr && DecodedRows(*sent) == expected);
  fuzzscratch::DropLogText();
  return 0;
}
