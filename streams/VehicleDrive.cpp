// A car's speed decision (DrawVehicle), its move along lane or path, and its position.

#include <algorithm>

#include "foundation/MathLib.h"
#include "foundation/RandLib.h"
#include "streams/VehicleManager.h"

namespace {

constexpr int kCells = SimData::kCarCells;
constexpr int32_t kStop = 2, kTurnOnly = 4;

// The share of a junction path after which a car no longer holds its approach's slot, and
// before which a left-turner still checks for oncoming traffic.
constexpr float kYieldShare = 0.3f;

// Braking is applied per step, whatever its length: alone it stops a car about where it
// began to brake, up to a look-ahead short of the car ahead, so at short steps queues stay
// loose, drain slowly and lock up a small network. So a car braking for the car ahead keeps
// the speed its room allows (RoomSpeed), cruise speed times the share of its look-ahead
// that lies beyond kQueueGap: it closes up to kQueueGap behind a stopped car and follows a
// leaving one at once.
constexpr float kQueueGap = VehicleManager::kQueueGap;

float RoomSpeed(float gap, float look, float cruise) {
  return cruise * std::clamp((gap - kQueueGap) / look, 0.0f, 1.0f);
}

void Brake(Vehicle& car, float gap, float look) {
  car.speed -= car.speed * MLib::MSharpIn(1 - gap / look);
}

// Whether light `code` stops a car making turn `turn`.
bool MustStop(int32_t code, char turn) {
  return code == kStop || (code == kTurnOnly && turn == 'S');
}

}  // namespace

