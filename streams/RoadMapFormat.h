#pragma once

// The road-map file of the traffic simulation: a plain record-container file (ByteStream).
// Shared by the reader (SimData) and the map generator (tools/mapgen).
//
// Top level:
//   "LaneW", "IntSize", "IScaleFactor"  dt_float          optional, stored only
//   "Lines"                             dt_stream_vector  one container per road, by road index
//   "Nodes"                             dt_stream_vector  one container per node, by node index
// Each road:
//   "Line"    dt_float_vector    centre line as x, y, x, y, ... from the first point to the last
//   "RLanes"  dt_float_vector2D  one row of x, y pairs per right lane, running first -> last
//   "LLanes"  dt_float_vector2D  one row per left lane, running last -> first
//   "Start", "End"  dt_int32     node index at the first and at the last point
// Each node:
//   "Pos"     dt_float_vector    x, y (further values ignored)
//   "Type"    dt_int32           optional; its low byte is stored
//   "Lines"   dt_int32_vector    road indexes meeting here, in approach order
//   "Start"   dt_int32_vector    per approach: 1 when the road ends here, 0 when it starts here
//   "Rad"     dt_float           optional, stored only
//
// Frame: y grows downward (a map's latitude is -y). Traffic keeps right: the right-hand side
// of travel direction d is (-d.y, d.x). Seen from a node, with "out" pointing from the node
// along a road, the road to the right of a car arriving on approach a is one whose out vector
// has cross(out_a, out_j) < 0, where cross(a, b) = a.x b.y - b.x a.y. Lane 0 of each side lies
// next to the centre line, the last lane at the kerb.
//
// Approach order: at four roads, approaches 0 and 1 face each other, as do 2 and 3, and from
// approach 0 the road of approach 2 is to the right and 3 to the left; at three roads, 1 and 2
// face each other and 0 is the side road, with 1 to its right and 2 to its left.

namespace RoadMapFormat {

constexpr char kLaneW[] = "LaneW";
constexpr char kIntSize[] = "IntSize";
constexpr char kIScaleFactor[] = "IScaleFactor";
constexpr char kLines[] = "Lines";
constexpr char kNodes[] = "Nodes";

constexpr char kRoadLine[] = "Line";
constexpr char kRoadRLanes[] = "RLanes";
constexpr char kRoadLLanes[] = "LLanes";
constexpr char kRoadStart[] = "Start";
constexpr char kRoadEnd[] = "End";

constexpr char kNodePos[] = "Pos";
constexpr char kNodeType[] = "Type";
constexpr char kNodeLines[] = "Lines";
constexpr char kNodeStart[] = "Start";
constexpr char kNodeRad[] = "Rad";

// Junction rules cover at most this many roads at one node.
constexpr int kMaxRoadsPerNode = 4;

}  // namespace RoadMapFormat
