// SimData on generated maps: approach order against the geometry, path sets per junction
// type, turn lengths, lane ids and paths that join their lanes; reading single keys; the
// newest-file lookup.

#include "streams/SimData.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <glm/geometric.hpp>
#include <map>
#include <set>
#include <tuple>

#include "RoadMapBuilder.h"
#include "foundation/LogManager.h"
#include "streams/RoadMapFormat.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using Path = std::tuple<int, int, int>;  // source lane (local), target road, target lane (local)

class SimDataTest : public ::testing::Test {
 protected:
  // Writes `plan` laid out as a file and loads and derives it; fails the test on refusal.
  void Load(const mapgen::MapSpec& plan) { LoadFile(mapgen::Layout(plan)); }
  void LoadFile(const mapgen::MapFile& map) {
    const std::string path = dir_.File("map.cmap");
    ASSERT_TRUE(mapgen::WriteMap(map, path));
    ASSERT_TRUE(sim_.LoadByteStream(path));
    ASSERT_TRUE(sim_.InitSimData()) << LogManager::Global.GetLogString();
  }

  // Paths leaving `approach` of `node`, as lanes local to their sides.
  std::set<Path> PathsFrom(int node, int approach) const {
    const INode& n = sim_.nodes[node];
    std::set<Path> paths;
    for (size_t j = 0; j < n.pathIdx[approach].size(); ++j) {
      const int src = n.pathSrcLane[approach][j];
      const RLine& from = sim_.lines[n.lines[approach]];
      const RLine& to = sim_.lines[n.pathRoad[approach][j]];
      const int dest = n.pathDestLane[approach][j];
      paths.insert({from.laneLocal[src], n.pathRoad[approach][j], to.laneLocal[dest]});
    }
    return paths;
  }

  // Length of the shortest path from `approach` of `node` to the road of approach `to`.
  float ShortestTo(int node, int approach, int to) const {
    const INode& n = sim_.nodes[node];
    float shortest = 1e30f;
    for (size_t j = 0; j < n.pathIdx[approach].size(); ++j) {
      if (n.pathRoad[approach][j] == n.lines[to]) {
        shortest = std::min(shortest, n.pathLen[n.pathIdx[approach][j]]);
      }
    }
    return shortest;
  }

  int RoadOf(int node, int approach) const { return sim_.nodes[node].lines[approach]; }

  testsupport::TempDir dir_;
  SimData sim_;
};

