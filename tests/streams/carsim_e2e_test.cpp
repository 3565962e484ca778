// The service binary running a traffic simulation on a generated map inside private
// namespaces, feeding the stand-in data server: table shapes, light ids of a map with more
// than ten roads, colours cycling after 55 cars, rows kept across sends, quit.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "RoadMapBuilder.h"
#include "streams/CarSimStream.h"
#include "streams/SimData.h"
#include "support/Namespace.h"

namespace {

using namespace std::chrono_literals;
using testsupport::NamespaceRun;

const std::string kBinary = TVX_BUILD_DIR "/TolvexServerAPI";

std::string Config() {
  auto route = [](const std::string& table, const std::string& input) {
    return std::string("{") + (input.empty() ? "" : R"("INPUT":)" + input + ",") +
           R"("TARGET":{"ALIAS":"sim","DATABASE_NAME":"live","TABLE_NAME":")" + table +
           R"("},"LOGIC":{"ACTION":"UPSERT","KEY":"ID"}})";
  };
  return R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
         R"("WEBSERVER_ADDRESS":"localhost","UPDATE_RATE":"100"},"Stream List":[)"
         R"({"NAME":"traffic","TYPE":"CARSIM","STATUS":"ON","ROUTES":[)" +
         route("cars", R"({"NB_CARS":"60","SAMPLE_RATE":"20"})") + "," + route("lights", "") +
         "]}]}";
}

// Update messages of `table` received so far.
std::vector<testsupport::WireTable> Updates(const NamespaceRun& run, const std::string& table) {
  std::vector<testsupport::WireTable> tables;
  for (const standin::Received& r : run.StandInMessages()) {
    std::string event, name;
    r.message.GetText("Event", &event);
    r.message.GetText("TableName", &name);
    if (r.hasTable && event == "UPSERT" && name == table) tables.push_back(r.table);
  }
  return tables;
}

TEST(CarSimEndToEnd, DemoMapFeedsBothTablesUntilQuit) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  const std::string mapPath = run.HostPath("/opt/tolvexserver/data/CarSimMap.cmap");
  run.WriteFile("/opt/tolvexserver/data/CarSimMap.cmap", "");
  ASSERT_TRUE(mapgen::WriteMap(mapgen::Layout(mapgen::Demo()), mapPath));
  SimData sim;  // the same map, for the expected light ids
  ASSERT_TRUE(sim.LoadByteStream(mapPath) && sim.InitSimData());
  ASSERT_GT(sim.lines.size(), 10u);
  run.WriteFile("/opt/tolvexserver/conf/apiconfig.json", Config());

  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while ((Updates(run, "cars").size() < 3 || Updates(run, "lights").size() < 3) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  run.WriteStdin("q");
  EXPECT_EQ(run.Wait(20s), 0);

  const std::vector<testsupport::WireTable> cars = Updates(run, "cars");
  ASSERT_GE(cars.size(), 3u);
  for (const testsupport::WireTable& table : cars) {  // every send holds every car
    EXPECT_EQ(table.colNames,
              (std::vector<std::string>{"ID", "Lon", "Lat", "Clr", "Calm", "Speed"}));
    ASSERT_EQ(table.rows.size(), 60u);
    for (size_t i = 0; i < 60; ++i) {
      EXPECT_EQ(std::get<int64_t>(table.rows[i][0]), int64_t(i));
      EXPECT_EQ(std::get<int64_t>(table.rows[i][3]), CarSimStream::kColourList[i % 55]);
    }
  }
  // The cars move between sends (some may wait at a red light).
  bool moved = false;
  for (size_t i = 0; i < 60; ++i) moved = moved || cars.front().rows[i] != cars.back().rows[i];
  EXPECT_TRUE(moved);

  const std::vector<testsupport::WireTable> lights = Updates(run, "lights");
  ASSERT_GE(lights.size(), 3u);
  std::vector<std::string> ids;
  for (size_t r = 0; r < sim.lines.size(); ++r) {
    for (int lane = 0; lane < sim.lines[r].nLanes; ++lane) {
      ids.push_back(CarSimStream::LightId(r, size_t(lane)));
    }
  }
  for (const testsupport::WireTable& table : lights) {
    ASSERT_EQ(table.rows.size(), ids.size());
    for (size_t row = 0; row < ids.size(); ++row) {
      EXPECT_EQ(std::get<std::string>(table.rows[row][0]), ids[row]);
      const int64_t state = std::get<int64_t>(table.rows[row][1]);
      EXPECT_TRUE(state >= 0 && state <= 2) << state;
    }
  }
}

}  // namespace
