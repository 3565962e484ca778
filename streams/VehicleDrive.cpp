// A car's position and speed decision (DrawVehicle) and its move along lane or path.

#include <algorithm>

#include "foundation/MathLib.h"
#include "streams/VehicleManager.h"

namespace {

constexpr int kCells = SimData::kCarCells;
constexpr int32_t kStop = 2, kTurnOnly = 4;

// The share of a junction path after which a car no longer holds its approach's slot, and
// before which a left-turner still checks for oncoming traffic.
constexpr float kYieldShare = 0.3f;

}  // namespace

void VehicleManager::DrawVehicle(Vehicle& car) {
  Place(car);
  if (car.inIntersection) {
    JunctionRules(car);
  } else {
    RoadRules(car);
  }
}

void VehicleManager::Place(Vehicle& car) const {
  glm::vec2 pos;
  if (car.inIntersection) {
    const INode& node = sim.nodes[car.node];
    pos = RoadPath::Get_PLS_Pos(car.dist, node.pathLen[car.path], node.pathPls[car.path]);
  } else {
    const RLine& road = sim.lines[car.road];
    pos = RoadPath::Get_PLS_Pos(car.dist, road.laneLen[car.lane], road.lanePls[car.lane]);
    if (car.lcProgress >= 0 && car.targetLane >= 0 && car.targetLane < road.nLanes) {
      const glm::vec2 target = RoadPath::Get_PLS_Pos(car.dist, road.laneLen[car.targetLane],
                                                     road.lanePls[car.targetLane]);
      pos = MLib::MBlendPos(pos, target, car.lcProgress);
    }
  }
  car.x = pos.x;
  car.y = pos.y;
}

void VehicleManager::JunctionRules(Vehicle& car) {
  const float cruise = Cruise(car);
  if (lightsChanged == 1 || car.go == 1) {  // released: drive on, whatever waits
    car.go = 1;
    car.speed = std::min(car.speed + cruiseFast * 0.5f, cruiseFast);
    return;
  }
  if (LeftTurnMustYield(car)) {
    car.speed = std::max(car.speed - cruise * 0.3f, 0.0f);
    return;
  }
  if (car.speed < cruise) {
    car.speed = cruise * MLib::MSharpIn(std::min(car.speed / cruise, 1.0f) + Acc(car) * 1.5f);
  }
  car.carAhead = 0;
}

bool VehicleManager::LeftTurnMustYield(const Vehicle& car) const {
  const INode& node = sim.nodes[car.node];
  if (car.turn != 'L' || car.dist / node.pathLen[car.path] >= kYieldShare) return false;
  if (sim.lines[car.road].laneLight[car.lane] == kTurnOnly) return false;
  const int a = RoadToLocalInd(car.node, car.road);
  const int b = RoadToLocalInd(car.node, car.nextRoad);
  int o = -1;  // the approach facing the car's
  if (node.lines.size() == 3) {
    if (a == 1 && b == 0) o = 2;
  } else if (node.lines.size() == 4) {
    if (a == 1 && b == 2) o = 0;
    if (a == 2 && b == 0) o = 3;
    if (a == 0 && b == 3) o = 1;
    if (a == 3 && b == 1) o = 2;
  }
  if (o < 0) return false;
  if (node.slotS[o] != 0) return true;
  const RLine& opposite = sim.lines[node.lines[o]];
  const bool right = node.start[o] == 1;
  const int first = right ? 0 : opposite.nRight;
  const int last = right ? opposite.nRight : opposite.nLanes;
  for (int lane = first; lane < last; ++lane) {
    const int span = CellSpan(oncomingGap, opposite.laneLen[lane]);
    if (Occupied(opposite, lane, kCells - 1 - span, kCells - 1)) return true;
  }
  return false;
}

void VehicleManager::RoadRules(Vehicle& car) {
  const RLine& road = sim.lines[car.road];
  const float laneLen = road.laneLen[car.lane];
  const float look = Look(car), cruise = Cruise(car);
  bool braking = false;

  // Keep the distance to the car ahead on the lane.
  const std::vector<uint32_t>& cells = road.carMap[car.lane];
  for (int c = std::max(car.cell + 1, 0); c < kCells; ++c) {
    if (cells[c] == 0) continue;
    const float gap = float(c - car.cell) * 0.001f * laneLen;
    if (gap < look) {
      car.speed -= car.speed * MLib::MSharpIn(1 - gap / look);
      braking = true;
    }
    car.speed = std::max(car.speed, 0.0f);
    car.carAhead = 1;
    break;
  }

  // Stop for the light at the lane end.
  const int32_t code = road.laneLight[car.lane];
  const float rem = (1 - float(car.cell) * 0.001f) * laneLen;
  if (code == kStop || (code == kTurnOnly && car.turn == 'S')) {
    if (rem < look) {
      car.speed -= car.speed * MLib::MSharpIn(1 - rem / look);
      braking = true;
      car.carAhead = 1;
      if (car.lane == car.targetLane) return;
    }
  }

  if (car.targetLane >= 0 && car.targetLane < road.nLanes && car.lane != car.targetLane) {
    ChangeLane(car, cruise);
  }
  if (braking) return;

  // Wait for the left-turn slot of the approach.
  if (car.turn == 'L' && rem < leftTurnReach && sim.nodes[car.node].slotL[car.approach] != 0) {
    if (code != kTurnOnly) {
      car.speed = std::max(car.speed - cruise * 0.5f, 0.0f);
      return;
    }
    car.speed = std::max(car.speed - cruise * 0.1f, 0.0f);
  }

  if (car.speed < cruise) {
    const float acc = car.carAhead == 1 ? Acc(car) * 0.25f : Acc(car);
    car.speed = cruise * MLib::MSharpIn(std::min(car.speed / cruise, 1.0f) + acc);
  }
  car.carAhead = 0;
}

void VehicleManager::ChangeLane(Vehicle& car, float cruise) {
  const RLine& road = sim.lines[car.road];
  const int from = car.lane > car.targetLane ? car.targetLane : car.lane + 1;
  const int to = car.lane > car.targetLane ? car.lane - 1 : car.targetLane;
  for (int lane = from; lane <= to; ++lane) {
    const int w = CellSpan(laneChangeGap, road.laneLen[lane]);
    if (Occupied(road, lane, car.cell - w, car.cell + w)) {
      car.speed = std::max(car.speed - cruise * 0.1f, 0.0f);
      return;
    }
  }
  const float progress = std::max(car.lcProgress, 0.0f);
  car.lcProgress = progress + Acc(car) * 0.3f * MLib::MSharpIn(progress) + 0.05f;
  if (car.lcProgress >= 1) {
    car.lane = car.targetLane;
    car.lcProgress = -1;
  }
}

void VehicleManager::Move(Vehicle& car, float dt) {
  car.dist += car.speed * dt;
  if (car.inIntersection) {
    const float length = sim.nodes[car.node].pathLen[car.path];
    if (car.dist > length) {
      car.dist -= length;
      car.inIntersection = 0;
      car.road = car.nextRoad;
      car.lane = car.nextLane;
      car.needNextRoad = 1;
    }
  } else {
    const float length = sim.lines[car.road].laneLen[car.lane];
    if (car.dist > length) {
      car.dist -= length;
      car.inIntersection = 1;
    }
  }
}
