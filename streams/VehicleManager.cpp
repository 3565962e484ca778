// Placing cars, the light clocks, the occupancy cells and the route choice.

#include "streams/VehicleManager.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "foundation/MathLib.h"
#include "foundation/RandLib.h"

namespace {

constexpr int kCells = SimData::kCarCells;

// Incoming lanes of approach k: the road's right lanes when it ends at the node.
int IncomingCount(const RLine& road, int32_t atEnd) {
  return atEnd ? road.nRight : road.nLanes - road.nRight;
}
int IncomingGlobal(const RLine& road, int32_t atEnd, int i) {
  return atEnd ? i : road.nRight + i;
}

}  // namespace

VehicleManager::VehicleManager(SimData& network) : sim(network) {}

int32_t VehicleManager::CarCount(int64_t n) {
  return int32_t(std::clamp<int64_t>(n, 1, kMaxCars));
}

int32_t VehicleManager::CarRoom(const SimData& network) {
  double length = 0;
  for (const RLine& road : network.lines) {
    for (float lane : road.laneLen) length += lane;
  }
  // Cars start on lane 0 of their road, each in a cell of its own.
  const double cells = double(kCells) * double(network.lines.size());
  return int32_t(std::clamp(std::min(length / double(kCarRoom), cells), 1.0, double(kMaxCars)));
}

bool VehicleManager::Init(int64_t n) {
  if (sim.lines.empty()) return false;
  for (const RLine& road : sim.lines) {
    if (road.nLanes < 1 || road.laneLen.empty() || road.carMap.size() != road.laneLen.size()) {
      return false;
    }
  }
  const int32_t count = std::min(CarCount(n), CarRoom(sim));
  vehicles.reserve(vehicles.size() + size_t(count));
  // Every car gets a cell of its own: a second car in one would drive inside the first, and
  // the cells are kept on the understanding that each holds one car. A distance whose cell
  // is taken is drawn again a few times; then the car takes the next free cell on.
  std::unordered_set<int64_t> taken;  // road * kCells + cell, on lane 0
  for (const Vehicle& car : vehicles) {
    if (car.road >= 0 && !car.inIntersection && car.lane == 0) {
      taken.insert(int64_t(car.road) * kCells + CellOf(car.dist, sim.lines[car.road].laneLen[0]));
    }
  }
  constexpr int kDraws = 20;
  for (int32_t i = 0; i < count; ++i) {
    Vehicle car;
    car.road = RLib::RAND_GetRandIntFromRange(0, int(sim.lines.size()) - 1);
    const float length = sim.lines[car.road].laneLen[0];
    bool placed = false;
    for (int draw = 0; draw < kDraws && !placed; ++draw) {
      car.dist = RLib::RAND_GetRandFloatFromRange(0, length);
      placed = taken.insert(int64_t(car.road) * kCells + CellOf(car.dist, length)).second;
    }
    if (!placed) TakeFreeCell(car, taken);
    car.calm = RLib::RAND_GetPerc();
    vehicles.push_back(car);
  }
  nbCars = int32_t(vehicles.size());
  lightsWritten_ = false;
  return true;
}

void VehicleManager::TakeFreeCell(Vehicle& car, std::unordered_set<int64_t>& taken) const {
  const int32_t roads = int32_t(sim.lines.size());
  const int32_t from = CellOf(car.dist, sim.lines[car.road].laneLen[0]);
  for (int64_t k = 0; k < int64_t(roads) * kCells; ++k) {
    const int32_t road = int32_t((car.road + (from + k) / kCells) % roads);
    const int32_t cell = int32_t((from + k) % kCells);
    if (taken.insert(int64_t(road) * kCells + cell).second) {
      car.road = road;
      car.dist = (float(cell) + 0.5f) / float(kCells) * sim.lines[road].laneLen[0];
      return;
    }
  }
}

void VehicleManager::Step(float dt) {
  constexpr float kMostSubSteps = 1000;
  const float parts =
      dt > kMaxSubStep ? std::min(std::ceil(dt / kMaxSubStep), kMostSubSteps) : 1.0f;
  for (int i = 0; i < int(parts); ++i) SubStep(dt / parts);
}

void VehicleManager::SubStep(float dt) {
  UpdateTrafficLights(dt);
  if (filledCars_ != vehicles.size()) {
    FillCarMap();
  } else {
    SetSlots();
  }
  // The slots of the next sub-step: each car's after its own move, which nothing else
  // changes, so no second pass over the cars is needed.
  nextSlotCars_.clear();
  for (size_t i = 0; i < vehicles.size(); ++i) {
    Vehicle& car = vehicles[i];
    if (car.road < 0) continue;
    if (car.needNextRoad == 1) {
      GetNextRoad(car);
      car.needNextRoad = 0;
      if (car.road < 0) continue;  // no path leaves its approach
    }
    DrawVehicle(car);
    Move(car, dt);
    if (HoldsSlot(car)) nextSlotCars_.push_back(uint32_t(i + 1));
  }
  slotCars_.swap(nextSlotCars_);
}

// ---- Lights ----

void VehicleManager::UpdateTrafficLights(float dt) {
  lightsChanged = 0;
  timer4 += dt;
  timer2 += dt;
  if (timer4 > kPhaseLength) {
    lightsChanged = 1;
    phase4 = (phase4 + 1) % 4;
    timer4 -= kPhaseLength;
  }
  if (timer2 > kPhaseLength) {
    phase2 = (phase2 + 1) % 2;
    timer2 -= kPhaseLength;
    lightsChanged = 1;
  }
  // Codes change only with a phase; the skip rules act only on a phase just begun.
  if (lightsChanged == 1 || !lightsWritten_) WriteLightCodes();
}

