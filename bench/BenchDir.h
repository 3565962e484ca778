// The scratch directory of a benchmark program: made on first use under $TVX_BENCH_DIR
// (default /var/tmp, a disk rather than memory on most machines) and removed at exit.
#ifndef TVX_BENCH_BENCHDIR_H_
#define TVX_BENCH_BENCHDIR_H_

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline const std::string& BenchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TVX_BENCH_DIR");
    std::string pattern = std::string(base != nullptr ? base : "/var/tmp") + "/tvx-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(BenchDir()); });
    return pattern;
  }();
  return dir;
}

#endif  // TVX_BENCH_BENCHDIR_H_
