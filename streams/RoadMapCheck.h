#pragma once

// Checks of a road network, shared by loading and derivation: everything the derivation
// reads must be present, in range and finite before it runs, and what it derives must fit
// in memory.

#include <cstdint>
#include <string>
#include <vector>

#include "streams/SimData.h"

namespace RoadMapCheck {

// Lanes and junction paths shorter than this (map units) are refused: positions along them
// divide by their length.
constexpr float kMinLength = 0.01f;
// Coordinates beyond this magnitude are refused, so that no length or curve overflows.
constexpr float kMaxCoordinate = 1e6f;

// The first fault that makes the network unusable, as text for a log line; empty when none.
std::string CheckNetwork(const std::vector<RLine>& roads, const std::vector<INode>& nodes);

// What deriving the network will take at most, from its counts alone: per lane its resampled
// polyline and occupancy cells (about 12 KB), per junction path its resampled curve and
// cells (about 8 KB), an approach getting at most its incoming lanes + 2 paths (one at a dead
// end). Needs a network that CheckNetwork passed.
uint64_t DerivedBytes(const std::vector<RLine>& roads, const std::vector<INode>& nodes);
// The share of the memory available that a derived network may take: the rest stays for the
// cars, the tables, the rest of the service and the machine.
constexpr double kMemoryShare = 0.75;
// The memory available on this machine in bytes: MemAvailable of /proc/meminfo, or the
// free physical memory when that cannot be read (UINT64_MAX when neither can).
uint64_t MachineMemory();
// The fault when DerivedBytes is more than kMemoryShare of `available` bytes; empty when
// the network fits.
std::string CheckMemory(const std::vector<RLine>& roads, const std::vector<INode>& nodes,
                        uint64_t available);

}  // namespace RoadMapCheck
