// Fuzz target: the per-stream configuration readers. The input is one JSON text used as the
// METADATA of a stream and as the INPUT of its route; each kind of stream (replay, Kafka,
// traffic simulation) reads its keys from it through ReadMetadata, ReadInput and FindInput
// during Init, which then stops at the missing target table or sample. Nothing may crash;
// the Kafka stream must hold the first string member of each key it read (and stop at the
// first key that is missing or not a string), and its log lines must show the password
// masked where it stands.
//
// Texts holding '/' are skipped: the streams open the paths they read, and the fuzzer must
// not name devices or other absolute paths (relative names are only read).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "foundation/LogManager.h"
#include "fuzz_scratch.h"
#include "service/ConfigParser.h"
#include "service/SecretMask.h"
#include "service/TvxClient.h"
#include "streams/CarSimStream.h"
#include "streams/DefaultStream.h"
#include "streams/KafkaStream.h"

namespace {

using simdjson::dom::element;

bool HoldsSlash(element value) {
  if (value.is_string()) return std::string_view(value).find('/') != std::string_view::npos;
  if (value.is_array()) {
    for (element item : simdjson::dom::array(value)) {
      if (HoldsSlash(item)) return true;
    }
  }
  if (value.is_object()) {
    for (simdjson::dom::key_value_pair field : simdjson::dom::object(value)) {
      if (field.key.find('/') != std::string_view::npos || HoldsSlash(field.value)) return true;
    }
  }
  return false;
}

// The first member `key` of `value` when it is a string; false when it is missing (or
// `value` is no object) or not a string.
bool FirstString(element value, std::string_view key, std::string& out) {
  if (!value.is_object()) return false;
  for (simdjson::dom::key_value_pair field : simdjson::dom::object(value)) {
    if (field.key != key) continue;
    if (!field.value.is_string()) return false;
    out = std::string(std::string_view(field.value));
    return true;
  }
  return false;
}

// The Kafka keys in reading order, each with the member the stream stores it in.
void CheckKafka(const KafkaStream& kafka, element root, const std::string& log) {
  const std::pair<const char*, const std::string*> keys[] = {
      {"USER", &kafka.user},          {"PASSWORD", &kafka.password},
      {"BOOTSTRAP_SERVERS", &kafka.bootstrapServers}, {"PROTOCOL", &kafka.protocol},
      {"SASL_MECHANISM", &kafka.saslMechanism},       {"GROUP_ID", &kafka.groupId},
      {"TOPIC", &kafka.topic}};
  std::string lines;
  bool reading = true;
  for (const auto& [key, field] : keys) {
    std::string value;
    reading = reading && FirstString(root, key, value);
    FUZZ_REQUIRE(*field == (reading ? value : std::string()));
    if (!reading) continue;
    const std::string scope = std::string_view(key) == "TOPIC" ? "ROUTE[0], INPUT, " : "METADATA, ";
    lines += std::string(22, ' ') + scope + key + ": " +
             (IsSecretKey(key) ? std::string(kMaskedValue) : value) + "\n";
  }
  FUZZ_REQUIRE(log.find(lines) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = fuzzscratch::Dir();
  simdjson::dom::parser parser;
  element root;
  if (parser.parse(reinterpret_cast<const char*>(data), size).get(root) || HoldsSlash(root)) {
    return 0;
  }
  StreamDef def;
  def.name = "fuzz";
  def.metadata = root;
  RouteDef route;
  route.input = root;
  route.alias = "a";
  route.dbName = "d";
  route.tableName = "t";
  route.action = "UPSERT";
  def.routes.push_back(route);

  TvxClient client;  // a fresh one for every input: the targets registered go with it
  client.tableRoot = dir;  // holds no table: every target registration from a file fails
  client.dataDir = dir;    // holds no road map
  WSOCK = &client;
  {
    std::lock_guard<std::mutex> lock(LogManager::Global.mutex);
    LogManager::Global.text.clear();
  }
  {
    KafkaStream kafka("fuzz", &def);
    FUZZ_REQUIRE(!kafka.Init());
    std::lock_guard<std::mutex> lock(LogManager::Global.mutex);
    CheckKafka(kafka, root, LogManager::Global.text);
  }
  {
    DefaultStream replay("fuzz", &def);
    FUZZ_REQUIRE(!replay.Init());
    FUZZ_REQUIRE(replay.sampleRate <= DefaultStream::kMaxSampleRate);
  }
  {
    CarSimStream cars("fuzz", &def);
    FUZZ_REQUIRE(!cars.Init());
  }
  WSOCK = nullptr;
  fuzzscratch::DropLogText();
  return 0;
}
