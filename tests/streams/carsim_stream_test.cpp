// The traffic-simulation stream against a client without a link: its frames are decoded by
// the independent wire decoder. Table shapes, light ids of a map with more than ten roads,
// colours cycling after 55 cars, rows kept across sends and resets; refused targets and
// maps; the time step and the pause.

#include "streams/CarSimStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RoadMapBuilder.h"
#include "service/TargetData.h"
#include "stream_test_util.h"
#include "support/WireDecoder.h"

namespace {

using streamtest::Quote;
using streamtest::Route;

class CarSimStreamTest : public ::testing::Test {
 protected:
  CarSimStreamTest() { f_.client.dataDir = f_.dir.Path(); }

  // Writes `plan` as the map file `name` in the data directory; returns its path.
  std::string WriteMap(const mapgen::MapSpec& plan, const std::string& name = "city.cmap") {
    const std::string path = f_.dir.File(name);
    EXPECT_TRUE(mapgen::WriteMap(mapgen::Layout(plan), path));
    return path;
  }

  static std::string Input(const std::string& map, const std::string& cars,
                           const std::string& rate = "0") {
    return R"({"CMAP_PATH":)" + Quote(map) + R"(,"NB_CARS":)" + Quote(cars) +
           R"(,"SAMPLE_RATE":)" + Quote(rate) + "}";
  }

  // A stream over `routes` (JSON), not yet initialised.
  std::unique_ptr<CarSimStream> Make(const std::string& routes) {
    StreamDef* def = f_.Scan("CARSIM", "", routes);
    return std::make_unique<CarSimStream>("S", def);
  }

  // The table of the last update frame sent for `table`.
  testsupport::WireTable LastUpdate(const std::string& table) {
    testsupport::WireTable out;
    for (size_t i = 0; i < f_.frames.Count(); ++i) {
      testsupport::WireContainer c = f_.frames.Decoded(i);
      std::string event, name;
      c.GetText("Event", &event);
      c.GetText("TableName", &name);
      if (event == "CLEAR" || name != table) continue;
      const testsupport::WireContainer* data = c.GetNested("Data");
      EXPECT_NE(data, nullptr);
      std::string error;
      EXPECT_TRUE(testsupport::DecodeTable(*data, &out, &error)) << error;
    }
    return out;
  }

  size_t UpdatesOf(const std::string& table) {
    size_t n = 0;
    for (size_t i = 0; i < f_.frames.Count(); ++i) {
      testsupport::WireContainer c = f_.frames.Decoded(i);
      std::string event, name;
      c.GetText("Event", &event);
      c.GetText("TableName", &name);
      n += event != "CLEAR" && name == table;
    }
    return n;
  }

