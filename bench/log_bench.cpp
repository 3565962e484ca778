// Log lines per second through LogManager (one synchronised line at a time, written with
// pwrite into reserved space) against its anchor, write() + fdatasync() of the same line on an
// append-only file: the same durability per line. Both run on a real file system (a
// temporary directory under /var/tmp, or the directory given as TVX_BENCH_DIR), at 1, 4
// and 8 threads; the report ends with the ratio for each thread count.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "foundation/LogManager.h"

namespace {

const std::string kText = "Stream KAFKA-1: 250 rows sent to live/Traffic/CarPositions";

LogManager* gLog = nullptr;
int gAnchorFd = -1;

void BM_LogManager(benchmark::State& state) {
  for (auto _ : state) *gLog << kText;
  state.SetItemsProcessed(state.iterations());
}

void BM_WriteFdatasync(benchmark::State& state) {
  for (auto _ : state) {
    std::string line = "(" + LogManager::ThreadStamp() + ")[" + LogManager::TimeStamp() + "] " +
                       kText + "\n";
    if (write(gAnchorFd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        fdatasync(gAnchorFd) != 0) {
      state.SkipWithError("write or fdatasync failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LogManager)->Threads(1)->Threads(4)->Threads(8)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_WriteFdatasync)->Threads(1)->Threads(4)->Threads(8)->UseRealTime()->MinTime(0.5);

// Keeps lines per second by benchmark and thread count for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::pair<std::string, int>, double> rates;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto found = run.counters.find("items_per_second");
      if (found != run.counters.end()) {
        rates[{run.run_name.function_name, run.threads}] = found->second;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* base = std::getenv("TVX_BENCH_DIR");
  std::string pattern = std::string(base ? base : "/var/tmp") + "/tvx-log-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  LogManager log;
  gLog = &log;
  if (!log.Init(pattern, "bench.log", 'w')) return 1;
  gAnchorFd = open((pattern + "/anchor.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (gAnchorFd < 0) {
    std::perror("open");
    return 1;
  }
  LogManager::TShowThread = true;

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int threads : {1, 4, 8}) {
    double ours = reporter.rates[{"BM_LogManager", threads}];
    double anchor = reporter.rates[{"BM_WriteFdatasync", threads}];
    if (ours > 0 && anchor > 0) {
      std::printf("threads %d: LogManager %.0f lines/s, write+fdatasync %.0f lines/s, ratio %.2f\n",
                  threads, ours, anchor, ours / anchor);
    }
  }
  close(gAnchorFd);
  log.Close();
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
  benchmark::Shutdown();
  return 0;
}
