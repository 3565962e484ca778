// The occupancy cells of lanes and junction paths: filling, marking, and looking ahead.

#include <algorithm>
#include <cstdint>

#include "streams/VehicleManager.h"

namespace {

constexpr int kCells = SimData::kCarCells;
constexpr float kCellShare = 1.0f / float(kCells);

// Words w..last of `taken` (last at most 31).
uint32_t WordsFrom(uint32_t taken, int w, int last) {
  if (w > last) return 0;
  return taken & (~uint32_t(0) << w) & (~uint32_t(0) >> (31 - last));
}

// The first cell in first..last (clamped to the strip) whose bit is set, or -1.
int FirstTaken(const CellBits& bits, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, kCells - 1);
  if (first > last) return -1;
  const int w = first >> 6;
  const uint64_t word = bits.words[w] & (~uint64_t(0) << (first & 63));
  int cell = -1;
  if (word != 0) {
    cell = w * 64 + __builtin_ctzll(word);
  } else if (const uint32_t rest = WordsFrom(bits.taken, w + 1, last >> 6)) {
    const int next = __builtin_ctz(rest);
    cell = next * 64 + __builtin_ctzll(bits.words[next]);
  }
  return cell <= last ? cell : -1;
}

// The last cell in first..last (clamped to the strip) whose bit is set, or -1.
int LastTaken(const CellBits& bits, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, kCells - 1);
  if (first > last) return -1;
  const int w = last >> 6;
  const uint64_t word = bits.words[w] & (~uint64_t(0) >> (63 - (last & 63)));
  int cell = -1;
  if (word != 0) {
    cell = w * 64 + 63 - __builtin_clzll(word);
  } else if (const uint32_t rest = WordsFrom(bits.taken, first >> 6, w - 1)) {
    const int next = 31 - __builtin_clz(rest);
    cell = next * 64 + 63 - __builtin_clzll(bits.words[next]);
  }
  return cell >= first ? cell : -1;
}

void SetBit(CellBits& bits, int32_t cell) {
  bits.words[cell >> 6] |= uint64_t(1) << (cell & 63);
  bits.taken |= uint32_t(1) << (cell >> 6);
}

void ClearBit(CellBits& bits, int32_t cell) {
  uint64_t& word = bits.words[cell >> 6];
  word &= ~(uint64_t(1) << (cell & 63));
  if (word == 0) bits.taken &= ~(uint32_t(1) << (cell >> 6));
}

}  // namespace

uint32_t VehicleManager::IdOf(const Vehicle& car) const {
  const uintptr_t first = reinterpret_cast<uintptr_t>(vehicles.data());
  const uintptr_t at = reinterpret_cast<uintptr_t>(&car);
  if (at < first) return 0;
  const size_t i = (at - first) / sizeof(Vehicle);
  return i < vehicles.size() ? uint32_t(i + 1) : 0;
}

bool VehicleManager::NextStrip(const Vehicle& car, StripRef& next) const {
  if (car.inIntersection) {
    next = {false, car.nextRoad, car.nextLane};
    return size_t(car.nextRoad) < sim.lines.size() &&
           size_t(car.nextLane) < sim.lines[car.nextRoad].carBits.size();
  }
  next = {true, car.node, car.path};
  return car.needNextRoad == 0 && size_t(car.node) < sim.nodes.size() &&
         size_t(car.path) < sim.nodes[car.node].pathBits.size();
}

void VehicleManager::Mark(const StripRef& at, int32_t cell, uint32_t id) {
  if (id == 0) return;
  SetBit(BitsOf(at), cell);
  if (!at.path) sim.lines[at.owner].carMap[at.strip][cell] = id;
}

void VehicleManager::Unmark(const StripRef& at, int32_t cell, uint32_t id) {
  if (id == 0 || cell < 0) return;
  if (!at.path) sim.lines[at.owner].carMap[at.strip][cell] = 0;
  ClearBit(BitsOf(at), cell);
}

void VehicleManager::ClearCarMap() {
  // A bit is set exactly where carMap holds a car: the bits find the cells to clear.
  for (RLine& road : sim.lines) {
    for (size_t lane = 0; lane < road.carBits.size() && lane < road.carMap.size(); ++lane) {
      CellBits& bits = road.carBits[lane];
      for (size_t w = 0; w < bits.words.size(); ++w) {
        for (uint64_t word = bits.words[w]; word != 0; word &= word - 1) {
          road.carMap[lane][w * 64 + size_t(__builtin_ctzll(word))] = 0;
        }
      }
      bits.Clear();
    }
  }
  for (INode& node : sim.nodes) {
    for (CellBits& bits : node.pathBits) bits.Clear();
  }
  filledCars_ = vehicles.size();
}

