#pragma once

// SimData: the road network of the traffic simulation. Loaded once from a road-map file
// (format in streams/RoadMapFormat.h) with LoadByteStream, then derived with InitSimData:
// lane counts, resampled lanes and their lengths, per-lane occupancy cells, and at every
// node the junction paths joining each incoming lane end to an outgoing lane start, with the
// moves allowed from each incoming lane. After that the geometry never changes; the vehicles
// write occupancy, junction slots and light codes straight into the public tables.
//
// Records refer to each other by index, never by pointer: road (line) index, node index,
// approach index (position of a road in its node's `lines`), global lane id (right lanes
// first, then left lanes) and path id (position in the node's `pathPls`).
//
// A map that cannot be used is refused as a whole with one log line: after a refusal the
// network is empty, never half loaded. Refused are a missing, unreadable or malformed file,
// missing keys, indices out of range, a node whose road and start lists disagree or that
// does not match its roads' ends, more roads at a node than the junction rules handle, a road
// or lane with fewer than two points, a side without lanes, coordinates that are not finite,
// lanes or junction paths of (near) zero length and an approach with no junction path, and a
// map whose derived lanes and paths would not fit in memory (estimated before deriving).
//
// Threading: used by one thread (the simulation's) at a time.

#include <array>
#include <cstdint>
#include <glm/vec2.hpp>
#include <string>
#include <vector>

#include "streams/RoadPath.h"

class ByteStream;

// Occupancy cells of one lane or junction path.
constexpr int kStripCells = 1000;

// The car in each occupancy cell of a lane: 1-based car id, or 0.
using CarCells = std::array<uint32_t, kStripCells>;

// One bit per occupancy cell of a lane or junction path, 1 when a car is in it: the vehicles
// look ahead 64 cells at a time. Bit w of `taken` is set while word w is not 0, so a
// look-ahead over an empty stretch skips it at once. The strip's length (laneLen or pathLen)
// is kept beside the bits, since every look at them needs it: it comes with them instead of
// from a block of its own. Both come first, to share a cache line with the first words.
struct CellBits {
  uint32_t taken = 0;
  float length = 0;
  std::array<uint64_t, (kStripCells + 63) / 64> words{};

  void Clear() {
    taken = 0;
    words.fill(0);
  }
};

// Moves allowed from one incoming lane; each flag is 0 or 1.
struct LaneOptions {
  int32_t straight = 0;
  int32_t right = 0;
  int32_t left = 0;
  int32_t uTurn = 0;
  int32_t noMove = 0;  // set when none of the others is (not at dead ends)
};

// One lane end at a node.
struct ICord {
  int32_t road = 0;      // line index
  int32_t atEnd = 0;     // the node's start flag for this approach
  int32_t incoming = 0;  // 1: arrives at the node (touches it with its last point)
  int32_t right = 0;     // 1: one of the road's right lanes, 0: left lanes
  int32_t lane = 0;      // index within that side
  int32_t approach = 0;
};

// One road. Per-lane lists are indexed by global lane id.
struct RLine {
  RoadPath::Polyline points;  // centre line, first to last point
  int32_t start = 0;          // node at the first point
  int32_t end = 0;            // node at the last point
  int32_t nRight = 1;
  int32_t nLanes = 2;
  std::vector<RoadPath::Polyline> rLanes;       // running from `start` towards `end`
  std::vector<RoadPath::Polyline> lLanes;       // running from `end` towards `start`
  std::array<std::vector<int32_t>, 2> laneIds;  // [0] right lanes' ids, [1] left lanes' ids
  std::vector<int32_t> laneSide;                // 0 right, 1 left
  std::vector<int32_t> laneLocal;               // index within the side
  std::vector<int32_t> laneLight;               // light code, written by the vehicles
  std::vector<RoadPath::Polyline> lanePls;
  std::vector<float> laneLen;
  std::vector<CarCells> carMap;               // per lane
  std::vector<CellBits> carBits;              // per lane, the cells of carMap that are not 0
};

