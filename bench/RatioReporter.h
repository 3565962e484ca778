// Console report of a benchmark program that ends with each case's ratio to its anchor.
//
// Cases record their cost per unit (row, text, ...) with PerUnit under one counter name; the
// reporter prints the usual table, then for every (case, anchor) pair both costs and their
// ratio (below 1: the case is faster than its anchor). Pairs missing from the run (filtered
// out) are skipped.
#ifndef TVX_BENCH_RATIOREPORTER_H_
#define TVX_BENCH_RATIOREPORTER_H_

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

// Sets `counter` to the time per unit, for `units` units handled per iteration.
inline void PerUnit(benchmark::State& state, const char* counter, double units) {
  state.counters[counter] = benchmark::Counter(double(state.iterations()) * units,
                                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  using Pairs = std::vector<std::pair<std::string, std::string>>;  // (case, anchor) names

  RatioReporter(std::string counter, std::string unit, Pairs pairs)
      : counter_(std::move(counter)), unit_(std::move(unit)), pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find(counter_);
      if (it != run.counters.end()) perUnit_[run.benchmark_name()] = it->second.value * 1e9;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nns per %s and ratio to the anchor:\n", unit_.c_str());
    for (const auto& [name, anchor] : pairs_) {
      if (!perUnit_.count(name) || !perUnit_.count(anchor)) continue;
      std::printf("  %-32s %10.1f ns/%s  anchor %-24s %8.1f ns/%s  ratio %.3g\n", name.c_str(),
                  perUnit_[name], unit_.c_str(), anchor.c_str(), perUnit_[anchor], unit_.c_str(),
                  perUnit_[name] / perUnit_[anchor]);
    }
  }

 private:
  std::string counter_;
  std::string unit_;
  Pairs pairs_;
  std::map<std::string, double> perUnit_;
};

#endif  // TVX_BENCH_RATIOREPORTER_H_