void VehicleManager::FillCarMap() {
  ClearCarMap();
  for (size_t i = 0; i < vehicles.size(); ++i) {
    Vehicle& car = vehicles[i];
    if (car.road < 0) continue;
    const StripRef at = StripOf(car);
    car.cell = CellOf(car.dist, LengthOf(at));
    Mark(at, car.cell, uint32_t(i + 1));
  }
  FillSlots();
}

void VehicleManager::FillSlots() {
  slotCars_.clear();
  for (size_t i = 0; i < vehicles.size(); ++i) {
    if (HoldsSlot(vehicles[i])) slotCars_.push_back(uint32_t(i + 1));
  }
  SetSlots();
}

bool VehicleManager::HoldsSlot(const Vehicle& car) const {
  if (car.road < 0 || !car.inIntersection) return false;
  if (car.turn != 'L' && car.turn != 'S' && car.turn != 'R') return false;
  return car.dist / sim.nodes[car.node].pathLen[car.path] < 0.6f;
}

void VehicleManager::SetSlots() {
  for (int32_t n : slotNodes_) {
    INode& node = sim.nodes[n];
    std::fill(node.slotL.begin(), node.slotL.end(), 0);
    std::fill(node.slotS.begin(), node.slotS.end(), 0);
    std::fill(node.slotR.begin(), node.slotR.end(), 0);
  }
  slotNodes_.clear();
  for (uint32_t id : slotCars_) {
    const Vehicle& car = vehicles[id - 1];
    INode& node = sim.nodes[car.node];
    std::vector<uint32_t>& slots = car.turn == 'L'   ? node.slotL
                                   : car.turn == 'S' ? node.slotS
                                                     : node.slotR;
    slots[car.approach] = id;  // a later car overwrites an earlier one
    slotNodes_.push_back(car.node);
  }
}

bool VehicleManager::Occupied(const RLine& road, int lane, int first, int last) const {
  return FirstTaken(road.carBits[lane], first, last) >= 0;
}

const Vehicle* VehicleManager::LastCarIn(const RLine& road, int lane, int first,
                                         int last) const {
  const int cell = LastTaken(road.carBits[lane], first, last);
  if (cell < 0) return nullptr;
  const uint32_t id = road.carMap[lane][cell];
  return id != 0 && id <= vehicles.size() ? &vehicles[id - 1] : nullptr;
}

bool VehicleManager::RoomToClear(const Vehicle& car) const {
  StripRef path = StripOf(car);
  if (!car.inIntersection && !NextStrip(car, path)) return true;
  if (size_t(car.nextRoad) >= sim.lines.size()) return true;
  const RLine& road = sim.lines[car.nextRoad];
  if (size_t(car.nextLane) >= road.carBits.size()) return true;
  // The cars ahead of this one on the path need their room too.
  const int from = car.inIntersection ? car.cell + 1 : 0;
  int ahead = 0;
  for (int cell = FirstTaken(BitsOf(path), from, kCells - 1); cell >= 0;
       cell = FirstTaken(BitsOf(path), cell + 1, kCells - 1)) {
    ++ahead;
  }
  const int span = CellSpan(float(ahead + 1) * kQueueGap, road.laneLen[car.nextLane]);
  return FirstTaken(road.carBits[car.nextLane], 0, span) < 0;
}

VehicleManager::Ahead VehicleManager::LookAhead(const Vehicle& car, float reach) const {
  Ahead ahead;
  const StripRef here = StripOf(car);
  const float length = LengthOf(here);
  const int32_t cell = CellOf(car.dist, length);
  const int found = FirstTaken(BitsOf(here), cell + 1, kCells - 1);
  if (found >= 0) {
    ahead.found = true;
    ahead.gap = float(found - cell) * kCellShare * length;
    return ahead;
  }
  const float toEnd = float(kCells - cell) * kCellShare * length;
  StripRef next;
  if (toEnd >= reach || !NextStrip(car, next)) return ahead;
  const float nextLength = LengthOf(next);
  const int first = FirstTaken(BitsOf(next), 0, CellSpan(reach - toEnd, nextLength));
  if (first >= 0) {
    ahead.found = true;
    ahead.gap = toEnd + float(first) * kCellShare * nextLength;
  }
  return ahead;
}

bool VehicleManager::CarAheadOnLane(const Vehicle& car) const {
  return FirstTaken(BitsOf(StripOf(car)), car.cell + 1, kCells - 1) >= 0;
}
