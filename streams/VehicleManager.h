#pragma once

// VehicleManager: the cars of the traffic simulation and the clocks of its traffic lights.
//
// Built over a road network (SimData) that is loaded and derived before Init. One simulation
// step (Step) advances the light clocks and writes the lane light codes when a phase changed,
// rebuilds the junction slots, then for every active car chooses its route when one is due
// (GetNextRoad), decides its speed (DrawVehicle) and moves it (Move).
// Cars follow lanes and junction paths, keep their distance by looking at the occupancy
// cells ahead (on into the path or lane they join next), stop for lights, change lanes
// towards the lane their junction path starts from, and cross junctions on the network's
// paths; left-turners yield to oncoming traffic that can clear the junction until the phase
// changes. A car's `calm` in [0, 1] sets its look-ahead, cruise speed and acceleration.
//
// Gridlock: a car held at the head of its lane because the lane beyond is full takes another
// path from its lane (Reroute), and Init places no more cars than the network has room for
// (CarRoom): a fuller network locks up for good.
//
// No two cars share a cell of a lane or junction path: Init gives each car a cell of its
// own, a move never reaches the first taken cell ahead (less kMinSpacing), so a car waits at
// the end of its junction path while the first cells of the lane it joins are taken, and
// each move or completed lane change updates the cells at once, so the cars handled later in
// the same step see it. A car never rolls back, even at a slightly negative speed.
//
// `dt` is simulation time: a light phase lasts kPhaseLength units and speeds are map units per
// unit. Step splits dt into sub-steps of at most kMaxSubStep, since the speed rules of
// DrawVehicle apply once per (sub-)step and a long one lets a car brake too late for a red
// light. Only Move and the clocks use dt.
//
// Positions (x, y) are not part of a step: PlaceVehicles computes them for whoever reads them.
//
// Light codes written into each road's laneLight (per global lane id):
//   0 no path leaves the lane (no stop), 1 no light, 2 stop, 3 go,
//   4 stop unless turning (a car going straight stops; a left-turner does not yield).
//
// The occupancy cells and light codes belong to the manager: a step rebuilds the cells only
// when cars were added since the last FillCarMap and otherwise keeps them current as the
// cars move; light codes are written only when a phase changes. Nothing else may write them
// between steps, and whoever moves cars by hand calls FillCarMap before the next step.
//
// Threading: used by one thread (the simulation's); nothing locks.

#include <array>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "foundation/MathLib.h"
#include "streams/SimData.h"
#include "streams/Vehicle.h"

class VehicleManager {
 public:
  // Upper bound of Init's car count: more would only come from a typing slip.
  static constexpr int32_t kMaxCars = 100000;
  static constexpr float kPhaseLength = 30.0f;
  // Longest sub-step of Step: short enough that the light rule stops every car in time.
  static constexpr float kMaxSubStep = 0.15f;
  // Room a moving car leaves before the first taken cell ahead of it, in map units.
  static constexpr float kMinSpacing = 2.0f;
  // Room a queued car takes up: it closes up to this distance behind the car ahead.
  static constexpr float kQueueGap = kMinSpacing + 1.0f;
  // Lane length per car that a network needs for its queues to keep moving. Queues take
  // kQueueGap a car; near a third of that density a network waits on its narrowest junction
  // (a dead end's single turning path) for many light cycles and then locks up for good,
  // every lane its front cars could enter being full.
  static constexpr float kCarRoom = 8.0f;

  int32_t nbCars = 70;
  float laneChangeGap = 5.0f;   // half-window kept free on each lane a lane change crosses
  float oncomingGap = 20.0f;    // end stretch of oncoming lanes a left-turner keeps free
  float leftTurnReach = 25.0f;  // distance before the lane end to wait for the left slot
  float lookFar = 25.0f;        // look-ahead at calm 1
  float lookNear = 7.0f;        // at calm 0
  float cruiseCalm = 3.0f;      // cruise speed at calm 1
  float cruiseFast = 6.0f;      // at calm 0; also the cap of a released car in a junction
  float accCalm = 0.04f;
  float accFast = 0.06f;
  std::vector<Vehicle> vehicles;  // a car's id in cells and slots is its position + 1
  SimData& sim;                   // not owned; outlives the manager
  float timer4 = 0;               // time in the current four-road phase
  int32_t phase4 = 0;             // 0..3
  float timer2 = 0;               // time in the current two-phase clock phase
  int32_t phase2 = 0;             // 0..1
  int32_t lightsChanged = 0;      // 1 during a step in which a phase advanced
  // Turn letter by [from approach][to approach] at three- and four-road junctions.
  std::array<std::array<char, 3>, 3> turns3{{{'U', 'R', 'L'}, {'L', 'U', 'S'}, {'R', 'S', 'U'}}};
  std::array<std::array<char, 4>, 4> turns4{{{'U', 'S', 'R', 'L'},
                                             {'S', 'U', 'L', 'R'},
                                             {'L', 'R', 'U', 'S'},
                                             {'R', 'L', 'S', 'U'}}};

