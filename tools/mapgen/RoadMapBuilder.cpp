// Layout of a described road map into roads, lanes and ordered nodes, and its file form.

#include "RoadMapBuilder.h"

#include <algorithm>
#include <glm/geometric.hpp>

#include "streams/RoadMapFormat.h"

namespace mapgen {

int MapSpec::AddNode(glm::vec2 pos) {
  nodes.push_back(pos);
  return int(nodes.size()) - 1;
}

int MapSpec::AddRoad(int from, int to, int right, int left) {
  roads.push_back(RoadSpec{from, to, right, left});
  return int(roads.size()) - 1;
}

namespace {

float Cross(const glm::vec2& a, const glm::vec2& b) { return a.x * b.y - b.x * a.y; }

// One road end at a node.
struct Approach {
  int road;
  int start;      // 1 when the road ends at this node
  glm::vec2 out;  // unit direction from the node along the road
};

std::vector<Approach> ApproachesAt(const MapSpec& plan, int node) {
  std::vector<Approach> found;
  for (size_t r = 0; r < plan.roads.size(); ++r) {
    const RoadSpec& road = plan.roads[r];
    const glm::vec2 along = glm::normalize(plan.nodes[road.to] - plan.nodes[road.from]);
    if (road.from == node) found.push_back({int(r), 0, along});
    if (road.to == node) found.push_back({int(r), 1, -along});
  }
  return found;
}

// Index in `list` (other than `self`) of the approach most nearly opposite `self`.
size_t Opposite(const std::vector<Approach>& list, size_t self) {
  size_t best = self == 0 ? 1 : 0;
  for (size_t j = 0; j < list.size(); ++j) {
    if (j != self &&
        glm::dot(list[self].out, list[j].out) < glm::dot(list[self].out, list[best].out)) {
      best = j;
    }
  }
  return best;
}

// Puts three or four approaches into the order the junction rules read.
std::vector<Approach> Ordered(std::vector<Approach> list) {
  if (list.size() == 4) {
    const size_t facing = Opposite(list, 0);
    std::vector<Approach> sides;
    for (size_t j = 1; j < 4; ++j) {
      if (j != facing) sides.push_back(list[j]);
    }
    if (!(Cross(list[0].out, sides[0].out) < 0)) std::swap(sides[0], sides[1]);
    return {list[0], list[facing], sides[0], sides[1]};
  }
  if (list.size() == 3) {
    // The side road is the one whose two neighbours face each other most squarely.
    size_t side = 0;
    float facing = 2;
    for (size_t s = 0; s < 3; ++s) {
      const float d = glm::dot(list[(s + 1) % 3].out, list[(s + 2) % 3].out);
      if (d < facing) {
        facing = d;
        side = s;
      }
    }
    std::vector<Approach> pair = {list[(side + 1) % 3], list[(side + 2) % 3]};
    if (!(Cross(list[side].out, pair[0].out) < 0)) std::swap(pair[0], pair[1]);
    return {list[side], pair[0], pair[1]};
  }
  return list;
}

// How far lanes stop short of a node: clear of the widest crossing road at a junction, a
// little room for the U-turn at a dead end.
float Clearance(const MapSpec& plan, const std::vector<Approach>& approaches) {
  if (approaches.size() < 2) return plan.laneW * 0.5f;
  int widest = 0;
  for (const Approach& a : approaches) {
    widest = std::max({widest, plan.roads[a.road].right, plan.roads[a.road].left});
  }
  return (widest + 0.5f) * plan.laneW;
}

MapRoad LayRoad(const MapSpec& plan, const RoadSpec& road, float clearFrom, float clearTo) {
  MapRoad out;
  const glm::vec2 a = plan.nodes[road.from], b = plan.nodes[road.to];
  const glm::vec2 along = glm::normalize(b - a);
  const glm::vec2 rightward(-along.y, along.x);  // right of travel with y growing downward
  const glm::vec2 laneStart = a + along * clearFrom, laneEnd = b - along * clearTo;
  out.line = {a, b};
  out.start = road.from;
  out.end = road.to;
  for (int i = 0; i < road.right; ++i) {
    const glm::vec2 offset = rightward * ((i + 0.5f) * plan.laneW);
    out.rLanes.push_back({laneStart + offset, laneEnd + offset});
  }
  for (int i = 0; i < road.left; ++i) {
    const glm::vec2 offset = rightward * ((i + 0.5f) * plan.laneW);
    out.lLanes.push_back({laneEnd - offset, laneStart - offset});
  }
  return out;
}

const char kTypes[] = "ECTX";

std::vector<float> Flatten(const RoadPath::Polyline& line) {
  std::vector<float> values;
  for (const glm::vec2& p : line) {
    values.push_back(p.x);
    values.push_back(p.y);
  }
  return values;
}

std::vector<std::vector<float>> FlattenRows(const std::vector<RoadPath::Polyline>& lines) {
  std::vector<std::vector<float>> rows;
  for (const RoadPath::Polyline& line : lines) rows.push_back(Flatten(line));
  return rows;
}

}  // namespace

MapFile Layout(const MapSpec& plan) {
  MapFile map;
  map.laneW = plan.laneW;
  map.intSize = plan.intSize;
  map.iScaleFactor = plan.iScaleFactor;
  std::vector<float> clearance(plan.nodes.size());
  for (size_t n = 0; n < plan.nodes.size(); ++n) {
    const std::vector<Approach> approaches = Ordered(ApproachesAt(plan, int(n)));
    clearance[n] = Clearance(plan, approaches);
    MapNode node;
    node.pos = plan.nodes[n];
    node.type = approaches.empty() ? 'N' : kTypes[std::min<size_t>(approaches.size(), 4) - 1];
    for (const Approach& a : approaches) {
      node.lines.push_back(a.road);
      node.start.push_back(a.start);
    }
    map.nodes.push_back(node);
  }
  for (const RoadSpec& road : plan.roads) {
    map.roads.push_back(LayRoad(plan, road, clearance[road.from], clearance[road.to]));
  }
  return map;
}

ByteStream ToByteStream(const MapFile& map) {
  namespace fmt = RoadMapFormat;
  ByteStream out;
  out.AddFloat(fmt::kLaneW, map.laneW);
  out.AddFloat(fmt::kIntSize, map.intSize);
  out.AddFloat(fmt::kIScaleFactor, map.iScaleFactor);
  std::vector<ByteStream> roads;
  for (const MapRoad& road : map.roads) {
    roads.emplace_back();
    roads.back().AddFloatVector(fmt::kRoadLine, Flatten(road.line));
    roads.back().AddFloatVector2D(fmt::kRoadRLanes, FlattenRows(road.rLanes));
    roads.back().AddFloatVector2D(fmt::kRoadLLanes, FlattenRows(road.lLanes));
    roads.back().AddInt32(fmt::kRoadStart, road.start);
    roads.back().AddInt32(fmt::kRoadEnd, road.end);
  }
  out.AddStreamVector(fmt::kLines, roads);
  std::vector<ByteStream> nodes;
  for (const MapNode& node : map.nodes) {
    nodes.emplace_back();
    nodes.back().AddFloatVector(fmt::kNodePos, {node.pos.x, node.pos.y});
    nodes.back().AddInt32(fmt::kNodeType, node.type);
    nodes.back().AddInt32Vector(fmt::kNodeLines, node.lines);
    nodes.back().AddInt32Vector(fmt::kNodeStart, node.start);
    nodes.back().AddFloat(fmt::kNodeRad, node.rad);
  }
  out.AddStreamVector(fmt::kNodes, nodes);
  return out;
}

bool WriteMap(const MapFile& map, const std::string& path) { return ToByteStream(map).Save(path); }

}  // namespace mapgen
