// Bytes as a configuration file: the reader must log one message or accept the file, never
// crash, and in the dump of an accepted file every PASSWORD member of a stream's METADATA
// must show the masked value where it stands (the same text under another key is no secret).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/SecretMask.h"

namespace {

using simdjson::dom::element;

// One file per fuzzing process, rewritten for every input.
const std::string& ScratchPath() {
  static const std::string path = "/tmp/config_fuzz_" + std::to_string(getpid()) + ".json";
  static const bool removed = std::atexit([] { std::remove(path.c_str()); }) == 0;
  (void)removed;
  return path;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

// Walks the parsed file and the parsed dump side by side: same members in the same order,
// and the masked text in place of every PASSWORD value.
void RequireMasked(element original, element dumped) {
  if (original.is_object()) {
    Require(dumped.is_object());
    simdjson::dom::object shown = dumped.get_object().value_unsafe();
    simdjson::dom::object fields = original.get_object().value_unsafe();
    auto it = shown.begin();
    for (simdjson::dom::key_value_pair field : fields) {
      Require(it != shown.end() && (*it).key == field.key);
      if (IsSecretKey(field.key)) {
        std::string_view text;
        Require(!(*it).value.get_string().get(text) && text == kMaskedValue);
      } else {
        RequireMasked(field.value, (*it).value);
      }
      ++it;
    }
    Require(it == shown.end());
  } else if (original.is_array()) {
    Require(dumped.is_array());
    simdjson::dom::array shown = dumped.get_array().value_unsafe();
    simdjson::dom::array items = original.get_array().value_unsafe();
    auto it = shown.begin();
    for (element item : items) {
      Require(it != shown.end());
      RequireMasked(item, *it);
      ++it;
    }
    Require(it == shown.end());
  }
}

// The METADATA line of the stream dumped at `index`, parsed back.
void RequireStreamMasked(const std::string& log, size_t index, const StreamDef& def) {
  const std::string head = " Stream [" + std::to_string(index) + "]:\n   NAME: " + def.name +
                           "\n   TYPE: " + def.type + "\n   METADATA: ";
  const size_t at = log.find(head);
  Require(at != std::string::npos);
  const size_t begin = at + head.size();
  const size_t end = log.find('\n', begin);
  Require(end != std::string::npos);
  simdjson::dom::parser parser;
  element dumped;
  Require(!parser.parse(log.substr(begin, end - begin)).get(dumped));
  RequireMasked(*def.metadata, dumped);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

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