  explicit VehicleManager(SimData& network);

  // The number of cars Init places for a requested n: n clamped to [1, kMaxCars].
  static int32_t CarCount(int64_t n);
  // The most cars `network` takes, at least 1: one per kCarRoom units of lane, and no more
  // than the cells of its roads' lane 0.
  static int32_t CarRoom(const SimData& network);
  // Places min(CarCount(n), CarRoom(sim)) cars, each on lane 0 of a random road at a random
  // distance with a random calm, each in a cell of its own (while free cells last: a second
  // Init may find none), and sets nbCars to the number of cars. False, placing nothing, when
  // the network has no road or a road has no lane.
  bool Init(int64_t n);

  // One simulation step of length dt, in sub-steps of at most kMaxSubStep (the caller keeps
  // dt finite and small).
  void Step(float dt);

  // Advances both light clocks by dt and, at the first call and whenever a phase advanced,
  // writes every lane's light code.
  void UpdateTrafficLights(float dt);
  // Rebuilds the occupancy cells of all lanes and junction paths and the junction slots from
  // the cars, and each car's `cell`. Costs a pass over every cell word of the network.
  void FillCarMap();
  // Route choice at the car's coming junction: next road, path, and the lanes it joins,
  // chosen only among roads that a path of the car's approach leads to. A car whose
  // approach has no path at all (a network that was not checked) is made inactive (road -1)
  // rather than sent down a path that does not exist.
  void GetNextRoad(Vehicle& car);
  // Speed decision of the car for this step.
  void DrawVehicle(Vehicle& car);
  // Advances the car by speed * dt along its lane or junction path, stopping short of the
  // first taken cell ahead, and moves its occupancy cell along.
  void Move(Vehicle& car, float dt);
  // Sets x, y of the car (of every active car) from its lane or path and distance.
  void Place(Vehicle& car) const;
  void PlaceVehicles();

  // 'U' for fewer than 2 roads, 'S' for 2 or more than 4, else the turn table's letter.
  char GetTurnType(int roads, int from, int to) const;
  // trunc(n * p * 0.9999999): an index in [0, n) for p in [0, 1].
  static int IndexFromPerc(float p, int n);
  // Occupancy cell of distance `dist` on a lane of length `length`: trunc(dist / length *
  // kCarCells), clamped to 0..kCarCells - 1 on both sides (a car that rolled back slightly,
  // or a NaN, gives cell 0).
  static int32_t CellOf(float dist, float length);
  // Number of cells that `span` map units cover on a lane of length `length`, in
  // 0..kCarCells.
  static int32_t CellSpan(float span, float length);
  // The road of approach i (0 when out of range); the first approach of `road` (0 if none).
  int LocalIndToRoad(int node, int i) const;
  int RoadToLocalInd(int node, int road) const;

  // Look-ahead, cruise speed and acceleration of a car.
  float Look(const Vehicle& car) const;
  float Cruise(const Vehicle& car) const;
  float Acc(const Vehicle& car) const;

