// Fuzz target: road-map files. Whatever the bytes, loading and deriving the network either
// refuses the map or yields finite geometry along every lane and junction path.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_scratch.h"
#include "streams/SimData.h"

namespace {

void RequireFinite(const glm::vec2& p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) std::abort();
}

// Positions along every lane and path, as the vehicles read them.
void WalkNetwork(const SimData& sim) {
  for (const RLine& road : sim.lines) {
    for (size_t lane = 0; lane < road.lanePls.size(); ++lane) {
      const float length = road.laneLen[lane];
      for (float f : {0.0f, 0.37f, 1.0f}) {
        RequireFinite(RoadPath::Get_PLS_Pos(f * length, length, road.lanePls[lane]));
      }
    }
  }
  for (const INode& node : sim.nodes) {
    for (size_t p = 0; p < node.pathPls.size(); ++p) {
      RequireFinite(
          RoadPath::Get_PLS_Pos(node.pathLen[p] * 0.5f, node.pathLen[p], node.pathPls[p]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::WriteFile("input.cmap", data, size);
  SimData sim;
  if (sim.LoadByteStream(path) && sim.InitSimData()) WalkNetwork(sim);
  fuzzscratch::DropLogText();
  return 0;
}
