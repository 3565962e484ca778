// Bytes as a configuration file: the reader must log one message or accept the file, never
// crash, and the dump of an accepted file must not show a password.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"

namespace {

// One file per fuzzing process, rewritten for every input.
const std::string& ScratchPath() {
  static const std::string path = "/tmp/config_fuzz_" + std::to_string(getpid()) + ".json";
  static const bool removed = std::atexit([] { std::remove(path.c_str()); }) == 0;
  (void)removed;
  return path;
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
  if (config.ScanConfig(path)) {
    for (const auto& [name, def] : config.streams) {
      if (def.metadata && def.metadata->is_object()) {
        std::string_view secret;
        if (!def.metadata->at_key("PASSWORD").get(secret) && secret.size() > 12 &&
            log.text.find(std::string(secret)) != std::string::npos) {
          std::abort();  // a password reached the log
        }
      }
    }
  }
  return 0;
}
