#pragma once

// Structural checks of a road network, shared by loading and derivation: everything the
// derivation reads must be present, in range and finite before it runs.

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

}  // namespace RoadMapCheck