void VehicleManager::WriteLightCodes() {
  const int32_t phase = phase4;
  for (INode& node : sim.nodes) {
    const int roads = int(node.lines.size());
    for (int k = 0; k < roads; ++k) {
      if (roads == 4) SkipPhase(node);
      RLine& road = sim.lines[node.lines[k]];
      const int nIn = IncomingCount(road, node.start[k]);
      const std::vector<LaneOptions>* opts = size_t(k) < node.laneOpts.size() ? &node.laneOpts[k]
                                                                              : nullptr;
      for (int i = 0; i < nIn; ++i) {
        const bool noMove = opts && size_t(i) < opts->size() && (*opts)[i].noMove == 1;
        road.laneLight[IncomingGlobal(road, node.start[k], i)] =
            noMove ? 0 : LaneCode(roads, k, i, nIn);
      }
    }
  }
  // A phase skipped on the way left the nodes before the skip on the old phase: the next
  // step writes them all again.
  lightsWritten_ = phase4 == phase;
}

void VehicleManager::SkipPhase(const INode& node) {
  if (phase4 == 1 && node.flags[1] == 1) phase4 = 2;
  if (phase4 == 3 && node.flags[3] == 1) phase4 = 0;
}

int32_t VehicleManager::LaneCode(int roads, int k, int lane, int nIn) const {
  constexpr int32_t kNoLight = 1, kStop = 2, kGo = 3, kTurnOnly = 4;
  switch (roads) {
    case 2:
      return phase2 == 0 ? kStop : kGo;
    case 3:
      return (k == 0) == (phase2 == 0) ? kStop : kGo;
    case 4: {
      const bool groupA = k < 2;
      switch (phase4) {
        case 0: return groupA ? kGo : kStop;
        case 2: return groupA ? kStop : kGo;
        default: {  // 1: left turns of group A, 3: of group B
          const bool turning = groupA == (phase4 == 1);
          return turning && lane == 0 && nIn > 1 ? kTurnOnly : kStop;
        }
      }
    }
    default:
      return kNoLight;
  }
}

// ---- Route choice ----

char VehicleManager::GetTurnType(int roads, int from, int to) const {
  if (roads < 2) return 'U';
  const bool inRange = from >= 0 && to >= 0 && from < roads && to < roads;
  if (roads == 3 && inRange) return turns3[from][to];
  if (roads == 4 && inRange) return turns4[from][to];
  return 'S';
}

int VehicleManager::IndexFromPerc(float p, int n) {
  return int(float(n) * (p * 0.9999999f));
}

int VehicleManager::LocalIndToRoad(int node, int i) const {
  const std::vector<int32_t>& lines = sim.nodes[node].lines;
  return i >= 0 && size_t(i) < lines.size() ? lines[i] : 0;
}

int VehicleManager::RoadToLocalInd(int node, int road) const {
  const std::vector<int32_t>& lines = sim.nodes[node].lines;
  const auto it = std::find(lines.begin(), lines.end(), road);
  return it == lines.end() ? 0 : int(it - lines.begin());
}

std::vector<int> VehicleManager::RouteChoices(const INode& node, int approach) const {
  const std::vector<int32_t>& reach = node.pathRoad[approach];
  auto reachable = [&](int j) {
    return std::find(reach.begin(), reach.end(), node.lines[j]) != reach.end();
  };
  std::vector<int> choices;
  for (int j = 0; j < int(node.lines.size()); ++j) {
    if (j != approach && reachable(j)) choices.push_back(j);
  }
  // A dead end, or a junction whose only path turns back.
  if (choices.empty() && reachable(approach)) choices.push_back(approach);
  return choices;
}

void VehicleManager::GetNextRoad(Vehicle& car) {
  const RLine& road = sim.lines[car.road];
  car.node = road.laneSide[car.lane] == 0 ? road.end : road.start;
  const INode& node = sim.nodes[car.node];
  car.approach = 0;
  for (int j = int(node.lines.size()) - 1; j >= 0; --j) {
    if (node.lines[j] == car.road) {
      car.approach = j;
      break;
    }
  }
  const std::vector<int> choices =
      size_t(car.approach) < node.pathRoad.size() ? RouteChoices(node, car.approach)
                                                  : std::vector<int>();
  if (choices.empty()) {  // no path leaves this approach: the car cannot go on
    Unmark(StripOf(car), car.cell, IdOf(car));
    car.road = -1;
    return;
  }
  const int choice = RLib::RAND_Choice(choices);
  std::vector<int> candidates;
  const std::vector<int32_t>& reach = node.pathRoad[car.approach];
  for (int j = 0; j < int(reach.size()); ++j) {
    if (reach[j] == node.lines[choice]) candidates.push_back(j);
  }
  const int pick = std::min(IndexFromPerc(car.calm, int(candidates.size())),
                            int(candidates.size()) - 1);
  TakePath(car, candidates[pick], GetTurnType(int(node.lines.size()), car.approach, choice));
}

void VehicleManager::TakePath(Vehicle& car, int j, char turn) const {
  const INode& node = sim.nodes[car.node];
  car.turn = turn;
  car.nextRoad = node.pathRoad[car.approach][j];
  car.path = node.pathIdx[car.approach][j];
  car.nextLane = node.pathDestLane[car.approach][j];
  car.targetLane = node.pathSrcLane[car.approach][j];
  car.go = 0;
}
