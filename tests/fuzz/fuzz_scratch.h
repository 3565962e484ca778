#pragma once

// Helpers of the fuzz targets: a check that names the broken property before it aborts;
// scratch space for targets whose input has to be a file (one private directory per fuzzing
// process, removed at exit); and a drop of the text that the process log keeps in memory
// while no log file is open, so that a long run does not grow it without bound.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "foundation/LogManager.h"

// Aborts, naming the condition and its line, when the condition does not hold.
#define FUZZ_REQUIRE(condition)                                                   \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                               \
    }                                                                             \
  } while (false)

namespace fuzzscratch {

// The directory, made on first use.
inline const std::string& Dir() {
  // A plain array, so that it is still there when the exit handler runs.
  static char path[] = "/tmp/tvx_fuzz_XXXXXX";
  static const std::string dir = [] {
    if (mkdtemp(path) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(path); });
    return std::string(path);
  }();
  return dir;
}

// Writes the bytes as the file `name` of the directory and returns its path.
inline std::string WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = Dir() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

// Empties the process log's pending text (no log file is open in the fuzz targets).
inline void DropLogText() {
  std::lock_guard<std::mutex> lock(LogManager::Global.mutex);
  LogManager::Global.text.clear();
}

}  // namespace fuzzscratch
