// tvx_mapgen: writes a road-map file for the traffic simulation.
//
//   tvx_mapgen demo OUT                      6 x 6 demo grid with mixed lane counts
//   tvx_mapgen grid COLS ROWS LANES OUT      grid of COLS x ROWS junctions
//   tvx_mapgen cross LANES OUT               one four-way junction with dead-end arms
//   tvx_mapgen tee LANES OUT                 one T-junction with dead-end arms
//   tvx_mapgen corridor SEGMENTS LANES OUT   straight chain of SEGMENTS roads
//
// LANES is the number of lanes on each side of a road, 1 to 3.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "RoadMapBuilder.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tvx_mapgen demo OUT | grid COLS ROWS LANES OUT | cross LANES OUT |\n"
               "       tee LANES OUT | corridor SEGMENTS LANES OUT   (LANES 1 to 3)\n");
  return 2;
}

// The argument as a whole number in [low, high], or -1.
int Number(const std::string& text, int low, int high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high) return -1;
  return int(value);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string& kind = args[0];
  mapgen::MapSpec plan;
  if (kind == "demo" && args.size() == 2) {
    plan = mapgen::Demo();
  } else if (kind == "grid" && args.size() == 5) {
    const int cols = Number(args[1], 1, 500), rows = Number(args[2], 1, 500);
    const int lanes = Number(args[3], 1, 3);
    if (cols < 0 || rows < 0 || lanes < 0 || cols * rows < 2) return Usage();
    plan = mapgen::Grid(cols, rows, lanes);
  } else if ((kind == "cross" || kind == "tee") && args.size() == 3) {
    const int lanes = Number(args[1], 1, 3);
    if (lanes < 0) return Usage();
    plan = kind == "cross" ? mapgen::Crossing(lanes) : mapgen::Tee(lanes);
  } else if (kind == "corridor" && args.size() == 4) {
    const int segments = Number(args[1], 1, 10000), lanes = Number(args[2], 1, 3);
    if (segments < 0 || lanes < 0) return Usage();
    plan = mapgen::Corridor(segments, lanes);
  } else {
    return Usage();
  }
  const mapgen::MapFile map = mapgen::Layout(plan);
  if (!mapgen::WriteMap(map, args.back())) return 1;
  std::printf("Wrote %s: %zu roads, %zu nodes\n", args.back().c_str(), map.roads.size(),
              map.nodes.size());
  return 0;
}
