// Junction paths: which road lies right, left or straight on, which incoming lane may go
// where, and the curves between lane ends.

#include <algorithm>

#include "streams/RoadMapCheck.h"
#include "streams/SimData.h"

namespace {
const float kStraightAngle = 2.3561945f;  // 3 pi / 4: wider than this is straight on
}  // namespace

int SimData::Neighbour(int node, int approach, Turn turn) const {
  const std::vector<glm::vec2>& outs = nodes[node].outs;
  if (approach < 0 || approach >= int(outs.size())) return -1;
  const glm::vec2& u = outs[approach];
  int found = -1;
  for (int j = 0; j < int(outs.size()); ++j) {
    if (j == approach) continue;
    const glm::vec2& w = outs[j];
    const float angle = RoadPath::MClockwiseAngle(u, w);  // dot clamped before acos
    const float cross = u.x * w.y - w.x * u.y;
    const bool turning = angle > 0 && angle < kStraightAngle;
    bool match = false;
    switch (turn) {
      case Turn::kStraight:
        match = angle > kStraightAngle;
        break;
      case Turn::kRight:
        match = turning && cross < 0;
        break;
      case Turn::kLeft:
        match = turning && cross >= 0;
        break;
    }
    if (match) found = j;  // the highest qualifying index wins
  }
  return found;
}

int SimData::GetRoadRightI(int node, int approach) const {
  return Neighbour(node, approach, Turn::kRight);
}
int SimData::GetRoadLeftI(int node, int approach) const {
  return Neighbour(node, approach, Turn::kLeft);
}
int SimData::GetRoadStraightI(int node, int approach) const {
  return Neighbour(node, approach, Turn::kStraight);
}

void SimData::AddIPaths(int node, int a) {
  const int k = int(nodes[node].lines.size()) - 1;
  if (a > k) return;
  const int nIn = GetNumLanes(node, a, 1);
  std::vector<LaneOptions>& opts = nodes[node].laneOpts[a];
  opts.assign(nIn, LaneOptions{});
  auto path = [&](int from, int j, int to) {
    AddIPath(GetICordFromL(node, a, 1, from), GetICordFromL(node, j, 0, to), node);
  };
  if (k == 0) {  // dead end: turn back onto the same road
    path(0, a, 0);
    opts[0].uTurn = 1;
    return;
  }
  const int straight = GetRoadStraightI(node, a);
  const int right = GetRoadRightI(node, a);
  const int left = GetRoadLeftI(node, a);
  if (k == 1 && straight < 0) {  // a bend: every lane follows it
    const int j = right >= 0 ? right : left;
    const int m = j < 0 ? 0 : std::min(nIn, GetNumLanes(node, j, 0));
    for (int i = 0; i < m; ++i) {
      path(i, j, i);
      (right >= 0 ? opts[i].right : opts[i].left) = 1;
    }
  } else {
    if (left >= 0) {
      path(0, left, 0);
      opts[0].left = 1;
    }
    int r = nIn - 1;  // the lane that turns right
    if (straight < 0) {
      if (nIn > 2) r = 1;
    } else {
      const int nS = GetNumLanes(node, straight, 0);
      // With fewer lanes ahead, lane 0 is kept for the left turn when there is one.
      const int shift = (nS < nIn && left >= 0) ? 1 : 0;
      for (int i = 0; i < std::min(nIn, nS); ++i) {
        path(i + shift, straight, i);
        opts[i + shift].straight = 1;
      }
      if (nS < nIn) r = std::min(nS + shift, nIn - 1);
    }
    if (right >= 0) {
      path(r, right, GetNumLanes(node, right, 0) - 1);
      opts[r].right = 1;
    }
  }
  for (LaneOptions& o : opts) {
    if (!o.straight && !o.right && !o.left && !o.uTurn) o.noMove = 1;
  }
}

void SimData::AddIPath(const ICord& from, const ICord& to, int node) {
  // The two points at a lane's node end: the end itself, then its neighbour on the lane.
  auto laneEnd = [this](const ICord& cord, glm::vec2& end, glm::vec2& next) {
    const RLine& road = lines[cord.road];
    const RoadPath::Polyline& lane = cord.right ? road.rLanes[cord.lane] : road.lLanes[cord.lane];
    end = cord.incoming ? lane.back() : lane.front();
    next = cord.incoming ? lane[lane.size() - 2] : lane[1];
  };
  glm::vec2 p0, p1, p2, p3;
  laneEnd(from, p0, p1);
  laneEnd(to, p2, p3);
  const RoadPath::Polyline curve = RoadPath::GetIntersectionCurve(p0, p1, p2, p3);
  if (curve.size() < 2) return;
  RoadPath::Polyline pls;
  float length = 0;
  RoadPath::Fill_PLS(curve, length, pls);
  if (pls.empty()) return;
  INode& n = nodes[node];
  const int a = from.approach;
  n.pathIdx[a].push_back(int32_t(n.pathPls.size()));
  n.pathRoad[a].push_back(to.road);
  n.pathSrcLane[a].push_back(GetGlobalLane(from));
  n.pathDestLane[a].push_back(GetGlobalLane(to));
  n.pathPls.push_back(std::move(pls));
  n.pathLen.push_back(length);
}

std::string SimData::CheckPaths() const {
  for (size_t n = 0; n < nodes.size(); ++n) {
    const INode& node = nodes[n];
    for (size_t a = 0; a < node.pathIdx.size(); ++a) {
      const std::string where = "node " + std::to_string(n) + " approach " + std::to_string(a);
      if (node.pathIdx[a].empty()) return where + ": no junction path leaves it";
      for (int32_t id : node.pathIdx[a]) {
        if (!(node.pathLen[id] >= RoadMapCheck::kMinLength)) {
          return where + ": junction path of zero length";
        }
      }
    }
  }
  return "";
}
