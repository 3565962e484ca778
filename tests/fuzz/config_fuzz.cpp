// Bytes as a configuration file: the reader must log one message or accept the file, never
// crash, and in the dump of an accepted file every PASSWORD member of a stream's METADATA
// must show the masked value where it stands (the same text under another key is no secret).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/LogManager.h"
#include "fuzz_scratch.h"
#include "service/ConfigParser.h"
#include "service/SecretMask.h"

namespace {

using simdjson::dom::element;

// Walks the parsed file and the parsed dump side by side: same members in the same order,
// and the masked text in place of every PASSWORD value.
void RequireMasked(element original, element dumped) {
  if (original.is_object()) {
    FUZZ_REQUIRE(dumped.is_object());
    simdjson::dom::object shown = dumped.get_object().value_unsafe();
    simdjson::dom::object fields = original.get_object().value_unsafe();
    auto it = shown.begin();
    for (simdjson::dom::key_value_pair field : fields) {
      FUZZ_REQUIRE(it != shown.end() && (*it).key == field.key);
      if (IsSecretKey(field.key)) {
        std::string_view text;
        FUZZ_REQUIRE(!(*it).value.get_string().get(text) && text == kMaskedValue);
      } else {
        RequireMasked(field.value, (*it).value);
      }
      ++it;
    }
    FUZZ_REQUIRE(it == shown.end());
  } else if (original.is_array()) {
    FUZZ_REQUIRE(dumped.is_array());
    simdjson::dom::array shown = dumped.get_array().value_unsafe();
    simdjson::dom::array items = original.get_array().value_unsafe();
    auto it = shown.begin();
    for (element item : items) {
      FUZZ_REQUIRE(it != shown.end());
      RequireMasked(item, *it);
      ++it;
    }
    FUZZ_REQUIRE(it == shown.end());
  }
}

// The METADATA line of the stream dumped at `index`, parsed back.
void RequireStreamMasked(const std::string& log, size_t index, const StreamDef& def) {
  const std::string head = " Stream [" + std::to_string(index) + "]:\n   NAME: " + def.name +
                           "\n   TYPE: " + def.type + "\n   METADATA: ";
  const size_t at = log.find(head);
  FUZZ_REQUIRE(at != std::string::npos);
  const size_t begin = at + head.size();
  const size_t end = log.find('\n', begin);
  FUZZ_REQUIRE(end != std::string::npos);
  simdjson::dom::parser parser;
  element dumped;
  FUZZ_REQUIRE(!parser.parse(log.substr(begin, end - begin)).get(dumped));
  RequireMasked(*def.metadata, dumped);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::WriteFile("config.json", data, size);
  LogManager log;  // never opened: the text stays in memory and goes with the object
  ConfigParser config;
  config.log = &log;
  if (!config.ScanConfig(path)) return 0;
  size_t index = 0;
  for (const auto& [name, def] : config.streams) {
    if (def.metadata) RequireStreamMasked(log.text, index, def);
    ++index;
  }
  return 0;
}
