// Simulation steps (VehicleManager::Step) on a 30 x 30 grid of two-lane roads with 100,
// 1,000 and 10,000 cars. Each case reports its time per car-step; the summary gives the
// larger cases' time per car-step as a ratio to the 100-car case (the anchor), so linear
// growth with the number of cars shows as ratios near 1. The one-car case is the fixed cost
// of a step (light codes when a phase changes, junction slots), reported per lane, and the
// route-choice case shows what one GetNextRoad costs (it draws from the random device).
// Each step is one sub-step long, so a step is one pass over the cars.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "RatioReporter.h"
#include "RoadMapBuilder.h"
#include "streams/SimData.h"
#include "streams/VehicleManager.h"

namespace {

constexpr float kStep = 0.15f;  // time units per step (10 ms of real time): one sub-step
constexpr int kWarmUpSteps = 200;

char mapDir[] = "/tmp/carsim_bench_XXXXXX";

const std::string& GridPath() {
  static const std::string path = [] {
    if (mkdtemp(mapDir) == nullptr) std::abort();
    std::atexit([] { std::filesystem::remove_all(mapDir); });
    const std::string file = std::string(mapDir) + "/grid30x30.cmap";
    if (!mapgen::WriteMap(mapgen::Layout(mapgen::Grid(30, 30, 2)), file)) std::abort();
    return file;
  }();
  return path;
}

struct Traffic {
  SimData sim;
  VehicleManager manager{sim};
  size_t lanes = 0;
};

// The grid with `cars` cars, run for a while so that queues and routes have formed.
std::unique_ptr<Traffic> Warm(int cars) {
  auto traffic = std::make_unique<Traffic>();
  if (!traffic->sim.LoadByteStream(GridPath()) || !traffic->sim.InitSimData()) std::abort();
  if (!traffic->manager.Init(cars)) std::abort();
  for (const RLine& road : traffic->sim.lines) traffic->lanes += size_t(road.nLanes);
  for (int s = 0; s < kWarmUpSteps; ++s) traffic->manager.Step(kStep);
  return traffic;
}

void BM_Step(benchmark::State& state) {
  const int cars = int(state.range(0));
  std::unique_ptr<Traffic> traffic = Warm(cars);
  for (auto _ : state) traffic->manager.Step(kStep);
  state.counters["cars"] = cars;
  state.counters["lanes"] = double(traffic->lanes);
  PerUnit(state, "time_per_car_step", cars);
  state.counters["steps_per_s"] = benchmark::Counter(double(state.iterations()),
                                                     benchmark::Counter::kIsRate);
  if (cars == 1) {
    state.counters["time_per_lane"] = benchmark::Counter(
        double(state.iterations()) * double(traffic->lanes),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
}
BENCHMARK(BM_Step)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// One route choice of a car at a four-road junction.
void BM_RouteChoice(benchmark::State& state) {
  std::unique_ptr<Traffic> traffic = Warm(1);
  Vehicle car = traffic->manager.vehicles[0];
  car.road = traffic->sim.nodes[31].lines[0];
  car.lane = 0;
  for (auto _ : state) {
    traffic->manager.GetNextRoad(car);
    benchmark::DoNotOptimize(car.path);
  }
}
BENCHMARK(BM_RouteChoice)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("time_per_car_step", "car-step",
                         {{"BM_Step/1000", "BM_Step/100"}, {"BM_Step/10000", "BM_Step/100"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
