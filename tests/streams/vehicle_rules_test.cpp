// Situations built by hand with their expected outcome: a two-road node, a dead end, a car
// behind a slower car, a red light (also at long steps), a straight-on car at a turn-only
// light, a left-turner yielding to oncoming traffic, two cars in one cell.

#include <gtest/gtest.h>

#include <string>

#include "SimMaps.h"
#include "streams/VehicleManager.h"

namespace {

class VehicleRulesTest : public ::testing::Test {
 protected:
  void Load(const mapgen::MapSpec& plan) { testsupport::LoadMap(plan, dir_, sim_); }

  // Appends a car on the right lane `lane` of `road` at `dist`, cruising.
  Vehicle& AddCar(int road, int lane, float dist, float calm) {
    Vehicle car;
    car.road = road;
    car.lane = lane;
    car.dist = dist;
    car.calm = calm;
    manager_.vehicles.push_back(car);
    manager_.nbCars = int32_t(manager_.vehicles.size());
    Vehicle& added = manager_.vehicles.back();
    added.speed = manager_.Cruise(added);
    return added;
  }

  // Index of the first path from `approach` of `node` to `road`, or -1.
  int PathTo(int node, int approach, int road) const {
    const INode& n = sim_.nodes[node];
    for (size_t j = 0; j < n.pathRoad[approach].size(); ++j) {
      if (n.pathRoad[approach][j] == road) return int(j);
    }
    return -1;
  }