  streamtest::StreamFixture f_;
};

int64_t Int(const testsupport::WireCell& cell) { return std::get<int64_t>(cell); }
float Float(const testsupport::WireCell& cell) { return std::get<float>(cell); }

TEST_F(CarSimStreamTest, TablesLightIdsColoursAndRowsKeptAcrossSends) {
  const std::string map = WriteMap(mapgen::Grid(4, 4, 1));  // 24 roads of two lanes
  auto stream = Make(Route("cars", Input(map, "60")) + "," + Route("lights", ""));
  ASSERT_TRUE(stream->Init()) << f_.log.Text();
  EXPECT_TRUE(stream->ready);
  ASSERT_EQ(stream->sim.lines.size(), 24u);

  std::vector<std::string> ids;
  for (size_t r = 0; r < stream->sim.lines.size(); ++r) {
    for (int lane = 0; lane < stream->sim.lines[r].nLanes; ++lane) {
      ids.push_back("L" + std::to_string(r) + "_" + std::to_string(lane));
    }
  }
  ASSERT_EQ(ids.size(), 48u);
  EXPECT_EQ(ids[25], "L12_1");

  for (int send = 0; send < 3; ++send) {
    stream->Step(0.5f);
    stream->WriteTables();
    f_.client.SendTargetUpdates();
    ASSERT_EQ(UpdatesOf("cars"), size_t(send + 1));
    const testsupport::WireTable cars = LastUpdate("cars");
    EXPECT_EQ(cars.colNames,
              (std::vector<std::string>{"ID", "Lon", "Lat", "Clr", "Calm", "Speed"}));
    EXPECT_EQ(cars.colTypes, (std::vector<int32_t>{2, 4, 4, 2, 4, 4}));
    ASSERT_EQ(cars.rows.size(), 60u);
    for (size_t i = 0; i < 60; ++i) {
      const Vehicle& car = stream->manager.vehicles[i];
      EXPECT_EQ(Int(cars.rows[i][0]), int64_t(i));
      EXPECT_EQ(Float(cars.rows[i][1]), car.x);
      EXPECT_EQ(Float(cars.rows[i][2]), -car.y);
      EXPECT_EQ(Int(cars.rows[i][3]), CarSimStream::kColourList[i % 55]);
      EXPECT_EQ(Float(cars.rows[i][4]), car.calm);
      EXPECT_EQ(Float(cars.rows[i][5]), car.speed);
    }
    EXPECT_EQ(Int(cars.rows[0][3]), 0x9BDCD7);
    EXPECT_EQ(Int(cars.rows[54][3]), 0x66CBDF);
    EXPECT_EQ(Int(cars.rows[55][3]), Int(cars.rows[0][3]));  // the colours cycle

    const testsupport::WireTable lights = LastUpdate("lights");
    EXPECT_EQ(lights.colNames, (std::vector<std::string>{"LightID", "State"}));
    EXPECT_EQ(lights.colTypes, (std::vector<int32_t>{6, 2}));
    ASSERT_EQ(lights.rows.size(), ids.size());
    size_t row = 0;
    for (const RLine& road : stream->sim.lines) {
      for (int32_t code : road.laneLight) {
        EXPECT_EQ(std::get<std::string>(lights.rows[row][0]), ids[row]);
        EXPECT_EQ(Int(lights.rows[row][1]), CarSimStream::kLightMap[code]);
        ++row;
      }
    }
  }
  std::set<std::string> unique(ids.begin(), ids.end());
  EXPECT_EQ(unique.size(), ids.size());

  // A reset sends the clear message and keeps the rows.
  stream->ExecReset(0);
  stream->ExecReset(1);
  EXPECT_EQ(f_.ClearedTables(), (std::vector<std::string>{"cars", "lights"}));
  EXPECT_EQ(f_.RowCount("cars"), 60);
  EXPECT_EQ(f_.RowCount("lights"), 48);
}

TEST_F(CarSimStreamTest, OneRouteWritesOnlyTheCarsTable) {
  auto stream = Make(Route("cars", Input(WriteMap(mapgen::Corridor(3, 2)), "4")));
  ASSERT_TRUE(stream->Init()) << f_.log.Text();
  EXPECT_EQ(stream->lightsTarget, nullptr);
  stream->Step(0.5f);
  stream->WriteTables();
  f_.client.SendTargetUpdates();
  EXPECT_EQ(f_.frames.Count(), 1u);
  EXPECT_EQ(LastUpdate("cars").rows.size(), 4u);
}

TEST_F(CarSimStreamTest, ThirdRouteIsNotRegistered) {
  const std::string input = Input(WriteMap(mapgen::Corridor(2, 1)), "2");
  auto stream = Make(Route("cars", input) + "," + Route("lights", "") + "," + Route("x", ""));
  ASSERT_TRUE(stream->Init()) << f_.log.Text();
  EXPECT_EQ(f_.client.GetTarget("al", "db", "x"), nullptr);
  EXPECT_EQ(f_.client.targets.size(), 2u);
}

TEST_F(CarSimStreamTest, RefusesATargetTwoRoutesShare) {
  const std::string input = Input(WriteMap(mapgen::Corridor(2, 1)), "2");
  auto stream = Make(Route("cars", input) + "," + Route("cars", ""));
  EXPECT_FALSE(stream->Init());
  EXPECT_FALSE(stream->ready);
  EXPECT_EQ(f_.LogCount("Target already registered elsewhere: al/db/cars"), 1u);
}

TEST_F(CarSimStreamTest, RefusesATargetAnotherStreamRegistered) {
  MiniFrad other;
  other.New("lights");
  ASSERT_TRUE(f_.client.NewTarget("al", "db", "lights", "UPSERT", "", std::move(other)));
  const std::string input = Input(WriteMap(mapgen::Corridor(2, 1)), "2");
  auto stream = Make(Route("cars", input) + "," + Route("lights", ""));
  EXPECT_FALSE(stream->Init());
  EXPECT_EQ(f_.LogCount("Target already registered elsewhere: al/db/lights"), 1u);
  // The other stream's table is untouched.
  EXPECT_EQ(f_.client.GetTarget("al", "db", "lights")->frad.NbCols, 0);
}

// A stream initialised later that registers the same target through the data server's
// table file gets the registration already there and appends rows to it: the cells move.
TEST_F(CarSimStreamTest, TableChangedByAnotherWriterIsNoLongerWritten) {
  auto stream = Make(Route("cars", Input(WriteMap(mapgen::Corridor(2, 1)), "3")) + "," +
                     Route("lights", ""));
  ASSERT_TRUE(stream->Init());
  for (int i = 0; i < 50; ++i) f_.client.UpdateTarget("al", "db", "cars", {"1", "2", "3"});
  f_.client.UpdateTarget("al", "db", "lights", {"L9_9", "1"});
  for (int i = 0; i < 3; ++i) {
    stream->Step(0.5f);
    stream->WriteTables();
  }
  EXPECT_EQ(f_.LogCount("Target table changed by another writer, no longer written: al/db/cars"),
            1u);
  EXPECT_EQ(f_.LogCount("no longer written: al/db/lights"), 1u);
  EXPECT_EQ(f_.RowCount("cars"), 53);
  EXPECT_EQ(f_.TargetRows("cars").back(),
            (std::vector<std::string>{"1", "2", "3", "NULL", "NULL", "NULL"}));
}

TEST_F(CarSimStreamTest, MissingMapFailsInit) {
  auto stream = Make(Route("cars", Input(f_.dir.File("nowhere.cmap"), "2")));
  EXPECT_FALSE(stream->Init());
  EXPECT_EQ(f_.LogCount("Invalid file, CMAP_PATH: " + f_.dir.File("nowhere.cmap")), 1u);
  EXPECT_TRUE(f_.client.targets.empty());
}

TEST_F(CarSimStreamTest, UnusableMapFailsInitWithOneLine) {
  const std::string path = f_.dir.File("junk.cmap");
  std::ofstream(path) << "not a road map";
  auto stream = Make(Route("cars", Input(path, "2")) + "," + Route("lights", ""));
  EXPECT_FALSE(stream->Init());
  EXPECT_EQ(f_.LogCount("Invalid road map"), 1u);
  EXPECT_TRUE(stream->manager.vehicles.empty());
}

TEST_F(CarSimStreamTest, EmptyMapPathUsesTheDataDirectory) {
  WriteMap(mapgen::Tee(1), "CarSimMap.cmap");
  auto stream = Make(Route("cars", Input("", "3")));
  ASSERT_TRUE(stream->Init()) << f_.log.Text();
  EXPECT_EQ(stream->cmapPath, f_.dir.File("CarSimMap.cmap"));
  EXPECT_EQ(f_.LogCount("Using cmap: " + f_.dir.File("CarSimMap.cmap")), 1u);
}

// Below one car there is one; above what the map has room for, the map's room, said once.
TEST_F(CarSimStreamTest, CarCountsAreBoundedByOneAndTheMapsRoom) {
  const std::string map = WriteMap(mapgen::Corridor(2, 1));
  int table = 0;
  for (const std::string cars : {"0", "-3", "x", "12abc", "100000"}) {
    const std::string name = "cars" + std::to_string(table++);
    StreamDef* def = f_.Scan("CARSIM", "", Route(name, Input(map, cars)));
    CarSimStream stream("S", def);
    ASSERT_TRUE(stream.Init()) << f_.log.Text();
    const int32_t room = VehicleManager::CarRoom(stream.sim);
    ASSERT_LT(room, 100);
    EXPECT_EQ(f_.RowCount(name), cars == "12abc" ? 12 : cars == "100000" ? room : 1) << cars;
  }
  EXPECT_EQ(f_.LogCount("NB_CARS above the "), 1u);
}

TEST(CarSimTimeStepTest, ScaledAndClamped) {
  using std::chrono::milliseconds;
  EXPECT_EQ(CarSimStream::TimeStep(milliseconds(-20)), 0.0f);
  EXPECT_EQ(CarSimStream::TimeStep(milliseconds(0)), 0.0f);
  EXPECT_FLOAT_EQ(CarSimStream::TimeStep(milliseconds(10)), 0.15f);
  EXPECT_FLOAT_EQ(CarSimStream::TimeStep(std::chrono::microseconds(500)), 0.0075f);
  EXPECT_EQ(CarSimStream::TimeStep(std::chrono::hours(5)), CarSimStream::kMaxTimeStep);
  EXPECT_EQ(CarSimStream::TimeStep(std::chrono::steady_clock::duration::max()),
            CarSimStream::kMaxTimeStep);
}

TEST_F(CarSimStreamTest, PausedTimeIsNotReplayed) {
  auto stream = Make(Route("cars", Input(WriteMap(mapgen::Corridor(2, 1)), "3", "100000")));
  ASSERT_TRUE(stream->Init());
  stream->paused = true;
  std::thread waiting([&] { stream->RunStep(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(stream->manager.timer2, 0.0f);  // no step while paused
  stream->paused = false;
  waiting.join();
  stream->RunStep();
  // The first step after the pause covers microseconds, not the 150 ms paused.
  EXPECT_LT(stream->manager.timer2, 0.3f);
  EXPECT_GT(stream->manager.timer2, 0.0f);
}

TEST_F(CarSimStreamTest, QuitWhilePausedEndsTheWait) {
  auto stream = Make(Route("cars", Input(WriteMap(mapgen::Corridor(2, 1)), "3")));
  ASSERT_TRUE(stream->Init());
  stream->paused = true;
  std::thread waiting([&] { stream->RunStep(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  stream->Quit();
  waiting.join();
  EXPECT_EQ(stream->manager.timer2, 0.0f);
}

TEST_F(CarSimStreamTest, RunResetsTheTargetsThenWritesUntilQuit) {
  const std::string input = Input(WriteMap(mapgen::Grid(3, 3, 2)), "20", "1");
  auto stream = Make(Route("cars", input) + "," + Route("lights", ""));
  ASSERT_TRUE(stream->Init());
  std::istringstream console("");
  stream->consoleIn = &console;
  std::thread run([&] { stream->Run(); });
  TargetData* cars = f_.client.GetTarget("al", "db", "cars");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!cars->pending && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(cars->pending);
  f_.client.SendTargetUpdates();
  stream->Quit();
  run.join();
  stream->JoinThreads();
  EXPECT_EQ(f_.ClearedTables(), (std::vector<std::string>{"cars", "lights"}));
  EXPECT_EQ(LastUpdate("cars").rows.size(), 20u);
  EXPECT_EQ(f_.LogCount("Running CarSim Stream: S"), 1u);
  EXPECT_EQ(f_.LogCount("Exiting CarSim Stream: S"), 1u);
  EXPECT_EQ(f_.LogCount("Reset Target: al/db/"), 2u);
}

}  // namespace
