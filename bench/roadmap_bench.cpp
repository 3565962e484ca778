// Loading and deriving road maps (SimData::LoadByteStream + InitSimData) for the demo map and
// grids of growing size. Each case reports its time per road; the summary gives the grids'
// time per road as a ratio to the demo map's (the anchor), so linear growth shows as ratios
// near 1. The plain container read of the largest map against its full load shows the share
// of the time spent reading the file rather than deriving lanes and paths.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "RatioReporter.h"
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
    const std::vector<std::pair<std::string, mapgen::MapSpec>> plans = {
        {"demo", mapgen::Demo()},
        {"grid10x10", mapgen::Grid(10, 10, 2)},
        {"grid20x20", mapgen::Grid(20, 20, 2)},
        {"grid30x30", mapgen::Grid(30, 30, 2)},
    };
    std::vector<BenchMap> written;
    for (const auto& [name, plan] : plans) {
      const std::string path = std::string(mapDir) + "/" + name + ".cmap";
      if (!mapgen::WriteMap(mapgen::Layout(plan), path)) std::abort();
      written.push_back({name, path, plan.roads.size()});
    }
    return written;
  }();
  return maps;
}

void PerRoad(benchmark::State& state, size_t roads) {
  state.counters["roads"] = double(roads);
  PerUnit(state, "time_per_road", double(roads));
}

void BM_LoadAndInit(benchmark::State& state, int which) {
  const BenchMap& map = Maps()[which];
  for (auto _ : state) {
    SimData sim;
    if (!sim.LoadByteStream(map.path) || !sim.InitSimData()) std::abort();
    benchmark::DoNotOptimize(sim.nodes.data());
  }
  PerRoad(state, map.roads);
}
BENCHMARK_CAPTURE(BM_LoadAndInit, demo, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadAndInit, grid10x10, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadAndInit, grid20x20, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadAndInit, grid30x30, 3)->Unit(benchmark::kMillisecond);

void BM_ReadContainerOnly(benchmark::State& state) {
  const BenchMap& map = Maps()[3];
  for (auto _ : state) {
    ByteStream stream(true);
    if (!stream.Read(map.path)) std::abort();
    std::vector<ByteStream> roads;
    stream.GetStreamVector("Lines", roads);
    benchmark::DoNotOptimize(roads.data());
  }
  PerRoad(state, map.roads);
}
BENCHMARK(BM_ReadContainerOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Maps();
  RatioReporter reporter("time_per_road", "road",
                         {{"BM_LoadAndInit/grid10x10", "BM_LoadAndInit/demo"},
                          {"BM_LoadAndInit/grid20x20", "BM_LoadAndInit/demo"},
                          {"BM_LoadAndInit/grid30x30", "BM_LoadAndInit/demo"},
                          {"BM_ReadContainerOnly", "BM_LoadAndInit/grid30x30"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
