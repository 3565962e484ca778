// The traffic simulation run for many steps on generated maps, checked after every step:
// values finite, cars on their lanes and paths, occupancy cells inside their lanes, the
// number of cars constant, never two conflicting approaches green at once, never two cars in
// one cell of a lane or junction path, no car entering a junction against its light, and
// every car moving on between a road and a junction within a bounded number of steps.

#include "streams/VehicleManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "SimMaps.h"

namespace {

constexpr int32_t kStop = 2, kGo = 3, kTurnOnly = 4;

struct MapCase {
  std::string name;
  mapgen::MapSpec plan;
  int cars;
};

// True when some incoming lane of approach k at `node` may drive.
bool Green(const SimData& sim, const INode& node, int k) {
  const RLine& road = sim.lines[node.lines[k]];
  const bool right = node.start[k] != 0;
  const int first = right ? 0 : road.nRight, last = right ? road.nRight : road.nLanes;
  for (int lane = first; lane < last; ++lane) {
    if (road.laneLight[lane] == kGo || road.laneLight[lane] == kTurnOnly) return true;
  }
  return false;
}

// Approaches that cross each other: at four roads one of 0, 1 against one of 2, 3; at three
// roads the side road 0 against the through road.
void ExpectNoConflictingGreens(const SimData& sim) {
  for (size_t n = 0; n < sim.nodes.size(); ++n) {
    const INode& node = sim.nodes[n];
    if (node.lines.size() == 4) {
      const bool a = Green(sim, node, 0) || Green(sim, node, 1);
      const bool b = Green(sim, node, 2) || Green(sim, node, 3);
      ASSERT_FALSE(a && b) << "node " << n;
    } else if (node.lines.size() == 3) {
      ASSERT_FALSE(Green(sim, node, 0) && (Green(sim, node, 1) || Green(sim, node, 2)))
          << "node " << n;
    }
  }
}

void ExpectCarSound(const SimData& sim, const Vehicle& car, size_t i) {
  SCOPED_TRACE("car " + std::to_string(i));
  for (float v : {car.x, car.y, car.dist, car.speed, car.lcProgress, car.calm}) {
    ASSERT_TRUE(std::isfinite(v));
  }
  ASSERT_GE(car.road, 0);
  ASSERT_LT(size_t(car.road), sim.lines.size());
  const RLine& road = sim.lines[car.road];
  ASSERT_GE(car.lane, 0);
  ASSERT_LT(car.lane, road.nLanes);
  ASSERT_GE(car.calm, 0.0f);
  ASSERT_LE(car.calm, 1.0f);
  ASSERT_GT(car.speed, -0.1f);  // only the light rule may leave a slightly negative speed
  ASSERT_LT(car.speed, 10.1f);
  if (car.inIntersection) {
    const INode& node = sim.nodes[car.node];
    ASSERT_LT(size_t(car.path), node.pathLen.size());
  } else if (car.cell >= 0) {
    ASSERT_LT(car.cell, SimData::kCarCells);
  }
}

// Every nonzero occupancy cell names a car on that lane.
void ExpectCellsMatchCars(const SimData& sim, const std::vector<Vehicle>& cars) {
  for (size_t r = 0; r < sim.lines.size(); ++r) {
    const RLine& road = sim.lines[r];
    ASSERT_EQ(road.carMap.size(), size_t(road.nLanes));
    for (int lane = 0; lane < road.nLanes; ++lane) {
      ASSERT_EQ(road.carMap[lane].size(), size_t(SimData::kCarCells));
      for (int c = 0; c < SimData::kCarCells; ++c) {
        const uint32_t id = road.carMap[lane][c];
        if (id == 0) continue;
        ASSERT_LE(id, cars.size());
        const Vehicle& car = cars[id - 1];
        ASSERT_EQ(car.cell, c);
        // The car may have moved on since the cells were filled, but not to another road
        // unless it passed a junction on the way.
        if (!car.inIntersection && car.needNextRoad == 0) {
          ASSERT_EQ(car.road, int(r));
        }
      }
    }
  }
}

// No two cars in one cell of a lane or junction path, cells computed from the cars'
// distances.
void ExpectNoSharedCell(const SimData& sim, const std::vector<Vehicle>& cars) {
  std::unordered_map<int64_t, size_t> owner;
  for (size_t i = 0; i < cars.size(); ++i) {
    const Vehicle& car = cars[i];
    const bool path = car.inIntersection != 0;
    const float length = path ? sim.nodes[car.node].pathLen[car.path]
                              : sim.lines[car.road].laneLen[car.lane];
    const int64_t strip = path ? (int64_t(car.node) << 20) + car.path
                               : -((int64_t(car.road) << 20) + car.lane) - 1;
    const int64_t key = strip * SimData::kCarCells + VehicleManager::CellOf(car.dist, length);
    const auto [it, added] = owner.emplace(key, i);
    ASSERT_TRUE(added) << "cars " << it->second << " and " << i << (path ? " on path " : " on lane ")
                       << (path ? car.path : car.lane) << " of " << (path ? car.node : car.road)
                       << " at " << car.dist << " and " << cars[it->second].dist;
  }
}

// A car that entered its junction path during the step had lights that let it go, on its
// lane and on the lane its path starts from. Steps in which a phase changed are left out:
// the car may have entered before the change.
void ExpectNoEntryOnRed(const SimData& sim, const Vehicle& car, bool wasInJunction) {
  if (wasInJunction || !car.inIntersection) return;
  for (int32_t lane : {car.lane, car.targetLane}) {
    const int32_t code = sim.lines[car.road].laneLight[lane];
    ASSERT_FALSE(code == kStop || (code == kTurnOnly && car.turn == 'S'))
        << "entered node " << car.node << " from road " << car.road << " lane " << car.lane
        << " on code " << code << " of lane " << lane << " turning " << car.turn;
  }
}

class VehicleInvariantTest : public ::testing::TestWithParam<int> {};

std::vector<MapCase> Cases() {
  return {{"grid", mapgen::Grid(4, 3, 2), 80},     {"demo", mapgen::Demo(), 1000},
          {"tee", mapgen::Tee(3), 1000},            {"crossing", mapgen::Crossing(1), 1000},
          {"corridor", mapgen::Corridor(3, 1), 20}, {"bends", mapgen::Grid(2, 2, 3), 40}};
}

TEST_P(VehicleInvariantTest, ManyStepsKeepEveryInvariant) {
  const MapCase c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
  testsupport::TempDir dir;
  SimData sim;
  testsupport::LoadMap(c.plan, dir, sim);
  VehicleManager manager(sim);
  ASSERT_TRUE(manager.Init(c.cars));
  ASSERT_EQ(manager.nbCars, std::min(c.cars, VehicleManager::CarRoom(sim)));

  std::mt19937 random(GetParam() + 17);
  std::uniform_real_distribution<float> step(0.0f, 1.5f);
  // Queues discharge slowly (a stopped car waits until the car ahead is out of its
  // look-ahead) but never stall. The tee and the crossing carry 150 cars, enough for queues
  // to back up through their junctions and dead ends. The longest waits are the demo map's,
  // near 2100 steps: at its crossings of single-lane roads, which have no left-turn phase, a
  // left-turner yields to a steady oncoming stream until the phase changes, so one goes per
  // phase and the queue behind it moves as slowly; it still moves, so kMaxWait stays well
  // below kSteps and a junction that locks up still fails.
  constexpr int kSteps = 5000, kMaxWait = 3000;
  const size_t cars = manager.vehicles.size();
  std::vector<int> lastMove(cars, 0);
  std::vector<int32_t> lastState(cars, 0);
  for (int s = 1; s <= kSteps; ++s) {
    const int32_t phases = manager.phase4 * 2 + manager.phase2;
    manager.Step(step(random));
    const bool phaseChanged = phases != manager.phase4 * 2 + manager.phase2;
    ASSERT_EQ(manager.vehicles.size(), cars);
    ASSERT_NO_FATAL_FAILURE(ExpectNoConflictingGreens(sim));
    ASSERT_NO_FATAL_FAILURE(ExpectNoSharedCell(sim, manager.vehicles));
    if (s % 50 == 0) {
      ASSERT_NO_FATAL_FAILURE(ExpectCellsMatchCars(sim, manager.vehicles));
    }
    for (size_t i = 0; i < manager.vehicles.size(); ++i) {
      const Vehicle& car = manager.vehicles[i];
      ASSERT_NO_FATAL_FAILURE(ExpectCarSound(sim, car, i));
      if (!phaseChanged) {
        ASSERT_NO_FATAL_FAILURE(ExpectNoEntryOnRed(sim, car, lastState[i]));
      }
      if (car.inIntersection != lastState[i]) {
        lastState[i] = car.inIntersection;
        lastMove[i] = s;
      }
      ASSERT_LT(s - lastMove[i], kMaxWait)
          << "car " << i << " stuck on road " << car.road << " lane " << car.lane << " dist "
          << car.dist << " speed " << car.speed << " target " << car.targetLane << " turn "
          << car.turn << " lc " << car.lcProgress << " cell " << car.cell << " light "
          << sim.lines[car.road].laneLight[car.lane] << " inInt " << car.inIntersection
          << " node " << car.node << " approach " << car.approach;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Maps, VehicleInvariantTest, ::testing::Range(0, int(Cases().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return Cases()[info.param].name;
                         });

TEST(VehicleManagerTest, InitPlacesAtLeastOneCarAndAtMostTheBound) {
  testsupport::TempDir dir;
  SimData sim;
  testsupport::LoadMap(mapgen::Corridor(2, 2), dir, sim);
  for (int64_t n : {int64_t(0), int64_t(-5)}) {
    VehicleManager manager(sim);
    ASSERT_TRUE(manager.Init(n));
    EXPECT_EQ(manager.nbCars, 1);
    ASSERT_EQ(manager.vehicles.size(), 1u);
    const Vehicle& car = manager.vehicles[0];
    EXPECT_EQ(car.lane, 0);
    EXPECT_EQ(car.needNextRoad, 1);
    EXPECT_EQ(car.lcProgress, -1);
    EXPECT_GE(car.dist, 0);
    EXPECT_LE(car.dist, sim.lines[car.road].laneLen[0]);
  }
  // One long road: room for more cars than its lane 0 has cells, and each still gets its own.
  SimData road;
  testsupport::LoadMap(mapgen::Corridor(1, 1, 20000.0f), dir, road, "long.cmap");
  VehicleManager crowded(road);
  ASSERT_TRUE(crowded.Init(100000));
  ASSERT_EQ(crowded.nbCars, SimData::kCarCells);
  std::vector<bool> taken(SimData::kCarCells, false);
  for (const Vehicle& car : crowded.vehicles) {
    const int32_t cell = VehicleManager::CellOf(car.dist, road.lines[car.road].laneLen[0]);
    ASSERT_FALSE(taken[cell]) << "cell " << cell;
    taken[cell] = true;
  }
  EXPECT_EQ(VehicleManager::CarCount(int64_t(1) << 40), VehicleManager::kMaxCars);
  EXPECT_EQ(VehicleManager::CarCount(VehicleManager::kMaxCars + 1), VehicleManager::kMaxCars);
  EXPECT_EQ(VehicleManager::CarCount(INT64_MIN), 1);
  EXPECT_EQ(VehicleManager::CarCount(70), 70);
}

TEST(VehicleManagerTest, InitRefusesAnEmptyNetwork) {
  SimData sim;
  VehicleManager manager(sim);
  EXPECT_FALSE(manager.Init(10));
  EXPECT_TRUE(manager.vehicles.empty());
}

TEST(VehicleManagerTest, CarParametersFollowCalm) {
  SimData sim;
  VehicleManager manager(sim);
  Vehicle fast, calm;
  fast.calm = 0;
  calm.calm = 1;
  EXPECT_FLOAT_EQ(manager.Look(fast), 7.0f);
  EXPECT_FLOAT_EQ(manager.Cruise(fast), 6.0f);
  EXPECT_FLOAT_EQ(manager.Acc(fast), 0.06f);
  EXPECT_FLOAT_EQ(manager.Look(calm), 25.0f);
  EXPECT_FLOAT_EQ(manager.Cruise(calm), 3.0f);
  EXPECT_FLOAT_EQ(manager.Acc(calm), 0.04f);
}

TEST(VehicleManagerTest, TurnLettersAndIndexes) {
  SimData sim;
  VehicleManager manager(sim);
  EXPECT_EQ(manager.GetTurnType(1, 0, 0), 'U');
  EXPECT_EQ(manager.GetTurnType(2, 0, 1), 'S');
  EXPECT_EQ(manager.GetTurnType(3, 0, 1), 'R');
  EXPECT_EQ(manager.GetTurnType(3, 0, 2), 'L');
  EXPECT_EQ(manager.GetTurnType(3, 1, 2), 'S');
  EXPECT_EQ(manager.GetTurnType(4, 0, 2), 'R');
  EXPECT_EQ(manager.GetTurnType(4, 0, 3), 'L');
  EXPECT_EQ(manager.GetTurnType(4, 3, 1), 'L');
  EXPECT_EQ(manager.GetTurnType(4, 2, 2), 'U');
  EXPECT_EQ(manager.GetTurnType(5, 0, 1), 'S');
  EXPECT_EQ(VehicleManager::IndexFromPerc(0, 3), 0);
  EXPECT_EQ(VehicleManager::IndexFromPerc(0.5f, 3), 1);
  EXPECT_EQ(VehicleManager::IndexFromPerc(1.0f, 3), 2);
}

TEST(VehicleManagerTest, OccupancyCellsStayInsideTheLane) {
  EXPECT_EQ(VehicleManager::CellOf(-0.5f, 100), 0);
  EXPECT_EQ(VehicleManager::CellOf(0, 100), 0);
  EXPECT_EQ(VehicleManager::CellOf(50, 100), 500);
  EXPECT_EQ(VehicleManager::CellOf(99.99f, 100), 999);
  EXPECT_EQ(VehicleManager::CellOf(250, 100), 999);
  EXPECT_EQ(VehicleManager::CellOf(std::nanf(""), 100), 0);
  EXPECT_EQ(VehicleManager::CellOf(1e30f, 1e-30f), 999);
  EXPECT_EQ(VehicleManager::CellSpan(20, 100), 200);
  EXPECT_EQ(VehicleManager::CellSpan(20, 0.001f), SimData::kCarCells);
  EXPECT_EQ(VehicleManager::CellSpan(-1, 100), 0);
}

TEST(VehicleManagerTest, OneLongStepAdvancesBothClocks) {
  testsupport::TempDir dir;
  SimData sim;
  testsupport::LoadMap(mapgen::Crossing(2), dir, sim);
  VehicleManager manager(sim);
  manager.UpdateTrafficLights(31);
  EXPECT_EQ(manager.lightsChanged, 1);
  EXPECT_EQ(manager.phase2, 1);
  EXPECT_EQ(manager.phase4, 1);
  EXPECT_FLOAT_EQ(manager.timer4, 1);
  EXPECT_FLOAT_EQ(manager.timer2, 1);
  manager.UpdateTrafficLights(1);
  EXPECT_EQ(manager.lightsChanged, 0);
}

// The four-phase cycle at a crossing of two-lane roads: group A (approaches 0, 1) goes, then
// turns left from lane 0 only, then group B goes, then turns left.
TEST(VehicleManagerTest, FourRoadCycle) {
  testsupport::TempDir dir;
  SimData sim;
  testsupport::LoadMap(mapgen::Crossing(2), dir, sim);
  VehicleManager manager(sim);
  const INode& node = sim.nodes[0];
  ASSERT_EQ(node.lines.size(), 4u);
  auto codes = [&](int k) {
    const RLine& road = sim.lines[node.lines[k]];
    const int first = node.start[k] ? 0 : road.nRight;
    return std::vector<int32_t>{road.laneLight[first], road.laneLight[first + 1]};
  };
  using Codes = std::vector<int32_t>;
  manager.UpdateTrafficLights(1);
  EXPECT_EQ(codes(0), (Codes{3, 3}));
  EXPECT_EQ(codes(2), (Codes{2, 2}));
  manager.UpdateTrafficLights(30);
  EXPECT_EQ(codes(1), (Codes{4, 2}));
  EXPECT_EQ(codes(3), (Codes{2, 2}));
  manager.UpdateTrafficLights(30);
  EXPECT_EQ(codes(0), (Codes{2, 2}));
  EXPECT_EQ(codes(3), (Codes{3, 3}));
  manager.UpdateTrafficLights(30);
  EXPECT_EQ(codes(1), (Codes{2, 2}));
  EXPECT_EQ(codes(2), (Codes{4, 2}));
  manager.UpdateTrafficLights(30);
  EXPECT_EQ(manager.phase4, 0);
  EXPECT_EQ(codes(0), (Codes{3, 3}));
}

// With single-lane roads there is no left-turn phase: it is skipped as soon as it begins.
TEST(VehicleManagerTest, SingleLaneCrossingSkipsTheTurnPhases) {
  testsupport::TempDir dir;
  SimData sim;
  testsupport::LoadMap(mapgen::Crossing(1), dir, sim);
  VehicleManager manager(sim);
  manager.UpdateTrafficLights(31);
  EXPECT_EQ(manager.phase4, 2);
  manager.UpdateTrafficLights(30);
  EXPECT_EQ(manager.phase4, 0);
}

}  // namespace
