#include "streams/CarSimStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"

namespace {

constexpr char kDefaultMap[] = "CarSimMap.cmap";
constexpr int32_t kInt = 2, kFloat = 4, kText = 6;  // column types
const std::vector<int32_t> kCarTypes{kInt, kFloat, kFloat, kInt, kFloat, kFloat};
const std::vector<int32_t> kLightTypes{kText, kInt};

std::string TargetName(const RouteDef& route) {
  return route.alias + "/" + route.dbName + "/" + route.tableName;
}

// Cell i of a column whose first cell is `column`; cells are unaligned.
template <typename T>
void PutCell(char* column, size_t i, T value) {
  std::memcpy(column + i * sizeof(T), &value, sizeof(T));
}

}  // namespace

const std::array<int32_t, CarSimStream::kColours> CarSimStream::kColourList{
    0x9BDCD7, 0x3AA07D, 0x62DF93, 0x0076BE, 0x48029F, 0xAD2692, 0xF38649, 0xF7E125, 0x180F3F,
    0x762181, 0xF9795C, 0xFCECAE, 0x1C4F7A, 0x388A69, 0xABB35B, 0xD4B093, 0x007B03, 0x00084F,
    0x006D9E, 0x96CADC, 0x6CC1BE, 0xB6E7B6, 0xD0EDF6, 0x7ED8D7, 0x2EAFF5, 0x3384B8, 0x50CD69,
    0xB3E39E, 0xFF9998, 0xD9241E, 0x93DF83, 0x289F27, 0xEDD1A0, 0xD1E8DC, 0x9EC9C5, 0x6CABAF,
    0xFFB253, 0xEDD1A0, 0xD1E8DC, 0x6CABAF, 0x90C1BF, 0x84B9B9, 0x78B2B4, 0x6CABAF, 0xA3DCB7,
    0x9BD6B8, 0x92D1B9, 0x89CDBA, 0x0842A6, 0x44A7E2, 0x85CDD8, 0x4FB4C8, 0x57BCD0, 0x5EC3D7,
    0x66CBDF};

CarSimStream::CarSimStream(const std::string& name, StreamDef* def) : StreamBase(name, def) {}

CarSimStream::~CarSimStream() = default;

StreamBase* CarSimStream::GetSelf() { return this; }

std::string CarSimStream::LightId(size_t road, size_t lane) {
  return "L" + std::to_string(road) + "_" + std::to_string(lane);
}

float CarSimStream::TimeStep(Clock::duration elapsed) {
  const double ms = double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
                    1000000.0;
  return std::clamp(float(ms) * kTimeScale, 0.0f, kMaxTimeStep);
}

// ---- Init ----

bool CarSimStream::Init() {
  LogManager::Global << "Initializing CarSim Stream: " + name;
  if (RouteCount() == 0) return false;
  if (!ReadKeys()) return false;
  carsTarget = RegisterTarget(definition->routes[0]);
  if (carsTarget == nullptr) return false;
  if (RouteCount() > 1) {
    lightsTarget = RegisterTarget(definition->routes[1]);
    if (lightsTarget == nullptr) return false;
  }
  // The loader logs why a map cannot be used.
  if (!sim.LoadByteStream(cmapPath) || !sim.InitSimData()) return false;
  if (!manager.Init(nbCars)) {
    LogManager::Global <<= "Road map has no road to place cars on: " + cmapPath;
    return false;
  }
  if (manager.nbCars < VehicleManager::CarCount(nbCars)) {
    LogManager::Global <<= "NB_CARS above the " + std::to_string(manager.nbCars) +
                           " cars the road map has room for, using " +
                           std::to_string(manager.nbCars);
  }
  if (!ShapeCarsTable() || (lightsTarget != nullptr && !ShapeLightsTable())) {
    LogManager::Global <<= "Failed to shape the tables of " + name;
    return false;
  }
  ready = true;
  return true;
}

bool CarSimStream::ReadKeys() {
  if (!ReadInput(0, "CMAP_PATH", cmapPath) || cmapPath.empty()) {
    cmapPath = (std::filesystem::path(WSOCK->dataDir) / kDefaultMap).string();
  }
  std::error_code error;
  if (!std::filesystem::exists(cmapPath, error)) {
    LogManager::Global <<= "Invalid file, CMAP_PATH: " + cmapPath;
    return false;
  }
  LogManager::Global <<= "Using cmap: " + cmapPath;
  std::string text;
  if (ReadInput(0, "SAMPLE_RATE", text)) sampleRate = std::strtoull(text.c_str(), nullptr, 10);
  if (ReadInput(0, "NB_CARS", text)) {
    nbCars = std::strtol(text.c_str(), nullptr, 10);
    if (nbCars > VehicleManager::kMaxCars) {
      LogManager::Global <<= "NB_CARS above " + std::to_string(VehicleManager::kMaxCars) +
                             ", using " + std::to_string(VehicleManager::kMaxCars);
    }
  }
  return true;
}

