// Reading the road-map file into a SimData network.

#include <filesystem>

#include "foundation/LogManager.h"
#include "record/ByteStream.h"
#include "streams/RoadMapCheck.h"
#include "streams/RoadMapFormat.h"
#include "streams/SimData.h"

namespace {

namespace fmt = RoadMapFormat;

std::string Missing(const char* key) { return std::string("missing \"") + key + "\""; }

std::string ReadRoad(const ByteStream& record, RLine& road) {
  if (!SimData::FloatToLines(record, fmt::kRoadLine, road.points)) return Missing(fmt::kRoadLine);
  if (!SimData::Float2DToLines(record, fmt::kRoadRLanes, road.rLanes)) {
    return Missing(fmt::kRoadRLanes);
  }
  if (!SimData::Float2DToLines(record, fmt::kRoadLLanes, road.lLanes)) {
    return Missing(fmt::kRoadLLanes);
  }
  if (!record.GetInt32(fmt::kRoadStart, road.start)) return Missing(fmt::kRoadStart);
  if (!record.GetInt32(fmt::kRoadEnd, road.end)) return Missing(fmt::kRoadEnd);
  return "";
}

std::string ReadNode(const ByteStream& record, INode& node) {
  std::vector<float> pos;
  if (!record.GetFloatVector(fmt::kNodePos, pos)) return Missing(fmt::kNodePos);
  if (pos.size() < 2) return "\"Pos\" holds fewer than two values";
  node.pos = glm::vec2(pos[0], pos[1]);
  int32_t type = 0;
  if (record.GetInt32(fmt::kNodeType, type)) node.type = static_cast<char>(type & 0xFF);
  if (!record.GetInt32Vector(fmt::kNodeLines, node.lines)) return Missing(fmt::kNodeLines);
  if (!record.GetInt32Vector(fmt::kNodeStart, node.start)) return Missing(fmt::kNodeStart);
  record.GetFloat(fmt::kNodeRad, node.rad);
  const size_t approaches = node.lines.size();
  node.pathIdx.assign(approaches, {});
  node.pathRoad.assign(approaches, {});
  node.pathDestLane.assign(approaches, {});
  node.pathSrcLane.assign(approaches, {});
  node.slotL.assign(approaches, 0);
  node.slotS.assign(approaches, 0);
  node.slotR.assign(approaches, 0);
  return "";
}

// Reads every road and node of `map`; the first fault as text, empty when all could be read.
std::string ReadNetwork(const ByteStream& map, std::vector<RLine>& roads,
                        std::vector<INode>& nodes) {
  std::vector<ByteStream> records;
  if (!map.GetStreamVector(fmt::kLines, records)) return Missing(fmt::kLines);
  for (size_t r = 0; r < records.size(); ++r) {
    roads.emplace_back();
    const std::string problem = ReadRoad(records[r], roads.back());
    if (!problem.empty()) return "road " + std::to_string(r) + ": " + problem;
  }
  records.clear();
  if (!map.GetStreamVector(fmt::kNodes, records)) return Missing(fmt::kNodes);
  for (size_t n = 0; n < records.size(); ++n) {
    nodes.emplace_back();
    const std::string problem = ReadNode(records[n], nodes.back());
    if (!problem.empty()) return "node " + std::to_string(n) + ": " + problem;
  }
  return "";
}

// Why `path` cannot be read as a container into `map`; empty when it was read.
std::string OpenMap(const std::string& path, ByteStream& map) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return "no such file";
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  if (!map.Read(path)) return "not a readable record container";
  return "";
}

}  // namespace

bool SimData::FloatToLines(const ByteStream& stream, const std::string& key,
                           RoadPath::Polyline& out) {
  out.clear();
  std::vector<float> values;
  if (!stream.GetFloatVector(key, values)) return false;
  for (size_t i = 0; i + 1 < values.size(); i += 2) out.emplace_back(values[i], values[i + 1]);
  return true;
}

bool SimData::Float2DToLines(const ByteStream& stream, const std::string& key,
                             std::vector<RoadPath::Polyline>& out) {
  out.clear();
  std::vector<std::vector<float>> rows;
  if (!stream.GetFloatVector2D(key, rows)) return false;
  for (const std::vector<float>& row : rows) {
    out.emplace_back();
    for (size_t i = 0; i + 1 < row.size(); i += 2) out.back().emplace_back(row[i], row[i + 1]);
  }
  return true;
}

bool SimData::LoadByteStream(const std::string& path) {
  ByteStream map(true);  // views the mapped file; everything is copied out before it closes
  std::vector<RLine> roads;
  std::vector<INode> junctions;
  std::string problem = OpenMap(path, map);
  if (problem.empty()) problem = ReadNetwork(map, roads, junctions);
  if (problem.empty()) problem = RoadMapCheck::CheckNetwork(roads, junctions);
  if (!problem.empty()) {
    Refuse(path + ": " + problem);
    return false;
  }
  map.GetFloat(fmt::kLaneW, laneW);
  map.GetFloat(fmt::kIntSize, intSize);
  map.GetFloat(fmt::kIScaleFactor, iScaleFactor);
  lines = std::move(roads);
  nodes = std::move(junctions);
  return true;
}

void SimData::Refuse(const std::string& problem) {
  lines.clear();
  nodes.clear();
  LogManager::Global << "Invalid road map: " + problem;
}
