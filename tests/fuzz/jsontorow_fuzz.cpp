// Any bytes as a Kafka message: the scanner never reads outside the payload, always gives
// one text per target column, and stores at most one member per ',' or '}'. Scanning into
// the row and buffers left by earlier inputs, as the stream does, gives the same row.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "streams/KafkaStream.h"

namespace {

class FuzzStream : public KafkaStream {
 public:
  FuzzStream() : StreamBase("fuzz", nullptr), KafkaStream("fuzz", nullptr) {
    const char* names[] = {"id", "name", "v", "a b", "n"};
    for (int32_t i = 0; i < 5; ++i) columnMap[names[i]] = {i, 6};
    columnCount = 5;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FuzzStream stream;
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  size_t matched = 0;
  const std::vector<std::string> row = stream.JsonToRow(payload, &matched);
  size_t ends = 0;
  for (char c : payload) ends += c == ',' || c == '}';
  if (row.size() != 5 || matched > ends) std::abort();
  size_t total = 0;
  for (const std::string& text : row) total += text.size();
  if (total > size) std::abort();
  static std::vector<std::string> reused;
  static KafkaStream::ScanBuffers buffers;
  if (stream.ScanRow(payload, reused, buffers) != matched || reused != row) std::abort();
  return 0;
}
