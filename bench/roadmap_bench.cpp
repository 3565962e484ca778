// Loading and deriving road maps (SimData::LoadByteStream + InitSimData) for the demo map and
// grids of growing size. Each run reports its time per road; the summary gives every map's
// time per road as a ratio to the demo map's (the anchor), so linear growth shows as ratios
// near 1. The plain container read of the largest map is the second anchor: the share of
// the time spent on reading the file rather than deriving lanes and paths.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "RoadMapBuilder.h"
#include "foundation/LogManager.h"
#include "record/ByteStream.h"
#include "streams/SimData.h"

namespace {

struct BenchMap {
  std::string name;
  std::string path;
  size_t roads;
};

char mapDir[] = "/tmp/roadmap_bench_XXXXXX";

const std::vector<BenchMap>& Maps() {
  static const std::vector<BenchMap> maps = [] {
    if (mkdtemp(mapDir) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(mapDir); });
    const std::vector<std::pair<std::string, mapgen::MapSpec>> specs = {
        {"demo", mapgen::Demo()},
        {"grid10x10", mapgen::Grid(10, 10, 2)},
        {"grid20x20", mapgen::Grid(20, 20, 2)},
        {"grid30x30", mapgen::Grid(30, 30, 2)},
    };
    std::vector<BenchMap> written;
    for (const auto& [name, spec] : specs) {
      const std::string path = std::string(mapDir) + "/" + name + ".cmap";
      if (!mapgen::WriteMap(mapgen::Layout(spec), path)) std::abort();
      written.push_back({name, path, spec.roads.size()});
    }
    return written;
  }();
  return maps;
}

void PerRoad(benchmark::State& state, size_t roads) {
  state.counters["roads"] = double(roads);
  state.counters["time_per_road"] =
      benchmark::Counter(double(roads) * double(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LoadAndInit(benchmark::State& state) {
  const BenchMap& map = Maps()[state.range(0)];
  for (auto _ : state) {
    SimData sim;
    if (!sim.LoadByteStream(map.path) || !sim.InitSimData()) std::abort();
    benchmark::DoNotOptimize(sim.nodes.data());
  }
  state.SetLabel(map.name);
  PerRoad(state, map.roads);
}
BENCHMARK(BM_LoadAndInit)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_ReadContainerOnly(benchmark::State& state) {
  const BenchMap& map = Maps()[3];
  for (auto _ : state) {
    ByteStream stream(true);
    if (!stream.Read(map.path)) std::abort();
    std::vector<ByteStream> roads;
    stream.GetStreamVector("Lines", roads);
    benchmark::DoNotOptimize(roads.data());
  }
  state.SetLabel(map.name);
  PerRoad(state, map.roads);
}
BENCHMARK(BM_ReadContainerOnly)->Unit(benchmark::kMillisecond);

// Prints, after the table, each run's time per road as a ratio to the demo map's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto found = run.counters.find("time_per_road");
      if (found == run.counters.end()) continue;
      perRoad_[run.benchmark_name() + " " + run.report_label] = found->second;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double anchor = perRoad_["BM_LoadAndInit/0 demo"];
    std::printf("\ntime per road as a ratio to the demo map (%.2f us per road):\n", anchor * 1e6);
    for (const auto& [name, seconds] : perRoad_) {
      std::printf("  %-36s %8.2f us  x%.2f\n", name.c_str(), seconds * 1e6, seconds / anchor);
    }
  }

 private:
  std::map<std::string, double> perRoad_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Maps();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
