// Fuzz target: the traffic simulation on a hostile road map. Whatever map loads and derives,
// placing cars and stepping them (short and full-length steps, long enough for cars to
// reach junctions and change roads) reads and writes only inside the network, and every
// active car stays on a road of the network at a finite position.

#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_scratch.h"
#include "streams/CarSimStream.h"
#include "streams/SimData.h"
#include "streams/VehicleManager.h"

namespace {

constexpr int kCars = 24;
constexpr int kSteps = 60;

void RequireSound(const SimData& sim, const VehicleManager& manager) {
  for (const Vehicle& car : manager.vehicles) {
    if (car.road < 0) continue;
    FUZZ_REQUIRE(static_cast<size_t>(car.road) < sim.lines.size());
    FUZZ_REQUIRE(std::isfinite(car.x) && std::isfinite(car.y) && std::isfinite(car.dist));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::WriteFile("input.cmap", data, size);
  SimData sim;
  if (sim.LoadByteStream(path) && sim.InitSimData()) {
    std::srand(1);  // the draws of Init and the route choices: the same run for the same map
    VehicleManager manager(sim);
    if (manager.Init(kCars)) {
      for (int step = 0; step < kSteps; ++step) {
        manager.Step(step % 3 == 0 ? CarSimStream::kMaxTimeStep : 0.1f);
        RequireSound(sim, manager);
      }
    }
  }
  fuzzscratch::DropLogText();
  return 0;
}