TEST_F(SimDataTest, FourWayJunctionPathsWithTwoLanesPerSide) {
  Load(mapgen::Crossing(2));
  const INode& centre = sim_.nodes[0];
  ASSERT_EQ(centre.lines.size(), 4u);
  for (int a = 0; a < 4; ++a) {
    const int right = sim_.GetRoadRightI(0, a), left = sim_.GetRoadLeftI(0, a);
    const int straight = sim_.GetRoadStraightI(0, a);
    const int last = sim_.GetNumLanes(0, right, 0) - 1;
    EXPECT_EQ(PathsFrom(0, a), (std::set<Path>{{0, RoadOf(0, left), 0},
                                               {0, RoadOf(0, straight), 0},
                                               {1, RoadOf(0, straight), 1},
                                               {1, RoadOf(0, right), last}}))
        << "approach " << a;
    for (const LaneOptions& o : centre.laneOpts[a]) EXPECT_EQ(o.noMove, 0);
    EXPECT_EQ(centre.laneOpts[a][0].left, 1);
    EXPECT_EQ(centre.laneOpts[a][0].straight, 1);
    EXPECT_EQ(centre.laneOpts[a][1].straight, 1);
    EXPECT_EQ(centre.laneOpts[a][1].right, 1);
  }
  EXPECT_EQ(centre.flags, (std::array<int32_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(centre.type, 'X');
}

TEST_F(SimDataTest, ApproachOrderMatchesTheGeometryAtEveryJunction) {
  // Seen from approach 0, approach 1 is straight on, 2 to the right and 3 to the left; at a
  // T-junction, 1 is to the right of the side road 0 and 2 to its left.
  Load(mapgen::Demo());
  int fourWay = 0, threeWay = 0;
  for (size_t n = 0; n < sim_.nodes.size(); ++n) {
    const int node = int(n);
    if (sim_.nodes[n].lines.size() == 4) {
      ++fourWay;
      const int expected[4][3] = {
          {2, 3, 1}, {3, 2, 0}, {1, 0, 3}, {0, 1, 2}};  // right, left, straight
      for (int a = 0; a < 4; ++a) {
        EXPECT_EQ(sim_.GetRoadRightI(node, a), expected[a][0]) << n << " " << a;
        EXPECT_EQ(sim_.GetRoadLeftI(node, a), expected[a][1]) << n << " " << a;
        EXPECT_EQ(sim_.GetRoadStraightI(node, a), expected[a][2]) << n << " " << a;
      }
    } else if (sim_.nodes[n].lines.size() == 3) {
      ++threeWay;
      EXPECT_EQ(sim_.GetRoadRightI(node, 0), 1) << n;
      EXPECT_EQ(sim_.GetRoadLeftI(node, 0), 2) << n;
      EXPECT_EQ(sim_.GetRoadStraightI(node, 0), -1) << n;
      EXPECT_EQ(sim_.GetRoadStraightI(node, 1), 2) << n;
      EXPECT_EQ(sim_.GetRoadLeftI(node, 1), 0) << n;
      EXPECT_EQ(sim_.GetRoadRightI(node, 2), 0) << n;
    }
  }
  EXPECT_EQ(fourWay, 16);
  EXPECT_EQ(threeWay, 16 + 2);  // the edges, and two corners with a spur
}

TEST_F(SimDataTest, RightTurnIsShorterThanStraightOnWhichIsShorterThanLeft) {
  // On single-lane junctions the turns are fixed by the frame alone: a mirrored frame swaps
  // the right and left turns.
  Load(mapgen::Grid(4, 4, 1));
  int checked = 0;
  for (size_t n = 0; n < sim_.nodes.size(); ++n) {
    if (sim_.nodes[n].lines.size() != 4) continue;
    for (int a = 0; a < 4; ++a) {
      const int node = int(n);
      const float right = ShortestTo(node, a, sim_.GetRoadRightI(node, a));
      const float straight = ShortestTo(node, a, sim_.GetRoadStraightI(node, a));
      const float left = ShortestTo(node, a, sim_.GetRoadLeftI(node, a));
      EXPECT_LT(right, straight) << n << " " << a;
      EXPECT_LT(straight, left) << n << " " << a;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 4 * 4);
}

TEST_F(SimDataTest, RightTurnIsTheShortestOnWiderRoadsToo) {
  // With more lanes the junction grows, and the wide left arc may undercut the straight
  // crossing; the right turn from the kerb lane stays the tightest.
  Load(mapgen::Demo());
  for (size_t n = 0; n < sim_.nodes.size(); ++n) {
    const int node = int(n);
    for (int a = 0; a < int(sim_.nodes[n].lines.size()); ++a) {
      const int right = sim_.GetRoadRightI(node, a);
      if (right < 0) continue;
      const float rightLen = ShortestTo(node, a, right);
      for (int other : {sim_.GetRoadStraightI(node, a), sim_.GetRoadLeftI(node, a)}) {
        if (other >= 0) {
          EXPECT_LT(rightLen, ShortestTo(node, a, other)) << n << " " << a;
        }
      }
    }
  }
}

TEST_F(SimDataTest, TJunctionPaths) {
  Load(mapgen::Tee(2));
  const INode& tee = sim_.nodes[0];
  ASSERT_EQ(tee.lines.size(), 3u);
  EXPECT_EQ(tee.type, 'T');
  // Side road: left from lane 0, right from the kerb lane, nothing straight on.
  EXPECT_EQ(PathsFrom(0, 0), (std::set<Path>{{0, RoadOf(0, 2), 0}, {1, RoadOf(0, 1), 1}}));
  // From the right of the side road: straight on, and left into the side road.
  EXPECT_EQ(PathsFrom(0, 1),
            (std::set<Path>{{0, RoadOf(0, 0), 0}, {0, RoadOf(0, 2), 0}, {1, RoadOf(0, 2), 1}}));
  // From its left: straight on, and right into the side road.
  EXPECT_EQ(PathsFrom(0, 2),
            (std::set<Path>{{0, RoadOf(0, 1), 0}, {1, RoadOf(0, 1), 1}, {1, RoadOf(0, 0), 1}}));
}

TEST_F(SimDataTest, TJunctionSideRoadWithThreeLanesKeepsOneLaneIdle) {
  Load(mapgen::Tee(3));
  // No road straight on: lane 1 turns right, lane 2 has no move.
  EXPECT_EQ(PathsFrom(0, 0), (std::set<Path>{{0, RoadOf(0, 2), 0}, {1, RoadOf(0, 1), 2}}));
  const std::vector<LaneOptions>& opts = sim_.nodes[0].laneOpts[0];
  EXPECT_EQ(opts[0].left, 1);
  EXPECT_EQ(opts[1].right, 1);
  EXPECT_EQ(opts[2].noMove, 1);
}

TEST_F(SimDataTest, FewerLanesAheadShiftTheStraightPaths) {
  // The west road brings 3 lanes in, the east road takes 2 lanes out.
  mapgen::MapSpec plan = mapgen::Crossing(2);
  plan.roads[0].right = 3;  // west arm -> centre
  Load(plan);
  const int west = 0;
  ASSERT_EQ(RoadOf(0, west), 0);
  const int east = sim_.GetRoadStraightI(0, west);
  const int left = sim_.GetRoadLeftI(0, west), right = sim_.GetRoadRightI(0, west);
  EXPECT_EQ(PathsFrom(0, west), (std::set<Path>{{0, RoadOf(0, left), 0},
                                                {1, RoadOf(0, east), 0},
                                                {2, RoadOf(0, east), 1},
                                                {2, RoadOf(0, right), 1}}));
}

TEST_F(SimDataTest, DeadEndsAndStraightNodes) {
  Load(mapgen::Corridor(2, 2));
  for (int end : {0, 2}) {
    const INode& node = sim_.nodes[end];
    ASSERT_EQ(node.lines.size(), 1u);
    EXPECT_EQ(node.type, 'E');
    EXPECT_EQ(PathsFrom(end, 0), (std::set<Path>{{0, node.lines[0], 0}}));
    EXPECT_EQ(node.laneOpts[0][0].uTurn, 1);
    EXPECT_EQ(node.laneOpts[0][1].noMove, 0);  // dead ends leave other lanes without flags
    EXPECT_EQ(node.laneOpts[0][1].uTurn, 0);
  }
  const INode& middle = sim_.nodes[1];
  EXPECT_EQ(middle.type, 'C');
  EXPECT_EQ(PathsFrom(1, 0), (std::set<Path>{{0, middle.lines[1], 0}, {1, middle.lines[1], 1}}));
  EXPECT_EQ(PathsFrom(1, 1), (std::set<Path>{{0, middle.lines[0], 0}, {1, middle.lines[0], 1}}));
}

TEST_F(SimDataTest, BendsCarryEveryLaneRound) {
  Load(mapgen::Grid(2, 2, 2));
  for (int corner = 0; corner < 4; ++corner) {
    const INode& node = sim_.nodes[corner];
    ASSERT_EQ(node.lines.size(), 2u);
    for (int a = 0; a < 2; ++a) {
      EXPECT_EQ(PathsFrom(corner, a),
                (std::set<Path>{{0, node.lines[1 - a], 0}, {1, node.lines[1 - a], 1}}));
      const bool right = sim_.GetRoadRightI(corner, a) >= 0;
      EXPECT_EQ(node.laneOpts[a][1].right, right ? 1 : 0);
      EXPECT_EQ(node.laneOpts[a][1].left, right ? 0 : 1);
    }
  }
}

TEST_F(SimDataTest, SingleLanedOppositeRoadsSetTheFlags) {
  Load(mapgen::Crossing(1));
  EXPECT_EQ(sim_.nodes[0].flags, (std::array<int32_t, 4>{0, 1, 0, 1}));
  mapgen::MapSpec plan = mapgen::Crossing(1);
  plan.roads[2].right = 2;  // approach 2 or 3 gets a second right lane
  Load(plan);
  EXPECT_EQ(sim_.nodes[0].flags, (std::array<int32_t, 4>{0, 1, 0, 0}));
}

TEST_F(SimDataTest, LaneIdsRightLanesFirst) {
  mapgen::MapSpec plan = mapgen::Corridor(1, 1);
  plan.roads[0].right = 2;
  Load(plan);
  const RLine& road = sim_.lines[0];
  EXPECT_EQ(road.nRight, 2);
  EXPECT_EQ(road.nLanes, 3);
  EXPECT_EQ(road.laneIds[0], (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(road.laneIds[1], (std::vector<int32_t>{2}));
  EXPECT_EQ(road.laneSide, (std::vector<int32_t>{0, 0, 1}));
  EXPECT_EQ(road.laneLocal, (std::vector<int32_t>{0, 1, 0}));
  EXPECT_EQ(road.laneLight, (std::vector<int32_t>{0, 0, 0}));
  ASSERT_EQ(road.carMap.size(), 3u);
  for (const CarCells& cells : road.carMap) EXPECT_EQ(cells, CarCells{});
  ICord cord = sim_.GetICordR(1, 0, 1);  // the end node: right lanes arrive there
  EXPECT_EQ(cord.right, 1);
  EXPECT_EQ(cord.lane, 1);
  EXPECT_EQ(sim_.GetGlobalLane(cord), 1);
  cord = sim_.GetICordL(1, 0, 0);  // the left lane leaves it
  EXPECT_EQ(cord.right, 0);
  EXPECT_EQ(sim_.GetGlobalLane(cord), 2);
  EXPECT_EQ(sim_.GetNumLanes(0, 0, 1), 1);
  EXPECT_EQ(sim_.GetNumLanes(0, 0, 0), 2);
}

TEST_F(SimDataTest, PathsJoinTheirLanesAndLanesAreResampled) {
  Load(mapgen::Demo());
  for (const RLine& road : sim_.lines) {
    for (int lane = 0; lane < road.nLanes; ++lane) {
      ASSERT_EQ(road.lanePls[lane].size(), 1001u);
      const RoadPath::Polyline& line =
          lane < road.nRight ? road.rLanes[lane] : road.lLanes[lane - road.nRight];
      EXPECT_NEAR(road.laneLen[lane], glm::length(line.back() - line.front()), 1e-3f);
    }
  }
  for (const INode& node : sim_.nodes) {
    ASSERT_EQ(node.outs.size(), node.lines.size());
    for (size_t a = 0; a < node.lines.size(); ++a) {
      ASSERT_FALSE(node.pathIdx[a].empty());
      for (size_t j = 0; j < node.pathIdx[a].size(); ++j) {
        const RoadPath::Polyline& pls = node.pathPls[node.pathIdx[a][j]];
        const RLine& from = sim_.lines[node.lines[a]];
        const RLine& to = sim_.lines[node.pathRoad[a][j]];
        const glm::vec2 arrival = from.lanePls[node.pathSrcLane[a][j]].back();
        const glm::vec2 departure = to.lanePls[node.pathDestLane[a][j]].front();
        EXPECT_LT(glm::length(pls.front() - arrival), 1e-3f);
        EXPECT_LT(glm::length(pls.back() - departure), 1e-3f);
        EXPECT_GT(node.pathLen[node.pathIdx[a][j]], 1.0f);
      }
    }
  }
}

TEST_F(SimDataTest, LoadingTwiceReplacesAndDerivingTwiceRebuilds) {
  Load(mapgen::Demo());
  Load(mapgen::Crossing(1));
  EXPECT_EQ(sim_.lines.size(), 4u);
  const size_t paths = sim_.nodes[0].pathPls.size();
  ASSERT_TRUE(sim_.InitSimData());
  EXPECT_EQ(sim_.nodes[0].pathPls.size(), paths);
  EXPECT_EQ(sim_.nodes[0].pathIdx[0].size(), sim_.nodes[0].pathRoad[0].size());
}

TEST_F(SimDataTest, TwoRightNeighboursGiveTheHigherIndex) {
  sim_.nodes.resize(1);
  // Arriving from the west; approaches 1 and 2 both lie to the right (southwards).
  sim_.nodes[0].outs = {{-1, 0}, {0, 1}, {0.5f, 0.8660254f}, {0, -1}};
  EXPECT_EQ(sim_.GetRoadRightI(0, 0), 2);
  EXPECT_EQ(sim_.GetRoadLeftI(0, 0), 3);
  EXPECT_EQ(sim_.GetRoadStraightI(0, 0), -1);
  sim_.nodes[0].outs = {{-1, 0}, {1, 0}, {1.0f, 1e-7f}};  // nearly parallel: no NaN from acos
  EXPECT_EQ(sim_.GetRoadStraightI(0, 0), 2);
}

TEST_F(SimDataTest, FileKeysAndDefaults) {
  // A road whose "Line" holds an odd count, a node without "Type" and "Rad".
  ByteStream road;
  road.AddFloatVector("Line", {0, 0, 100, 0, 7});
  road.AddFloatVector2D("RLanes", {{2, 2, 98, 2}});
  road.AddFloatVector2D("LLanes", {{98, -2, 2, -2}});
  road.AddInt32("Start", 0);
  road.AddInt32("End", 1);
  std::vector<ByteStream> roads;
  roads.push_back(std::move(road));
  std::vector<ByteStream> nodes(2);
  for (int n = 0; n < 2; ++n) {
    nodes[n].AddFloatVector("Pos", {100.0f * n, 0, 9});
    nodes[n].AddInt32Vector("Lines", {0});
    nodes[n].AddInt32Vector("Start", {n});
  }
  nodes[1].AddInt32("Type", 0x158);  // only the low byte counts
  nodes[1].AddFloat("Rad", 7.5f);
  ByteStream map;
  map.AddStreamVector("Lines", roads);
  map.AddStreamVector("Nodes", nodes);
  map.AddFloat("LaneW", 3.5f);
  const std::string path = dir_.File("keys.cmap");
  ASSERT_TRUE(map.Save(path));
  ASSERT_TRUE(sim_.LoadByteStream(path));
  ASSERT_TRUE(sim_.InitSimData());
  EXPECT_EQ(sim_.lines[0].points, (RoadPath::Polyline{{0, 0}, {100, 0}}));
  EXPECT_EQ(sim_.nodes[0].type, ' ');
  EXPECT_EQ(sim_.nodes[0].rad, 20.0f);
  EXPECT_EQ(sim_.nodes[0].pos, glm::vec2(0, 0));
  EXPECT_EQ(sim_.nodes[1].type, 'X');
  EXPECT_EQ(sim_.nodes[1].rad, 7.5f);
  EXPECT_EQ(sim_.laneW, 3.5f);
  EXPECT_EQ(sim_.intSize, 20.0f);
  EXPECT_EQ(sim_.iScaleFactor, 2.1f);
  EXPECT_EQ(sim_.nodes[1].slotL, std::vector<uint32_t>{0});
  RoadPath::Polyline out{{1, 1}};
  EXPECT_FALSE(SimData::FloatToLines(map, "Nodes", out));
  EXPECT_TRUE(out.empty());
  std::vector<RoadPath::Polyline> rows(3);
  EXPECT_FALSE(SimData::Float2DToLines(map, "Missing", rows));
  EXPECT_TRUE(rows.empty());
}

TEST_F(SimDataTest, HandAssembledMapFile) {
  // tests/data/tiny.cmap was written byte by byte (tests/data/make_tiny_cmap.py), not by our
  // container: one road from (0, 0) to (100, 0) between two dead ends.
  const std::string hand = std::string(TVX_SOURCE_DIR) + "/tests/data/tiny.cmap";
  ASSERT_TRUE(sim_.LoadByteStream(hand));
  ASSERT_TRUE(sim_.InitSimData());
  EXPECT_EQ(sim_.laneW, 4.0f);
  EXPECT_EQ(sim_.intSize, 20.0f);
  EXPECT_EQ(sim_.iScaleFactor, 2.5f);
  ASSERT_EQ(sim_.lines.size(), 1u);
  const RLine& road = sim_.lines[0];
  EXPECT_EQ(road.points, (RoadPath::Polyline{{0, 0}, {100, 0}}));
  EXPECT_EQ(road.rLanes, (std::vector<RoadPath::Polyline>{{{5, 2}, {95, 2}}}));
  EXPECT_EQ(road.lLanes, (std::vector<RoadPath::Polyline>{{{95, -2}, {5, -2}}}));
  EXPECT_EQ(road.start, 0);
  EXPECT_EQ(road.end, 1);
  EXPECT_FLOAT_EQ(road.laneLen[0], 90);
  ASSERT_EQ(sim_.nodes.size(), 2u);
  EXPECT_EQ(sim_.nodes[0].type, 'E');
  EXPECT_EQ(sim_.nodes[1].pos, glm::vec2(100, 0));
  EXPECT_EQ(sim_.nodes[1].start, std::vector<int32_t>{1});
  EXPECT_EQ(sim_.nodes[1].rad, 12.0f);
  for (const INode& node : sim_.nodes) {
    ASSERT_EQ(node.pathLen.size(), 1u);
    EXPECT_NEAR(node.pathLen[0], 2 * M_PI, 0.05);  // a half circle of radius 2
  }
  // Our writer lays the same map out in exactly the same bytes.
  mapgen::MapFile same;
  same.iScaleFactor = 2.5f;
  same.roads.push_back({{{0, 0}, {100, 0}}, {{{5, 2}, {95, 2}}}, {{{95, -2}, {5, -2}}}, 0, 1});
  same.nodes.push_back({{0, 0}, 'E', {0}, {0}, 12.0f});
  same.nodes.push_back({{100, 0}, 'E', {0}, {1}, 12.0f});
  const std::string ours = dir_.File("ours.cmap");
  ASSERT_TRUE(mapgen::WriteMap(same, ours));
  EXPECT_EQ(testsupport::ReadFileBytes(ours), testsupport::ReadFileBytes(hand));
}

TEST_F(SimDataTest, LatestFileByLowerCasedExtension) {
  auto touch = [this](const std::string& name, time_t when) {
    const std::string path = dir_.File(name);
    testsupport::WriteFileBytes(path, "x");
    const utimbuf times{when, when};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
  };
  touch("old.cmap", 1207609200);  // never chosen: not after the cut-off
  EXPECT_EQ(SimData::GetLatestFile(dir_.Path(), "cmap"), "");
  touch("a.cmap", 1600000000);
  touch("Map.CMAP", 1700000000);
  touch("newer.txt", 1800000000);
  std::filesystem::create_directory(dir_.File("dir.cmap"));
  EXPECT_EQ(SimData::GetLatestFile(dir_.Path(), "cmap"), dir_.File("Map.CMAP"));
  EXPECT_EQ(SimData::GetLatestFile(dir_.Path(), "CMAP"), "");
  EXPECT_THROW(SimData::GetLatestFile(dir_.File("missing"), "cmap"),
               std::filesystem::filesystem_error);
}

}  // namespace
