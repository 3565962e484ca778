#pragma once

// CarSimStream: the producer of stream type "CARSIM". It runs a car-traffic simulation on a
// road map and keeps two target tables current by overwriting their cells in place: the cars
// (route 0; one row per vehicle: "ID", "Lon", "Lat", "Clr", "Calm", "Speed") and the traffic
// lights (route 1, optional; one row per lane of every road: "LightID" "L<road>_<lane>",
// "State"). It shapes both tables itself, registers them with the client and marks them to
// keep their rows, so every update period sends the whole current picture. Routes after
// the second are not registered.
//
// Keys, from the INPUT of route 0 (JSON strings): "CMAP_PATH" (road map; empty or absent:
// the client's data directory + "CarSimMap.cmap"), "SAMPLE_RATE" (ms between table writes,
// default 5), "NB_CARS" (default 1, clamped to 1..VehicleManager::kMaxCars).
//
// The simulation steps at most once per kStepPeriod and sleeps in between, so a small map
// costs a small share of a core. Each step takes the real time elapsed since the last one on
// the monotonic clock, scaled by kTimeScale and clamped to [0, kMaxTimeStep] (the vehicle
// manager splits a long step into short sub-steps); the tables are written, car positions
// computed, when more than the sample rate has passed since the last write. While paused no
// step is taken, and the paused time is not replayed afterwards.
//
// Threading: Init on the client's thread before Run; Run (Step, WriteTables) on the stream's
// thread, which alone touches the simulation. The cells are written through pointers kept
// from Init, each table under its target's mutex; they stay valid because nothing changes
// the row count of these tables after Init, and Init refuses a target that another route or
// stream registered (another writer could move its cells).

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "service/StreamBase.h"
#include "streams/SimData.h"
#include "streams/VehicleManager.h"

struct RouteDef;
struct TargetData;

class CarSimStream : public virtual StreamBase {
 public:
  using Clock = std::chrono::steady_clock;

  // Simulation time units per millisecond of real time.
  static constexpr float kTimeScale = 0.015f;
  // Longest step (100 ms of real time): a thread that was held up does not move the cars
  // past lanes and junctions in one jump.
  static constexpr float kMaxTimeStep = 1.5f;
  // Shortest time between the starts of two steps.
  static constexpr std::chrono::milliseconds kStepPeriod{2};
  static constexpr int kColours = 55;
  // Colour of vehicle i is kColourList[i % kColours], as 0x00RRGGBB.
  static const std::array<int32_t, kColours> kColourList;
  // "State" of a lane by its light code 0..4.
  static constexpr std::array<int32_t, 5> kLightMap{0, 0, 1, 2, 2};

  CarSimStream(const std::string& name, StreamDef* def);
  ~CarSimStream() override;

  // Reads the keys, registers and shapes the targets, loads the road map and places the
  // cars. True sets ready; false after one log line (a road map that cannot be used is
  // logged by the loader).
  bool Init() override;
  // Starts the console, resets the targets of every route once, then steps until quit.
  void Run() override;
  StreamBase* GetSelf() override;

  // One turn of Run's loop: while paused, waits until resumed or quit and takes no step;
  // otherwise sleeps until kStepPeriod has passed since the last step, takes one step of
  // the real time elapsed since the last, and writes the tables when more than the sample
  // rate has passed since the last write.
  void RunStep();
  // One simulation step of dt time units.
  void Step(float dt);
  // Computes the car positions, writes every vehicle's row and every lane's state through
  // the stored cell pointers, each table under its target's lock, and marks the targets
  // pending.
  void WriteTables();
  // The time step for `elapsed` real time: milliseconds * kTimeScale, clamped to
  // [0, kMaxTimeStep].
  static float TimeStep(Clock::duration elapsed);
  // "L" + road + "_" + lane.
  static std::string LightId(size_t road, size_t lane);

  SimData sim;
  VehicleManager manager{sim};
  Clock::time_point lastStepTime = Clock::now();
  Clock::time_point lastSendTime = Clock::now();
  std::string cmapPath;
  uint64_t sampleRate = 5;  // ms
  int64_t nbCars = 1;       // as configured, before clamping
  TargetData* carsTarget = nullptr;    // route 0; owned by the client
  TargetData* lightsTarget = nullptr;  // route 1; null with one route
  // First cells of "ID", "Lon", "Lat", "Clr", "Calm", "Speed", and of "State".
  std::array<char*, 6> carCells{};
  char* stateCells = nullptr;
  int64_t lightRows = 0;  // rows of the lights table, one per lane

 private:
  bool ReadKeys();
  // Registers the table of `route` around a new empty table; null after a log line.
  TargetData* RegisterTarget(const RouteDef& route);
  // Give the targets their shape and keep-rows flag and store the cell pointers; false
  // when a table cannot be sized.
  bool ShapeCarsTable();
  bool ShapeLightsTable();
  // Under the target's lock: whether its table still has `rows` rows of `types`; logs once
  // (through `reported`) when it does not.
  static bool KeepsShape(TargetData& target, int64_t rows, const std::vector<int32_t>& types,
                         bool& reported);
  void FetchCarCells();
  // Writes the cells of each table; the caller holds the target's lock.
  void WriteCarCells();
  void WriteStateCells();
  // Waits until the pause ends or quit is set.
  void WaitWhilePaused();

  bool carsChanged_ = false;  // the change of each table was logged
  bool lightsChanged_ = false;
};
