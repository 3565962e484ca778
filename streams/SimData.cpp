// Derivation of the road network (lanes, occupancy maps, junction paths), lane-end helpers
// and the newest-file lookup.

#include "streams/SimData.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <glm/geometric.hpp>

#include "foundation/StringLib.h"
#include "streams/RoadMapCheck.h"
#include "streams/RoadMapFormat.h"

bool SimData::InitSimData() {
  std::string problem = RoadMapCheck::CheckNetwork(lines, nodes);
  if (problem.empty()) {
    const uint64_t available =
        memoryAvailable != 0 ? memoryAvailable : RoadMapCheck::MachineMemory();
    problem = RoadMapCheck::CheckMemory(lines, nodes, available);
  }
  if (!problem.empty()) {
    Refuse(problem);
    return false;
  }
  for (RLine& road : lines) {
    road.nRight = int32_t(road.rLanes.size());
    road.nLanes = road.nRight + int32_t(road.lLanes.size());
    road.laneLight.assign(road.nLanes, 0);
  }
  for (INode& node : nodes) {
    node.flags = {};
    if (node.lines.size() == 4) {
      node.flags[1] = lines[node.lines[0]].nRight == 1 && lines[node.lines[1]].nRight == 1;
      node.flags[3] = lines[node.lines[2]].nRight == 1 && lines[node.lines[3]].nRight == 1;
    }
    const size_t approaches = node.lines.size();
    node.laneOpts.assign(approaches, {});
    node.pathIdx.assign(approaches, {});
    node.pathRoad.assign(approaches, {});
    node.pathDestLane.assign(approaches, {});
    node.pathSrcLane.assign(approaches, {});
    node.pathPls.clear();
    node.pathLen.clear();
  }
  for (size_t n = 0; n < nodes.size(); ++n) {
    nodes[n].outs = GetIntCenterOuts(int(n));
    for (int a = 0; a < RoadMapFormat::kMaxRoadsPerNode; ++a) AddIPaths(int(n), a);
  }
  for (RLine& road : lines) DeriveLanes(road);
  for (INode& node : nodes) {
    node.pathBits.assign(node.pathLen.size(), CellBits{});
    for (size_t p = 0; p < node.pathLen.size(); ++p) node.pathBits[p].length = node.pathLen[p];
  }
  const std::string pathProblem = CheckPaths();
  if (!pathProblem.empty()) {
    Refuse(pathProblem);
    return false;
  }
  return true;
}

void SimData::DeriveLanes(RLine& road) {
  road.laneIds = {};
  road.laneSide.clear();
  road.laneLocal.clear();
  road.lanePls.assign(road.nLanes, {});
  road.laneLen.assign(road.nLanes, 0);
  for (int32_t i = 0; i < road.nLanes; ++i) {
    const bool right = i < road.nRight;
    const int32_t local = right ? i : i - road.nRight;
    RoadPath::Fill_PLS(right ? road.rLanes[local] : road.lLanes[local], road.laneLen[i],
                       road.lanePls[i]);
    road.laneIds[right ? 0 : 1].push_back(i);
    road.laneSide.push_back(right ? 0 : 1);
    road.laneLocal.push_back(local);
  }
  road.carMap.assign(road.nLanes, CarCells{});
  road.carBits.assign(road.nLanes, CellBits{});
  for (int32_t i = 0; i < road.nLanes; ++i) road.carBits[i].length = road.laneLen[i];
}

ICord SimData::GetICordFromL(int node, int approach, int incoming, int lane) const {
  const INode& n = nodes[node];
  ICord cord;
  cord.road = n.lines[approach];
  cord.atEnd = n.start[approach];
  cord.incoming = incoming;
  // A lane arrives at the node where its road ends when it runs with the road (right side).
  cord.right = incoming ? (n.start[approach] != 0) : (n.start[approach] == 0);
  cord.lane = lane;
  cord.approach = approach;
  return cord;
}

ICord SimData::GetICordL(int node, int approach, int incoming) const {
  return GetICordFromL(node, approach, incoming, 0);
}

ICord SimData::GetICordR(int node, int approach, int incoming) const {
  return GetICordFromL(node, approach, incoming, GetNumLanes(node, approach, incoming) - 1);
}

int SimData::GetGlobalLane(const ICord& cord) const {
  return cord.right ? cord.lane : cord.lane + int(lines[cord.road].rLanes.size());
}

int SimData::GetNumLanes(int node, int approach, int incoming) const {
  const ICord cord = GetICordFromL(node, approach, incoming, 0);
  const RLine& road = lines[cord.road];
  return int(cord.right ? road.rLanes.size() : road.lLanes.size());
}

glm::vec2 SimData::GetNodeRoadPnt(int node, int approach) const {
  const INode& n = nodes[node];
  const RoadPath::Polyline& points = lines[n.lines[approach]].points;
  return n.start[approach] ? points.back() : points.front();
}

std::vector<glm::vec2> SimData::GetIntCenterOuts(int node) const {
  const INode& n = nodes[node];
  std::vector<glm::vec2> outs;
  for (size_t a = 0; a < n.lines.size(); ++a) {
    const RoadPath::Polyline& points = lines[n.lines[a]].points;
    const glm::vec2 next = n.start[a] ? points[points.size() - 2] : points[1];
    outs.push_back(glm::normalize(next - GetNodeRoadPnt(node, int(a))));
  }
  return outs;
}

std::string SimData::GetLatestFile(const std::string& directory, const std::string& extension) {
  const std::string wanted = "." + extension;
  long long best = 1207609200;  // files written at or before this second are never chosen
  std::string latest;
  for (const std::filesystem::directory_entry& entry :
       std::filesystem::directory_iterator(directory)) {
    std::error_code error;
    if (!entry.is_regular_file(error)) continue;
    std::string found = entry.path().extension().string();
    SLib::STR_ToLower(found);
    if (found != wanted) continue;
    struct stat info;
    if (::stat(entry.path().c_str(), &info) != 0) continue;
    if (static_cast<long long>(info.st_mtime) > best) {
      best = info.st_mtime;
      latest = entry.path().string();
    }
  }
  return latest;
}
