// A backlog while the link is down: producers append rows of six columns (three texts) to a
// target through UpdateTarget up to the backlog cap, then every update period appends a
// period's rows and lets SendTargetUpdates trim the oldest ones under the target's lock.
//
// BM_BacklogFill: filling the target up to the cap (counter fill_s, seconds for the whole
// fill), against its anchor BM_ParseFloor, the same texts parsed into numbers alone.
// BM_BacklogTrim: one period of rows beyond the cap, then the period's trim; the time is the
// trim's (the target's lock is held throughout), reported as trim_ms, with max_trim_ms the
// slowest trim, and peak_x the peak resident memory of fill and trims over the table's
// bytes (its image: fixed-width and text blocks as a message carries them), fill_peak_x
// the same for the fill alone.
//
// The cap is the service's (500,000 rows); --benchmark_filter and the argument pick a
// smaller cap for a quick look.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/RatioReporter.h"
#include "record/ByteStream.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"
#include "table/NumberText.h"

namespace {

constexpr int64_t kPeriodRows = 10000;  // rows appended between two update periods

std::vector<std::string> Row(int64_t r) {
  return {std::to_string(r), std::to_string(r * 0.25), "2025-10-16 12:" + std::to_string(10 + r % 50) + ":00",
          "SYM" + std::to_string(r % 977), "venue-" + std::to_string(r % 13),
          "note " + std::to_string(r * 7919 % 100003)};
}

// Kilobytes of the process's resident set ("VmRSS") or its peak ("VmHWM").
int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field) + 1));
  }
  return 0;
}

// Lets the next VmHWM read give the peak from now on.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Backlog {
  TvxClient client;
  TargetData* target = nullptr;
  int64_t next = 0;  // index of the next row to append

  explicit Backlog(int64_t cap) {
    TvxClient::Status = TvxClient::kClosed;
    MiniFrad frad;
    frad.New("backlog");
    frad.Set(0, {"id", "price", "when", "sym", "venue", "note"}, {2, 5, 20, 6, 6, 6},
             {0, 0, 0, 64, 64, 64});
    client.NewTarget("bench", "db", "backlog", "UPSERT", "", std::move(frad));
    target = client.GetTarget("bench", "db", "backlog");
    client.maxBacklogRows = cap;
  }

  void Append(int64_t n) {
    for (int64_t i = 0; i < n; ++i) client.UpdateTarget("bench", "db", "backlog", Row(next++));
  }

  double ImageBytes() const {
    return static_cast<double>(target->frad.ToByteStream("", "").GetStreamSize());
  }
};

void BM_BacklogFill(benchmark::State& state) {
  const int64_t cap = state.range(0);
  double seconds = 0;
  for (auto _ : state) {
    Backlog backlog(cap);
    auto start = std::chrono::steady_clock::now();
    backlog.Append(cap);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["fill_s"] = seconds;
  PerUnit(state, "ns_per_row", static_cast<double>(cap));
}

void BM_ParseFloor(benchmark::State& state) {
  const int64_t cap = state.range(0);
  for (auto _ : state) {
    double sum = 0;
    for (int64_t r = 0; r < cap; ++r) {
      std::vector<std::string> row = Row(r);
      int32_t id = 0;
      double price = 0;
      ConvertCharsToINT(id, row[0].data(), row[0].size(), int32_t{0});
      ConvertCharsToFLT(price, row[1].data(), row[1].size(), 0.0);
      sum += id + price + static_cast<double>(row[3].size() + row[4].size() + row[5].size());
    }
    benchmark::DoNotOptimize(sum);
  }
  PerUnit(state, "ns_per_row", static_cast<double>(cap));
}

void BM_BacklogTrim(benchmark::State& state) {
  const int64_t cap = state.range(0);
  const int64_t rssBefore = StatusKiB("VmRSS:");
  ResetPeak();
  Backlog backlog(cap);
  backlog.Append(cap);
  const double fillPeak = static_cast<double>(StatusKiB("VmHWM:") - rssBefore) * 1024;
  double slowest = 0, total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    backlog.Append(kPeriodRows);
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    backlog.client.SendTargetUpdates();
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start).count();
    slowest = std::max(slowest, ms);
    total += ms;
  }
  const double peak = static_cast<double>(StatusKiB("VmHWM:") - rssBefore) * 1024;
  if (backlog.target->frad.NbRows != cap) state.SkipWithError("the trim kept another row count");
  state.counters["trim_ms"] = total / static_cast<double>(state.iterations());
  state.counters["max_trim_ms"] = slowest;
  const double image = backlog.ImageBytes();
  state.counters["peak_x"] = peak / image;
  state.counters["fill_peak_x"] = fillPeak / image;
  PerUnit(state, "ns_per_row", static_cast<double>(kPeriodRows));
}

// The trim runs first: the memory the other cases leave to the allocator would blur its
// peak.
BENCHMARK(BM_BacklogTrim)->Arg(500000)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_BacklogFill)->Arg(500000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ParseFloor)->Arg(500000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_row", "row",
                         {{"BM_BacklogFill/500000/iterations:1", "BM_ParseFloor/500000/iterations:1"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