void VehicleManager::DrawVehicle(Vehicle& car) {
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

void VehicleManager::PlaceVehicles() {
  for (Vehicle& car : vehicles) {
    if (car.road >= 0) Place(car);
  }
}

void VehicleManager::JunctionRules(Vehicle& car) {
  const float cruise = Cruise(car);
  if (lightsChanged == 1 || car.go == 1) {  // released: drive on, whatever waits
    car.go = 1;
    car.speed = std::min(car.speed + cruiseFast * 0.5f, cruiseFast);
  } else if (LeftTurnMustYield(car)) {  // until the phase changes
    car.speed = std::max(car.speed - cruise * 0.3f, 0.0f);
  } else {
    if (car.speed < cruise) {
      car.speed = cruise * MLib::MSharpIn(std::min(car.speed / cruise, 1.0f) + Acc(car) * 1.5f);
    }
    car.carAhead = 0;
  }
  KeepDistance(car);
}

void VehicleManager::KeepDistance(Vehicle& car) {
  const float look = Look(car);
  const Ahead ahead = LookAhead(car, look);
  if (!ahead.found || ahead.gap >= look) return;
  Brake(car, ahead.gap, look);
  car.speed = std::max(car.speed, RoomSpeed(ahead.gap, look, Cruise(car)));
  car.carAhead = 1;
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
  // Only an oncoming car that may go on makes the left-turner yield: one held by its light,
  // or waiting for room beyond the junction, would hold it for as long as it waits.
  const uint32_t straight = node.slotS[o];
  if (straight != 0 && straight <= vehicles.size() && RoomToClear(vehicles[straight - 1])) {
    return true;
  }
  const RLine& opposite = sim.lines[node.lines[o]];
  const bool right = node.start[o] == 1;
  const int first = right ? 0 : opposite.nRight;
  const int last = right ? opposite.nRight : opposite.nLanes;
  // Of an oncoming lane only its first car may cross the car's path next.
  for (int lane = first; lane < last; ++lane) {
    const int span = CellSpan(oncomingGap, opposite.laneLen[lane]);
    const Vehicle* other = LastCarIn(opposite, lane, kCells - 1 - span, kCells - 1);
    if (other != nullptr && !MustStop(opposite.laneLight[lane], other->turn) &&
        RoomToClear(*other)) {
      return true;
    }
  }
  return false;
}

void VehicleManager::RoadRules(Vehicle& car) {
  Reroute(car);
  const RLine& road = sim.lines[car.road];
  const float laneLen = road.carBits[car.lane].length;
  const float look = Look(car), cruise = Cruise(car);
  bool braking = false;
  float roomSpeed = 0;  // applied last, unless a light stops the car

  // Keep the distance to the car ahead on the lane, or at the start of the path.
  const Ahead ahead = LookAhead(car, look);
  if (ahead.found) {
    if (ahead.gap < look) {
      Brake(car, ahead.gap, look);
      roomSpeed = RoomSpeed(ahead.gap, look, cruise);
      braking = true;
    }
    car.speed = std::max(car.speed, 0.0f);
    car.carAhead = 1;
  }

  // Stop for the light at the lane end. A car still changing lanes also stops for the
  // light of the lane its path starts from: it may complete the change at the last moment,
  // or enter that path from the wrong lane.
  const int32_t code = road.laneLight[car.lane];
  const float rem = (1 - float(car.cell) * 0.001f) * laneLen;
  const bool changing = car.targetLane >= 0 && car.targetLane < road.nLanes &&
                        car.lane != car.targetLane;
  if (MustStop(code, car.turn) ||
      (changing && MustStop(road.laneLight[car.targetLane], car.turn))) {
    if (rem < look) {
      Brake(car, rem, look);
      braking = true;
      roomSpeed = 0;
      car.carAhead = 1;
      if (car.lane == car.targetLane) return;
    }
  }

  // A car waiting for a gap to change lanes still closes up behind the car ahead, or it
  // could wait at the lane end for ever while the cars of its target lane take its path.
  if (changing) ChangeLane(car, cruise);
  if (braking) {
    car.speed = std::max(car.speed, roomSpeed);
    return;
  }

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

void VehicleManager::Reroute(Vehicle& car) {
  constexpr float kStopped = 0.01f;
  if (car.speed >= kStopped || car.needNextRoad != 0) return;  // most cars: at once
  const int32_t code = sim.lines[car.road].laneLight[car.lane];
  if (MustStop(code, car.turn)) return;
  if (CarAheadOnLane(car) || (car.lane == car.targetLane && RoomToClear(car))) return;
  const INode& node = sim.nodes[car.node];
  const auto turnTo = [&](int j) {
    const int to = RoadToLocalInd(car.node, node.pathRoad[car.approach][j]);
    return GetTurnType(int(node.lines.size()), car.approach, to);
  };
  std::vector<int> open;
  Vehicle other = car;  // the car as it would be on each other path
  for (int j = 0; j < int(node.pathIdx[car.approach].size()); ++j) {
    if (node.pathSrcLane[car.approach][j] != car.lane) continue;
    TakePath(other, j, turnTo(j));
    if (other.path != car.path && !MustStop(code, other.turn) && RoomToClear(other)) {
      open.push_back(j);
    }
  }
  if (open.empty()) return;
  const int j = RLib::RAND_Choice(open);
  TakePath(car, j, turnTo(j));
  car.lcProgress = -1;  // the path starts from the lane the car is on
}

void VehicleManager::ChangeLane(Vehicle& car, float cruise) {
  const RLine& road = sim.lines[car.road];
  const int from = car.lane > car.targetLane ? car.targetLane : car.lane + 1;
  const int to = car.lane > car.targetLane ? car.lane - 1 : car.targetLane;
  // The window is centred on the car's own cell of each lane: lanes differ in length.
  for (int lane = from; lane <= to; ++lane) {
    const int w = CellSpan(laneChangeGap, road.laneLen[lane]);
    const int at = CellOf(car.dist, road.laneLen[lane]);
    if (Occupied(road, lane, at - w, at + w)) {
      car.speed = std::max(car.speed - cruise * 0.1f, 0.0f);
      return;
    }
  }
  const float progress = std::max(car.lcProgress, 0.0f);
  car.lcProgress = progress + Acc(car) * 0.3f * MLib::MSharpIn(progress) + 0.05f;
  if (car.lcProgress >= 1) {
    const uint32_t id = IdOf(car);
    Unmark(StripOf(car), car.cell, id);
    car.lane = car.targetLane;
    car.lcProgress = -1;
    car.cell = CellOf(car.dist, road.laneLen[car.lane]);
    Mark(StripOf(car), car.cell, id);
  }
}

void VehicleManager::Move(Vehicle& car, float dt) {
  float advance = std::max(car.speed, 0.0f) * dt;  // a car never rolls back
  if (!(advance > 0)) return;
  const StripRef from = StripOf(car);
  const float length = LengthOf(from);
  // Stop kMinSpacing short of the first taken cell ahead: from the start of the car's cell.
  const float offset = car.dist - float(CellOf(car.dist, length)) / float(kCells) * length;
  const Ahead ahead = LookAhead(car, advance + kMinSpacing + offset);
  if (ahead.found) advance = std::min(advance, std::max(ahead.gap - kMinSpacing - offset, 0.0f));
  car.dist += advance;
  if (car.dist > length) {
    // Not past the end of the next strip either: the look-ahead went no further.
    car.dist -= length;
    if (car.inIntersection) {
      car.inIntersection = 0;
      car.road = car.nextRoad;
      car.lane = car.nextLane;
      car.needNextRoad = 1;
    } else {
      car.inIntersection = 1;
    }
    car.dist = std::min(car.dist, LengthOf(StripOf(car)));
  }
  const StripRef to = StripOf(car);
  const int32_t cell = CellOf(car.dist, LengthOf(to));
  if (cell == car.cell && to.path == from.path && to.owner == from.owner &&
      to.strip == from.strip) {
    return;
  }
  const uint32_t id = IdOf(car);
  Unmark(from, car.cell, id);
  car.cell = cell;
  Mark(to, cell, id);
}