// One junction or road end. Per-approach lists are indexed by approach; the four path lists
// grow together, so entry j of each describes the same path.
struct INode {
  glm::vec2 pos{0, 0};
  char type = ' ';
  std::vector<int32_t> lines;  // roads meeting here, in approach order
  std::vector<int32_t> start;  // per approach: 1 when the road ends here, 0 when it starts here
  float rad = 20.0f;
  std::vector<std::vector<int32_t>> pathIdx;       // path ids leaving each approach
  std::vector<std::vector<int32_t>> pathRoad;      // the road each path leads to
  std::vector<std::vector<int32_t>> pathDestLane;  // global lane id it ends on
  std::vector<std::vector<int32_t>> pathSrcLane;   // global lane id it starts from
  std::array<int32_t, 4> flags{};  // 4 roads: [1] approaches 0, 1 single-laned; [3] for 2, 3
  std::vector<std::vector<LaneOptions>> laneOpts;  // per approach, per incoming lane
  std::vector<glm::vec2> outs;                // per approach: unit direction away from the node
  std::vector<RoadPath::Polyline> pathPls;    // per path id
  std::vector<float> pathLen;                 // per path id
  std::vector<CellBits> pathBits;             // per path id: cells taken by cars on the path
  std::vector<uint32_t> slotL, slotS, slotR;  // per approach: car in a path's first 60%
};

class SimData {
 public:
  static constexpr int kCarCells = kStripCells;

  float laneW = 4.0f;
  float intSize = 20.0f;
  float iScaleFactor = 2.1f;
  std::vector<RLine> lines;
  std::vector<INode> nodes;
  // Bytes of memory available to the derived network: InitSimData refuses a map whose
  // estimate (RoadMapCheck::DerivedBytes) is more than RoadMapCheck::kMemoryShare of it.
  // 0: the machine's (RoadMapCheck::MachineMemory), read when InitSimData runs.
  uint64_t memoryAvailable = 0;

  // Replaces the network with the road map at `path` and sets the three floats from it.
  // False, with one log line naming the file and the fault, when the map cannot be used; the
  // network is then empty and the floats keep their values.
  bool LoadByteStream(const std::string& path);
  // Derives lanes, paths and occupancy maps from the loaded network. False, with one log
  // line, when what it would derive does not fit in memoryAvailable (checked before deriving
  // anything), or a lane or junction path has (near) zero length or an approach gets no path;
  // the network is then emptied. May be called again: derived data is rebuilt, not appended.
  bool InitSimData();

  // out := the points of float-vector record `key` read as x, y pairs (a trailing odd value
  // is ignored). False (out empty) when the record is missing or of another type.
  static bool FloatToLines(const ByteStream& stream, const std::string& key,
                           RoadPath::Polyline& out);
  // out := one polyline per row of 2-D float-vector record `key`; false (out empty) when
  // the record is missing or of another type.
  static bool Float2DToLines(const ByteStream& stream, const std::string& key,
                             std::vector<RoadPath::Polyline>& out);

  // Lane ends at a node: lane 0, the last lane, or a given lane of the side that `incoming`
  // selects on the road of `approach`.
  ICord GetICordL(int node, int approach, int incoming) const;
  ICord GetICordR(int node, int approach, int incoming) const;
  ICord GetICordFromL(int node, int approach, int incoming, int lane) const;
  int GetGlobalLane(const ICord& cord) const;
  int GetNumLanes(int node, int approach, int incoming) const;
  // The road's point at the node: its last point when it ends there, else its first.
  glm::vec2 GetNodeRoadPnt(int node, int approach) const;
  // Per approach, the unit direction from the node along its road.
  std::vector<glm::vec2> GetIntCenterOuts(int node) const;

  // The approach whose road lies to the right, to the left or straight on for a car arriving
  // on `approach` (the highest such index when several qualify), or -1.
  int GetRoadRightI(int node, int approach) const;
  int GetRoadLeftI(int node, int approach) const;
  int GetRoadStraightI(int node, int approach) const;

  // Creates the paths and lane options of one approach; needs `outs` of the node.
  void AddIPaths(int node, int approach);
  // Creates one path from lane end `from` to lane end `to` at `node`; nothing when no curve
  // joins them.
  void AddIPath(const ICord& from, const ICord& to, int node);

  // Path of the newest regular file in `directory` whose lower-cased extension is "." +
  // `extension`, among files written after 2008-04-08; empty when none. Throws the
  // filesystem error when the directory cannot be read.
  static std::string GetLatestFile(const std::string& directory, const std::string& extension);

 private:
  enum class Turn { kRight, kLeft, kStraight };
  int Neighbour(int node, int approach, Turn turn) const;
  void DeriveLanes(RLine& road);
  std::string CheckPaths() const;  // empty when every path is usable
  // Empties the network and logs why it cannot be used.
  void Refuse(const std::string& problem);
};