TargetData* CarSimStream::RegisterTarget(const RouteDef& route) {
  if (WSOCK->GetTarget(route.alias, route.dbName, route.tableName) != nullptr) {
    LogManager::Global << "Target already registered elsewhere: " + TargetName(route);
    return nullptr;
  }
  MiniFrad table;
  table.New(route.tableName);
  if (!WSOCK->NewTarget(route.alias, route.dbName, route.tableName, route.action, route.key,
                        std::move(table))) {
    LogManager::Global << "Failed to register target: " + TargetName(route);
    return nullptr;
  }
  TargetData* target = WSOCK->GetTarget(route.alias, route.dbName, route.tableName);
  if (target == nullptr) LogManager::Global <<= "Invalid Target";
  return target;
}

bool CarSimStream::ShapeCarsTable() {
  std::lock_guard<std::mutex> lock(carsTarget->mutex);
  carsTarget->keepRows = true;
  MiniFrad& table = carsTarget->frad;
  if (!table.Set(manager.nbCars, {"ID", "Lon", "Lat", "Clr", "Calm", "Speed"}, kCarTypes, {})) {
    return false;
  }
  FetchCarCells();
  manager.PlaceVehicles();
  WriteCarCells();  // no cell stays uninitialised until the first write
  return true;
}

void CarSimStream::FetchCarCells() {
  for (size_t c = 0; c < carCells.size(); ++c) {
    carCells[c] = carsTarget->frad.GetCTilePtr(0, int64_t(c));
  }
}

bool CarSimStream::ShapeLightsTable() {
  std::lock_guard<std::mutex> lock(lightsTarget->mutex);
  lightsTarget->keepRows = true;
  MiniFrad& table = lightsTarget->frad;
  if (!table.Set(0, {"LightID", "State"}, kLightTypes, {})) return false;
  table.DeleteAllRows();
  for (size_t r = 0; r < sim.lines.size(); ++r) {
    for (size_t lane = 0; lane < sim.lines[r].laneLight.size(); ++lane) {
      if (!table.AddRow({LightId(r, lane), "0"})) return false;
    }
  }
  lightRows = table.NbRows;
  stateCells = table.GetCTilePtr(0, 1);
  return stateCells != nullptr;
}

bool CarSimStream::KeepsShape(TargetData& target, int64_t rows, const std::vector<int32_t>& types,
                              bool& reported) {
  if (target.frad.NbRows == rows && target.frad.ColTypes == types) return true;
  if (!reported) {
    LogManager::Global << "Target table changed by another writer, no longer written: " +
                              target.alias + "/" + target.dbName + "/" + target.tableName;
    reported = true;
  }
  return false;
}

// ---- Run ----

void CarSimStream::Run() {
  LogManager::Global << "Running CarSim Stream: " + name;
  StartConsole();
  lastStepTime = Clock::now();
  for (int32_t i = 0; i < RouteCount(); ++i) ExecReset(i);
  while (!quit) RunStep();
  LogManager::Global << "Exiting CarSim Stream: " + name;
}

void CarSimStream::RunStep() {
  if (paused) {
    WaitWhilePaused();
    lastStepTime = Clock::now();  // the paused time is not simulated
    return;
  }
  std::this_thread::sleep_until(lastStepTime + kStepPeriod);
  const Clock::time_point now = Clock::now();
  Step(TimeStep(now - lastStepTime));
  lastStepTime = now;
  const std::chrono::duration<double, std::milli> sinceSend = Clock::now() - lastSendTime;
  if (sinceSend.count() > double(sampleRate)) {
    WriteTables();
    lastSendTime = Clock::now();
  }
}

void CarSimStream::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(mutex);
  // Resuming does not signal: look again every few milliseconds.
  while (paused && !quit) signal.wait_for(lock, std::chrono::milliseconds(5));
}

void CarSimStream::Step(float dt) { manager.Step(dt); }

void CarSimStream::WriteTables() {
  manager.PlaceVehicles();
  // The cells are fetched again under the lock: a table whose shape someone else changed
  // is left alone rather than written through pointers into memory it no longer owns.
  {
    std::lock_guard<std::mutex> lock(carsTarget->mutex);
    if (KeepsShape(*carsTarget, manager.nbCars, kCarTypes, carsChanged_)) {
      FetchCarCells();
      WriteCarCells();
      carsTarget->pending = true;
    }
  }
  if (lightsTarget != nullptr) {
    std::lock_guard<std::mutex> lock(lightsTarget->mutex);
    if (KeepsShape(*lightsTarget, lightRows, kLightTypes, lightsChanged_)) {
      stateCells = lightsTarget->frad.GetCTilePtr(0, 1);
      WriteStateCells();
      lightsTarget->pending = true;
    }
  }
}

void CarSimStream::WriteCarCells() {
  const std::vector<Vehicle>& cars = manager.vehicles;
  for (size_t i = 0; i < cars.size(); ++i) {
    const Vehicle& car = cars[i];
    PutCell(carCells[0], i, int32_t(i));
    PutCell(carCells[1], i, car.x);
    PutCell(carCells[2], i, -car.y);
    PutCell(carCells[3], i, kColourList[i % kColours]);
    PutCell(carCells[4], i, car.calm);
    PutCell(carCells[5], i, car.speed);
  }
}

void CarSimStream::WriteStateCells() {
  size_t row = 0;
  for (const RLine& road : sim.lines) {
    for (int32_t code : road.laneLight) {
      const bool known = code >= 0 && size_t(code) < kLightMap.size();
      PutCell(stateCells, row++, known ? kLightMap[code] : 0);
    }
  }
}
