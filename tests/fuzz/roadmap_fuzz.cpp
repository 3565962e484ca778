// Fuzz target: road-map files. Whatever the bytes, loading and deriving the network either
// refuses the map or yields finite geometry along every lane and junction path.

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "foundation/LogManager.h"
#include "streams/SimData.h"

namespace {

// A private directory for the input file and the log, removed at exit. A plain array,
// so that it is still there when the exit handler runs.
char workDir[] = "/tmp/roadmap_fuzz_XXXXXX";

const std::string& InputPath() {
  static const std::string path = [] {
    if (mkdtemp(workDir) == nullptr) std::abort();
    std::atexit([] {
      LogManager::Global.Close();
      std::filesystem::remove_all(workDir);
    });
    LogManager::Global.Init(workDir, "fuzz.log", 'w');
    return std::string(workDir) + "/input.cmap";
  }();
  return path;
}

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
  const std::string& path = InputPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  SimData sim;
  if (sim.LoadByteStream(path) && sim.InitSimData()) WalkNetwork(sim);
  return 0;
}