  testsupport::TempDir dir_;
  SimData sim_;
  VehicleManager manager_{sim_};
};

// A corridor of two roads: road 0 runs from dead end 0 to node 1, road 1 from node 1 to dead
// end 2. Node 1 joins two roads and has a two-phase light, red first.
TEST_F(VehicleRulesTest, TwoRoadNodeLeadsOnToTheOtherRoadOnceGreen) {
  Load(mapgen::Corridor(2, 1));
  ASSERT_EQ(sim_.nodes[1].lines.size(), 2u);
  AddCar(0, 0, 10, 0.5f);
  manager_.Step(0.1f);
  const Vehicle& car = manager_.vehicles[0];
  EXPECT_EQ(car.node, 1);
  EXPECT_EQ(car.nextRoad, 1);
  EXPECT_EQ(car.turn, 'S');
  EXPECT_EQ(sim_.lines[1].laneSide[car.nextLane], 0);  // leaves node 1 on a right lane
  int entered = -1;
  for (int s = 0; s < 2000 && car.road == 0; ++s) {
    manager_.Step(0.1f);
    if (car.inIntersection && entered < 0) entered = s;
    if (manager_.phase2 == 0) {
      ASSERT_EQ(car.inIntersection, 0) << "crossed on red at " << s;
    }
  }
  EXPECT_EQ(car.road, 1);
  EXPECT_EQ(car.needNextRoad, 1);
  EXPECT_GE(entered, 0);
}

TEST_F(VehicleRulesTest, DeadEndTurnsTheCarBack) {
  Load(mapgen::Corridor(2, 1));
  const INode& end = sim_.nodes[2];
  ASSERT_EQ(end.lines.size(), 1u);
  Vehicle& car = AddCar(1, 0, 5, 0.3f);
  manager_.GetNextRoad(car);
  EXPECT_EQ(car.node, 2);
  EXPECT_EQ(car.turn, 'U');
  EXPECT_EQ(car.nextRoad, 1);
  EXPECT_EQ(car.path, end.pathIdx[0][0]);
  EXPECT_EQ(car.nextLane, sim_.lines[1].nRight);  // the road's left lane, back to node 1
  car.needNextRoad = 0;
  for (int s = 0; s < 1000 && car.lane == 0; ++s) manager_.Step(0.2f);
  EXPECT_EQ(car.road, 1);
  EXPECT_EQ(car.lane, sim_.lines[1].nRight);
  manager_.Step(0.2f);
  EXPECT_EQ(car.node, 1);  // now heading for the other end
}

// On one long road without lights a fast car catches up with a calm one and follows it.
TEST_F(VehicleRulesTest, FastCarFollowsASlowerCarWithoutPassing) {
  Load(mapgen::Corridor(1, 1, 600));
  AddCar(0, 0, 100, 1.0f);  // cruise 3
  AddCar(0, 0, 70, 0.0f);   // cruise 6, look 7
  const Vehicle& slow = manager_.vehicles[0];
  const Vehicle& fast = manager_.vehicles[1];
  float closest = 1e9f;
  for (int s = 0; s < 500 && slow.inIntersection == 0; ++s) {
    manager_.Step(0.25f);
    if (fast.inIntersection || fast.road != 0 || fast.lane != 0) break;
    ASSERT_LT(fast.dist, slow.dist) << "passed at step " << s;
    closest = std::min(closest, slow.dist - fast.dist);
  }
  EXPECT_LT(closest, 7.0f);  // it did catch up
  EXPECT_LT(fast.speed, manager_.Cruise(fast));
}

TEST_F(VehicleRulesTest, RedLightStopsTheCarBeforeTheLaneEnd) {
  Load(mapgen::Corridor(2, 1));
  const float laneLen = sim_.lines[0].laneLen[0];
  Vehicle& car = AddCar(0, 0, laneLen - 40, 0.0f);
  // Red lasts 30 time units: 290 steps of 0.1 stay inside it.
  for (int s = 0; s < 290; ++s) {
    manager_.Step(0.1f);
    ASSERT_EQ(manager_.phase2, 0);
    ASSERT_EQ(car.inIntersection, 0) << "ran the red light at step " << s;
  }
  EXPECT_NEAR(car.speed, 0.0f, 0.05f);
  EXPECT_GT(car.dist, laneLen - 7.0f);  // waits near the stop line
  int steps = 0;
  while (car.inIntersection == 0 && steps < 200) {
    manager_.Step(0.1f);
    ++steps;
  }
  EXPECT_EQ(car.inIntersection, 1);
  EXPECT_EQ(manager_.phase2, 1);
}

// A long step is taken in short sub-steps: in one step of 1.5 a car 8 units before a red
// light at full speed would still be outside its look-ahead and then cross the lane end.
TEST_F(VehicleRulesTest, LongStepsStopForARedLightInSubSteps) {
  Load(mapgen::Corridor(2, 1));
  const float laneLen = sim_.lines[0].laneLen[0];
  Vehicle& car = AddCar(0, 0, laneLen - 8, 0.0f);
  for (int s = 0; s < 19; ++s) {  // 28.5 time units: still red
    manager_.Step(1.5f);
    ASSERT_EQ(manager_.phase2, 0);
    ASSERT_EQ(car.inIntersection, 0) << "ran the red light at step " << s;
  }
  EXPECT_GT(car.dist, laneLen - 7.0f);
}

TEST_F(VehicleRulesTest, TurnOnlyLightStopsStraightOnAndLetsTurnersGo) {
  Load(mapgen::Corridor(2, 1));
  const float laneLen = sim_.lines[0].laneLen[0];
  for (char turn : {'S', 'R', 'L'}) {
    manager_.vehicles.clear();
    Vehicle& car = AddCar(0, 0, laneLen - 3, 0.0f);
    manager_.FillCarMap();
    manager_.GetNextRoad(car);
    car.turn = turn;
    sim_.lines[0].laneLight[0] = 4;
    const float before = car.speed;
    manager_.DrawVehicle(car);
    if (turn == 'S') {
      EXPECT_LT(car.speed, before * 0.5f) << turn;
    } else {
      EXPECT_GE(car.speed, before) << turn;
    }
  }
}

TEST_F(VehicleRulesTest, LeftTurnerYieldsToOncomingTrafficUntilThePhaseChanges) {
  Load(mapgen::Crossing(2));
  const INode& node = sim_.nodes[0];
  ASSERT_EQ(node.lines.size(), 4u);
  // The left-turner comes from approach 0 and turns into approach 3; approach 1 faces it.
  const int from = node.lines[0], to = node.lines[3], opposite = node.lines[1];
  const int j = PathTo(0, 0, to);
  ASSERT_GE(j, 0);
  Vehicle& turner = AddCar(from, node.pathSrcLane[0][j], 0.5f, 0.0f);
  turner.inIntersection = 1;
  turner.node = 0;
  turner.approach = 0;
  turner.turn = 'L';
  turner.nextRoad = to;
  turner.path = node.pathIdx[0][j];
  turner.needNextRoad = 0;
  sim_.lines[from].laneLight[turner.lane] = 3;
  const RLine& oncoming = sim_.lines[opposite];
  const int lane = node.start[1] == 1 ? 0 : oncoming.nRight;
  AddCar(opposite, lane, oncoming.laneLen[lane] - 2, 0.5f).speed = 0;

  Vehicle& car = manager_.vehicles[0];
  const float cruise = manager_.Cruise(car);
  for (int s = 0; s < 5; ++s) {
    manager_.FillCarMap();
    const float before = car.speed;
    manager_.DrawVehicle(car);
    EXPECT_FLOAT_EQ(car.speed, std::max(before - cruise * 0.3f, 0.0f));
  }
  EXPECT_EQ(car.speed, 0.0f);
  // It keeps yielding for as long as the phase lasts while the oncoming car may go: here
  // for 25 of the phase's 30 time units, the oncoming car held in place at each step.
  const Vehicle held = manager_.vehicles[1];
  for (int s = 0; s < 250; ++s) {
    manager_.vehicles[1] = held;
    manager_.FillCarMap();
    manager_.Step(0.1f);
    ASSERT_EQ(manager_.lightsChanged, 0);
    ASSERT_EQ(sim_.lines[opposite].laneLight[lane], 3);
    ASSERT_EQ(car.inIntersection, 1);
    ASSERT_LT(car.dist, 0.3f * node.pathLen[car.path]) << "went at step " << s;
    ASSERT_EQ(car.speed, 0.0f) << "step " << s;
  }
  manager_.lightsChanged = 1;  // released at the phase change, traffic or not
  manager_.DrawVehicle(car);
  EXPECT_EQ(car.go, 1);
  EXPECT_FLOAT_EQ(car.speed, manager_.cruiseFast * 0.5f);
  manager_.lightsChanged = 0;
  manager_.DrawVehicle(car);
  EXPECT_FLOAT_EQ(car.speed, manager_.cruiseFast);
}

// Roads that no path of the approach reaches are never chosen; an approach without any
// path stops the car instead of indexing an empty candidate list.
TEST_F(VehicleRulesTest, RouteChoiceOnlyAmongReachableRoads) {
  Load(mapgen::Crossing(1));
  INode& node = sim_.nodes[0];
  const int keep = node.lines[2];
  for (auto* list : {&node.pathIdx[0], &node.pathRoad[0], &node.pathDestLane[0],
                     &node.pathSrcLane[0]}) {
    std::vector<int32_t> kept;
    for (size_t j = 0; j < node.pathRoad[0].size(); ++j) {
      if (node.pathRoad[0][j] == keep) kept.push_back((*list)[j]);
    }
    if (list != &node.pathRoad[0]) *list = kept;
  }
  node.pathRoad[0].assign(node.pathIdx[0].size(), keep);
  ASSERT_FALSE(node.pathIdx[0].empty());
  const int from = node.lines[0];
  const int lane = node.start[0] ? 0 : sim_.lines[from].nRight;
  for (int i = 0; i < 20; ++i) {
    Vehicle& car = AddCar(from, lane, 1, float(i) / 20);
    manager_.GetNextRoad(car);
    EXPECT_EQ(car.nextRoad, keep);
  }
  for (auto* list : {&node.pathIdx[0], &node.pathRoad[0], &node.pathDestLane[0],
                     &node.pathSrcLane[0]}) {
    list->clear();
  }
  manager_.vehicles.clear();
  AddCar(from, lane, 1, 0.5f);
  AddCar(node.lines[1], node.start[1] ? 0 : sim_.lines[node.lines[1]].nRight, 1, 0.5f);
  for (int s = 0; s < 5; ++s) manager_.Step(0.5f);
  EXPECT_EQ(manager_.vehicles[0].road, -1);
  EXPECT_EQ(manager_.vehicles[1].road, node.lines[1]);
  EXPECT_GT(manager_.vehicles[1].dist, 1);
}

TEST_F(VehicleRulesTest, LaterCarOwnsASharedCell) {
  Load(mapgen::Corridor(1, 1));
  AddCar(0, 0, 20, 0.1f);
  AddCar(0, 0, 20, 0.9f);
  manager_.FillCarMap();
  const int cell = manager_.vehicles[0].cell;
  EXPECT_EQ(cell, manager_.vehicles[1].cell);
  EXPECT_EQ(sim_.lines[0].carMap[0][cell], 2u);
  // The next fill clears the cells of the last one.
  manager_.vehicles[0].dist = manager_.vehicles[1].dist = 60;
  manager_.FillCarMap();
  EXPECT_EQ(sim_.lines[0].carMap[0][cell], 0u);
}

}  // namespace
