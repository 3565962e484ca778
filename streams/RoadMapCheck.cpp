// Checks of a road network before anything is derived from it: structure and size.

#include "streams/RoadMapCheck.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <glm/geometric.hpp>

#include "streams/RoadMapFormat.h"

namespace RoadMapCheck {

namespace {

// A resampled polyline: kPlsSteps + 1 points in a block of their own, with the allocator's
// header.
constexpr uint64_t kPlsBytes = (RoadPath::kPlsSteps + 1) * sizeof(glm::vec2) + 16;
// A derived lane: its resampled polyline, occupancy cells and entries in the per-lane lists.
constexpr uint64_t kLaneBytes = kPlsBytes + sizeof(CarCells) + sizeof(CellBits) +
                                sizeof(RoadPath::Polyline) + sizeof(float) + 4 * sizeof(int32_t);
// A junction path: its resampled curve, cells and entries in the per-node path lists, which
// grow one entry at a time up to twice what they hold.
constexpr uint64_t kPathBytes =
    kPlsBytes + sizeof(CellBits) +
    2 * (sizeof(RoadPath::Polyline) + sizeof(float) + 4 * sizeof(int32_t));

bool InRange(const glm::vec2& p) {
  return std::fabs(p.x) <= kMaxCoordinate && std::fabs(p.y) <= kMaxCoordinate;  // false for NaN
}

// A polyline the geometry can work with: two points or more, coordinates in range, a
// direction at both ends (junction curves and node directions read them) and some length.
std::string CheckPolyline(const RoadPath::Polyline& line) {
  if (line.size() < 2) return "fewer than two points";
  float length = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (!InRange(line[i])) return "coordinate not finite or out of range";
    if (i > 0) length += glm::length(line[i] - line[i - 1]);
  }
  if (length < kMinLength) return "zero length";
  if (glm::length(line[1] - line[0]) < kMinLength ||
      glm::length(line.back() - line[line.size() - 2]) < kMinLength) {
    return "zero-length end segment";
  }
  return "";
}

std::string CheckRoad(const RLine& road, int nodeCount) {
  std::string problem = CheckPolyline(road.points);
  if (!problem.empty()) return "centre line: " + problem;
  if (road.start < 0 || road.start >= nodeCount || road.end < 0 || road.end >= nodeCount) {
    return "node index out of range";
  }
  if (road.rLanes.empty() || road.lLanes.empty()) return "a side without lanes";
  for (int side = 0; side < 2; ++side) {
    const std::vector<RoadPath::Polyline>& lanes = side == 0 ? road.rLanes : road.lLanes;
    for (size_t i = 0; i < lanes.size(); ++i) {
      problem = CheckPolyline(lanes[i]);
      if (!problem.empty()) {
        return (side == 0 ? "right lane " : "left lane ") + std::to_string(i) + ": " + problem;
      }
    }
  }
  return "";
}

bool Lists(const INode& node, int road, int startFlag) {
  for (size_t a = 0; a < node.lines.size(); ++a) {
    if (node.lines[a] == road && node.start[a] == startFlag) return true;
  }
  return false;
}

std::string CheckNode(const INode& node, int self, const std::vector<RLine>& roads) {
  if (!InRange(node.pos)) return "position not finite or out of range";
  if (node.lines.size() != node.start.size()) return "road and start lists differ in length";
  if (node.lines.size() > size_t(RoadMapFormat::kMaxRoadsPerNode)) {
    return "more than " + std::to_string(RoadMapFormat::kMaxRoadsPerNode) + " roads";
  }
  for (size_t a = 0; a < node.lines.size(); ++a) {
    const int road = node.lines[a];
    if (road < 0 || road >= int(roads.size())) return "road index out of range";
    if (node.start[a] != 0 && node.start[a] != 1) return "start flag other than 0 or 1";
    const int meets = node.start[a] ? roads[road].end : roads[road].start;
    if (meets != self) {
      return "road " + std::to_string(road) +
             (node.start[a] ? " does not end" : " does not start") + " here";
    }
  }
  return "";
}

}  // namespace

std::string CheckNetwork(const std::vector<RLine>& roads, const std::vector<INode>& nodes) {
  if (roads.empty()) return "no roads";
  for (size_t r = 0; r < roads.size(); ++r) {
    const std::string problem = CheckRoad(roads[r], int(nodes.size()));
    if (!problem.empty()) return "road " + std::to_string(r) + ": " + problem;
  }
  for (size_t n = 0; n < nodes.size(); ++n) {
    const std::string problem = CheckNode(nodes[n], int(n), roads);
    if (!problem.empty()) return "node " + std::to_string(n) + ": " + problem;
  }
  // Vehicles find their next junction through the road's own node indexes.
  for (size_t r = 0; r < roads.size(); ++r) {
    if (!Lists(nodes[roads[r].start], int(r), 0)) {
      return "road " + std::to_string(r) + ": not listed at its start node";
    }
    if (!Lists(nodes[roads[r].end], int(r), 1)) {
      return "road " + std::to_string(r) + ": not listed at its end node";
    }
  }
  return "";
}

uint64_t DerivedBytes(const std::vector<RLine>& roads, const std::vector<INode>& nodes) {
  uint64_t lanes = 0, paths = 0;
  for (const RLine& road : roads) lanes += road.rLanes.size() + road.lLanes.size();
  for (const INode& node : nodes) {
    if (node.lines.size() == 1) {
      ++paths;  // a dead end's U-turn
      continue;
    }
    for (size_t a = 0; a < node.lines.size(); ++a) {
      const RLine& road = roads[node.lines[a]];
      paths += (node.start[a] ? road.rLanes.size() : road.lLanes.size()) + 2;
    }
  }
  return lanes * kLaneBytes + paths * kPathBytes;
}

uint64_t MachineMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kilobytes = 0;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemAvailable:") return kilobytes * 1024;
    meminfo.ignore(64, '\n');  // the unit
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages < 0 || pageSize <= 0) return UINT64_MAX;
  return uint64_t(pages) * uint64_t(pageSize);
}

std::string CheckMemory(const std::vector<RLine>& roads, const std::vector<INode>& nodes,
                        uint64_t available) {
  const uint64_t needed = DerivedBytes(roads, nodes);
  if (double(needed) <= double(available) * kMemoryShare) return "";
  const auto megabytes = [](uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MB", double(bytes) / double(1 << 20));
    return std::string(text);
  };
  return "needs about " + megabytes(needed) + " once derived, more than " +
         std::to_string(int(kMemoryShare * 100)) + "% of the " + megabytes(available) +
         " of memory available";
}

}  // namespace RoadMapCheck
