#pragma once

// Road networks for the traffic-simulation tests: a generated map written to a file, then
// loaded and derived as the service does it.

#include <gtest/gtest.h>

#include <string>

#include "RoadMapBuilder.h"
#include "foundation/LogManager.h"
#include "streams/SimData.h"
#include "support/TempDir.h"

namespace testsupport {

// Writes `plan` laid out as dir/name and loads it into `sim`; fails the test on refusal.
inline void LoadMap(const mapgen::MapSpec& plan, const TempDir& dir, SimData& sim,
                    const std::string& name = "map.cmap") {
  const std::string path = dir.File(name);
  ASSERT_TRUE(mapgen::WriteMap(mapgen::Layout(plan), path));
  ASSERT_TRUE(sim.LoadByteStream(path)) << LogManager::Global.GetLogString();
  ASSERT_TRUE(sim.InitSimData()) << LogManager::Global.GetLogString();
}

}  // namespace testsupport