 private:
  // A lane (owner = road, strip = global lane id) or a junction path (owner = node,
  // strip = path id).
  struct StripRef {
    bool path = false;
    int32_t owner = 0;
    int32_t strip = 0;
  };
  // The first taken cell ahead of a car: `gap` from the start of the car's cell to the
  // start of that cell when `found`.
  struct Ahead {
    bool found = false;
    float gap = 0;
  };
  // Sets the car's route to path j of its approach at its coming junction, with turn letter
  // `turn`.
  void TakePath(Vehicle& car, int j, char turn) const;
  // Cars have no destination: a car held at the head of its lane, stopped while its light
  // lets it go, because the lane its path leads to is full or because it cannot get across
  // to the lane its path starts from, takes another path from the lane it is on, one whose
  // light lets it go and whose lane beyond has room. Queues that wait on each other round a
  // block of streets would otherwise never move again.
  void Reroute(Vehicle& car);
  // Whether a car holds a cell ahead of the car's own on its lane.
  bool CarAheadOnLane(const Vehicle& car) const;
  // Light code of incoming lane `lane` of `nIn` on approach k of a node of `roads` roads,
  // for the current phases.
  int32_t LaneCode(int roads, int k, int lane, int nIn) const;
  // At four-road nodes whose first (or second) group has single-lane roads, the phase that
  // would give that group its left-turn phase moves on at once, for the whole manager.
  void SkipPhase(const INode& node);
  void WriteLightCodes();
  void SubStep(float dt);
  void JunctionRules(Vehicle& car);
  // Brakes a car in a junction for the car ahead on its path or the lane it joins.
  void KeepDistance(Vehicle& car);
  void RoadRules(Vehicle& car);
  // Works the car's lane change towards targetLane on, or slows it while a lane it must
  // cross is taken near it.
  void ChangeLane(Vehicle& car, float cruise);
  bool LeftTurnMustYield(const Vehicle& car) const;
  // Whether lane `lane` of `road` holds a car in cells first..last (clamped).
  bool Occupied(const RLine& road, int lane, int first, int last) const;
  // The car in the last taken cell of first..last (clamped) of lane `lane` of `road`, or
  // null.
  const Vehicle* LastCarIn(const RLine& road, int lane, int first, int last) const;
  // Whether the lane the car's junction path leads to (the one it is on, or the one it
  // joins next) has room at its start for the car and every car ahead of it on the path: a
  // car without it cannot clear the junction, so a left-turner need not yield to it.
  bool RoomToClear(const Vehicle& car) const;
  // The first taken cell after the car's own on its strip, else within `reach` of the start
  // of its cell on the strip it joins next (its path, or the lane its path leads to).
  Ahead LookAhead(const Vehicle& car, float reach) const;
  // The strip the car is on; the one it joins next, false when it has no route yet.
  static StripRef StripOf(const Vehicle& car);
  bool NextStrip(const Vehicle& car, StripRef& next) const;
  CellBits& BitsOf(const StripRef& at) const;
  float LengthOf(const StripRef& at) const;
  // Marks `cell` of `at` as held by car `id`; Unmark frees it. A cell holds one car at most:
  // Init places each car in a free cell, and no move or lane change enters a taken one.
  void Mark(const StripRef& at, int32_t cell, uint32_t id);
  void Unmark(const StripRef& at, int32_t cell, uint32_t id);
  // 1-based id of a car of `vehicles`, 0 for a car held elsewhere.
  uint32_t IdOf(const Vehicle& car) const;
  // The approaches a car arriving on `approach` may leave by: those whose road some path of
  // the approach leads to; empty only when the approach has no path at all.
  std::vector<int> RouteChoices(const INode& node, int approach) const;
  // Moves `car` to the next cell of lane 0 on from its own that `taken` does not hold, road
  // after road, and adds it; leaves the car where it is when there is none.
  void TakeFreeCell(Vehicle& car, std::unordered_set<int64_t>& taken) const;
  void ClearCarMap();
  // Rebuilds the junction slots from the cars on junction paths.
  void FillSlots();
  // Whether the car holds its approach's slot: on a junction path, in the path's first 60%.
  bool HoldsSlot(const Vehicle& car) const;
  // Sets the junction slots of slotCars_, clearing those set before.
  void SetSlots();

  std::vector<int32_t> slotNodes_;  // nodes whose slots SetSlots set
  // Ids of the cars that hold a slot, in `vehicles` order, as of the last FillCarMap or
  // sub-step; the next sub-step's are gathered while it moves the cars.
  std::vector<uint32_t> slotCars_, nextSlotCars_;
  // Cars in `vehicles` at the last FillCarMap: cars added since are not in the cells yet.
  size_t filledCars_ = 0;
  bool lightsWritten_ = false;  // the light codes were written once
};

// Inline: each runs several times for every car in every step.

inline int32_t VehicleManager::CellOf(float dist, float length) {
  const float at = dist / length * float(SimData::kCarCells);
  if (!(at > 0)) return 0;  // also NaN
  if (at >= float(SimData::kCarCells - 1)) return SimData::kCarCells - 1;
  return int32_t(at);
}

inline int32_t VehicleManager::CellSpan(float span, float length) {
  const float cells = span / length * float(SimData::kCarCells);
  if (!(cells > 0)) return 0;
  if (cells >= float(SimData::kCarCells)) return SimData::kCarCells;
  return int32_t(cells);
}

inline VehicleManager::StripRef VehicleManager::StripOf(const Vehicle& car) {
  StripRef at;
  at.path = car.inIntersection != 0;
  at.owner = at.path ? car.node : car.road;
  at.strip = at.path ? car.path : car.lane;
  return at;
}

inline CellBits& VehicleManager::BitsOf(const StripRef& at) const {
  return at.path ? sim.nodes[at.owner].pathBits[at.strip] : sim.lines[at.owner].carBits[at.strip];
}

inline float VehicleManager::LengthOf(const StripRef& at) const { return BitsOf(at).length; }

inline float VehicleManager::Look(const Vehicle& car) const {
  return MLib::MBlendPerc(lookNear, lookFar, car.calm);
}
inline float VehicleManager::Cruise(const Vehicle& car) const {
  return MLib::MBlendPerc(cruiseFast, cruiseCalm, car.calm);
}
inline float VehicleManager::Acc(const Vehicle& car) const {
  return MLib::MBlendPerc(accFast, accCalm, car.calm);
}
