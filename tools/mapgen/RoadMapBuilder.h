#pragma once

// Building road-map files (format in streams/RoadMapFormat.h) from a plain description:
// nodes at positions and straight roads between them with a lane count per side. Layout()
// puts each node's roads into the approach order the junction rules expect and lays the
// lanes out beside the centre line, stopping short of every node so that no junction path
// has zero length. The shapes (grids, single junctions, corridors, the demo map) are in
// RoadMapShapes.cpp.

#include <cstdint>
#include <glm/vec2.hpp>
#include <string>
#include <vector>

#include "record/ByteStream.h"
#include "streams/RoadPath.h"

namespace mapgen {

// A straight road from node `from` to node `to` with `right` lanes running from -> to and
// `left` lanes running back.
struct RoadSpec {
  int from = 0;
  int to = 0;
  int right = 1;
  int left = 1;
};

struct MapSpec {
  float laneW = 4.0f;
  float intSize = 20.0f;
  float iScaleFactor = 2.1f;
  std::vector<glm::vec2> nodes;
  std::vector<RoadSpec> roads;

  int AddNode(glm::vec2 pos);                          // its node index
  int AddRoad(int from, int to, int right, int left);  // its road index
};

// The map as the file holds it.
struct MapRoad {
  RoadPath::Polyline line;
  std::vector<RoadPath::Polyline> rLanes, lLanes;
  int32_t start = 0, end = 0;
};
struct MapNode {
  glm::vec2 pos{0, 0};
  int32_t type = ' ';
  std::vector<int32_t> lines, start;  // approach order
  float rad = 20.0f;
};
struct MapFile {
  float laneW = 4.0f, intSize = 20.0f, iScaleFactor = 2.1f;
  std::vector<MapRoad> roads;
  std::vector<MapNode> nodes;
};

// Orders roads at nodes (four roads: 0 faces 1, 2 is right of 0, 3 left of 0; three roads: 0
// is the side road, 1 to its right, 2 to its left) and lays out the lanes. Node types: 'E'
// dead end, 'C' two roads, 'T' three, 'X' four.
MapFile Layout(const MapSpec& plan);
ByteStream ToByteStream(const MapFile& map);
// False (after the container's own message) when the file cannot be written.
bool WriteMap(const MapFile& map, const std::string& path);

// Shapes. `lanes` is the lane count on each side of every road.
MapSpec Grid(int cols, int rows, int lanes, float spacing = 100.0f);  // cols x rows nodes
MapSpec Crossing(int lanes, float arm = 100.0f);  // a four-way junction with dead-end arms
MapSpec Tee(int lanes, float arm = 100.0f);       // a T-junction with dead-end arms
MapSpec Corridor(int segments, int lanes, float spacing = 100.0f);  // straight road chain
// 6 x 6 grid whose streets have one to three lanes per side, with two dead-end spurs.
MapSpec Demo();

}  // namespace mapgen
