// The map shapes of the generator: grids, single junctions, corridors and the demo map.

#include <functional>

#include "RoadMapBuilder.h"

namespace mapgen {

namespace {

// cols x rows nodes `spacing` apart (x to the east, y to the south), joined along rows and
// columns; `lanesOf(horizontal, index)` gives the lanes per side of row or column `index`.
MapSpec LanedGrid(int cols, int rows, float spacing, const std::function<int(bool, int)>& lanesOf) {
  MapSpec plan;
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < cols; ++i) plan.AddNode({i * spacing, j * spacing});
  }
  auto at = [cols](int i, int j) { return j * cols + i; };
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i + 1 < cols; ++i) {
      const int lanes = lanesOf(true, j);
      plan.AddRoad(at(i, j), at(i + 1, j), lanes, lanes);
    }
  }
  for (int i = 0; i < cols; ++i) {
    for (int j = 0; j + 1 < rows; ++j) {
      const int lanes = lanesOf(false, i);
      plan.AddRoad(at(i, j), at(i, j + 1), lanes, lanes);
    }
  }
  return plan;
}

// A junction at the origin with dead-end arms towards each of `directions`; the arm roads
// alternate between running into and out of the junction.
MapSpec Arms(int lanes, float arm, const std::vector<glm::vec2>& directions) {
  MapSpec plan;
  const int centre = plan.AddNode({0, 0});
  for (size_t k = 0; k < directions.size(); ++k) {
    const int end = plan.AddNode(directions[k] * arm);
    if (k % 2 == 0) {
      plan.AddRoad(end, centre, lanes, lanes);
    } else {
      plan.AddRoad(centre, end, lanes, lanes);
    }
  }
  return plan;
}

}  // namespace

MapSpec Grid(int cols, int rows, int lanes, float spacing) {
  return LanedGrid(cols, rows, spacing, [lanes](bool, int) { return lanes; });
}

MapSpec Crossing(int lanes, float arm) {
  return Arms(lanes, arm, {{-1, 0}, {1, 0}, {0, 1}, {0, -1}});  // west, east, south, north
}

MapSpec Tee(int lanes, float arm) { return Arms(lanes, arm, {{-1, 0}, {1, 0}, {0, 1}}); }

MapSpec Corridor(int segments, int lanes, float spacing) {
  MapSpec plan;
  plan.AddNode({0, 0});
  for (int s = 1; s <= segments; ++s) {
    plan.AddNode({s * spacing, 0});
    plan.AddRoad(s - 1, s, lanes, lanes);
  }
  return plan;
}

MapSpec Demo() {
  const float spacing = 120.0f;
  MapSpec plan = LanedGrid(6, 6, spacing, [](bool horizontal, int index) {
    return horizontal ? 1 + index % 3 : 1 + (index + 2) % 3;
  });
  // Two corners get a dead-end spur, which turns them into T-junctions.
  const int north = plan.AddNode({0, -spacing * 0.7f});
  plan.AddRoad(north, 0, 1, 1);
  const int east = plan.AddNode({5 * spacing + spacing * 0.7f, 5 * spacing});
  plan.AddRoad(35, east, 2, 2);
  return plan;
}

}  // namespace mapgen
