// Road maps that cannot be used: each is refused as a whole with one log line naming the
// fault, and leaves the network empty, never half loaded.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <functional>

#include "RoadMapBuilder.h"
#include "foundation/LogManager.h"
#include "record/ByteStream.h"
#include "streams/SimData.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using Mutation = std::function<void(mapgen::MapFile&)>;

struct BadMap {
  const char* name;
  // Writes the bad map file at the path given; returns the path to load.
  std::function<std::string(const testsupport::TempDir&)> make;
  const char* fault;  // text the log line must hold
  uint64_t memory = 0;  // bytes available to the derived network; 0: the machine's
};

const mapgen::MapFile& Good() {
  static const mapgen::MapFile map = mapgen::Layout(mapgen::Crossing(2));
  return map;
}

std::string Write(const testsupport::TempDir& dir, const mapgen::MapFile& map) {
  const std::string path = dir.File("bad.cmap");
  EXPECT_TRUE(mapgen::WriteMap(map, path));
  return path;
}

std::function<std::string(const testsupport::TempDir&)> Mutated(Mutation change) {
  return [change](const testsupport::TempDir& dir) {
    mapgen::MapFile map = Good();
    change(map);
    return Write(dir, map);
  };
}

std::function<std::string(const testsupport::TempDir&)> Bytes(std::string bytes) {
  return [bytes](const testsupport::TempDir& dir) {
    const std::string path = dir.File("bad.cmap");
    testsupport::WriteFileBytes(path, bytes);
    return path;
  };
}

// A copy of `source` without its record `key`, or with `replace` in its place.
ByteStream Without(const ByteStream& source, const std::string& key,
                   const std::function<void(ByteStream&)>& replace = nullptr) {
  ByteStream copy = source.GetCopy();
  ByteStream out;
  std::vector<uint64_t> positions;
  const uint64_t count = copy.GetPosList(positions);
  for (uint64_t i = 0; i < count; ++i) {
    const std::string name = copy.GetRecordKey(i);
    if (name == key) {
      if (replace) replace(out);
    } else {
      out.CopyEntry(copy, name);
    }
  }
  return out;
}

// The good map with record `key` of road 0 (or of node 0 when `inNode`) dropped or replaced.
std::function<std::string(const testsupport::TempDir&)> EditRecord(
    bool inNode, const std::string& key, std::function<void(ByteStream&)> replace = nullptr) {
  return [=](const testsupport::TempDir& dir) {
    const ByteStream map = mapgen::ToByteStream(Good());
    const char* list = inNode ? "Nodes" : "Lines";
    std::vector<ByteStream> items;
    EXPECT_TRUE(map.GetStreamVector(list, items));
    items[0] = Without(items[0], key, replace);
    ByteStream edited =
        Without(map, list, [&](ByteStream& out) { out.AddStreamVector(list, items); });
    const std::string path = dir.File("bad.cmap");
    EXPECT_TRUE(edited.Save(path));
    return path;
  };
}

std::function<std::string(const testsupport::TempDir&)> TopLevel(
    const std::string& key, std::function<void(ByteStream&)> replace = nullptr) {
  return [=](const testsupport::TempDir& dir) {
    ByteStream edited = Without(mapgen::ToByteStream(Good()), key, replace);
    const std::string path = dir.File("bad.cmap");
    EXPECT_TRUE(edited.Save(path));
    return path;
  };
}

std::string GoodImage() {
  const ByteStream map = mapgen::ToByteStream(Good());
  std::string image(map.GetStreamSize(), '\0');
  map.GetStream(image.data());
  return image;
}

const BadMap kBadMaps[] = {
    {"missing file", [](const testsupport::TempDir& dir) { return dir.File("none.cmap"); },
     "no such file"},
    {"directory", [](const testsupport::TempDir& dir) { return dir.Path(); }, "not a regular file"},
    {"empty file", Bytes(""), "not a readable record container"},
    {"garbage", Bytes("this is not a road map at all, just text"),
     "not a readable record container"},
    {"truncated image", Bytes(GoodImage().substr(0, GoodImage().size() / 2)),
     "not a readable record container"},
    {"empty container", Bytes(std::string("\0\0\0\0\0\0\0\0\x10\0\0\0\0\0\0\0", 16)),
     "missing \"Lines\""},
    {"roads of another type", TopLevel("Lines", [](ByteStream& s) { s.AddInt32("Lines", 4); }),
     "missing \"Lines\""},
    {"no nodes key", TopLevel("Nodes"), "missing \"Nodes\""},
    {"no roads", Mutated([](mapgen::MapFile& m) { m.roads.clear(); }), "no roads"},
    {"road without line", EditRecord(false, "Line"), "road 0: missing \"Line\""},
    {"road without right lanes", EditRecord(false, "RLanes"), "road 0: missing \"RLanes\""},
    {"road without left lanes", EditRecord(false, "LLanes"), "road 0: missing \"LLanes\""},
    {"road start of another type",
     EditRecord(false, "Start", [](ByteStream& s) { s.AddFloat("Start", 1); }),
     "road 0: missing \"Start\""},
    {"road without end", EditRecord(false, "End"), "road 0: missing \"End\""},
    {"node without position", EditRecord(true, "Pos"), "node 0: missing \"Pos\""},
    {"node position of one value",
     EditRecord(true, "Pos", [](ByteStream& s) { s.AddFloatVector("Pos", {1}); }),
     "node 0: \"Pos\" holds fewer than two values"},
    {"node without roads", EditRecord(true, "Lines"), "node 0: missing \"Lines\""},
    {"node without start flags", EditRecord(true, "Start"), "node 0: missing \"Start\""},
    {"road of one point", Mutated([](mapgen::MapFile& m) { m.roads[1].line.pop_back(); }),
     "road 1: centre line: fewer than two points"},
    {"road node out of range", Mutated([](mapgen::MapFile& m) { m.roads[2].end = 99; }),
     "road 2: node index out of range"},
    {"negative road node", Mutated([](mapgen::MapFile& m) { m.roads[0].start = -1; }),
     "road 0: node index out of range"},
    {"side without lanes", Mutated([](mapgen::MapFile& m) { m.roads[3].lLanes.clear(); }),
     "road 3: a side without lanes"},
    {"lane of one point", Mutated([](mapgen::MapFile& m) { m.roads[0].rLanes[1].pop_back(); }),
     "road 0: right lane 1: fewer than two points"},
    {"zero-length lane",
     Mutated([](mapgen::MapFile& m) { m.roads[1].lLanes[0][1] = m.roads[1].lLanes[0][0]; }),
     "road 1: left lane 0: zero length"},
    {"lane without direction at its end", Mutated([](mapgen::MapFile& m) {
       m.roads[1].lLanes[0].push_back(m.roads[1].lLanes[0].back());
     }),
     "road 1: left lane 0: zero-length end segment"},
    {"lane coordinate not a number",
     Mutated([](mapgen::MapFile& m) { m.roads[0].rLanes[0][0].x = NAN; }),
     "road 0: right lane 0: coordinate not finite or out of range"},
    {"infinite centre line", Mutated([](mapgen::MapFile& m) { m.roads[0].line[0].y = INFINITY; }),
     "road 0: centre line: coordinate not finite or out of range"},
    {"node position not finite", Mutated([](mapgen::MapFile& m) { m.nodes[2].pos.x = NAN; }),
     "node 2: position not finite or out of range"},
    {"node lists of different lengths",
     Mutated([](mapgen::MapFile& m) { m.nodes[0].start.pop_back(); }),
     "node 0: road and start lists differ in length"},
    {"node road out of range", Mutated([](mapgen::MapFile& m) { m.nodes[1].lines[0] = 4; }),
     "node 1: road index out of range"},
    {"start flag of 2", Mutated([](mapgen::MapFile& m) { m.nodes[0].start[0] = 2; }),
     "node 0: start flag other than 0 or 1"},
    {"five roads at a node", Mutated([](mapgen::MapFile& m) {
       m.nodes[0].lines.push_back(0);
       m.nodes[0].start.push_back(1);
     }),
     "node 0: more than 4 roads"},
    {"node listing a road that ends elsewhere",
     Mutated([](mapgen::MapFile& m) { m.nodes[0].start[1] = 1 - m.nodes[0].start[1]; }),
     "node 0: road 1 does not end here"},
    {"road missing from its node", Mutated([](mapgen::MapFile& m) {
       m.nodes[2].lines.clear();
       m.nodes[2].start.clear();
     }),
     "road 1: not listed at its end node"},
    {"U-turn onto the same point", Mutated([](mapgen::MapFile& m) {
       // At dead end 2 the arriving lane ends where the leaving lane starts.
       m.roads[1].rLanes[0].back() = m.roads[1].line.back();
       m.roads[1].lLanes[0].front() = m.roads[1].line.back();
     }),
     "node 2 approach 0: junction path of zero length"},
    {"bend without a way on", Mutated([](mapgen::MapFile& m) {
       // Road 1 folded back onto road 0's side: both leave the centre going west.
       m.roads[1].line.back() = {-100, 0.001f};
       m.roads[1].rLanes = {{{-10, 2}, {-90, 2}}, {{-10, 6}, {-90, 6}}};
       m.roads[1].lLanes = {{{-90, -2}, {-10, -2}}, {{-90, -6}, {-10, -6}}};
       m.roads.resize(2);  // drop the north and south arms
       m.nodes[0].lines = {0, 1};
       m.nodes[0].start = {1, 0};
       m.nodes.resize(3);
       m.nodes[2].pos = {-100, 0.001f};
     }),
     "node 0 approach 0: no junction path leaves it"},
    {"larger than the memory available", Mutated([](mapgen::MapFile&) {}),
     "once derived, more than 75% of the 0.3 MB of memory available", 300 * 1024},
};

// Every test of this program logs to one file in a temporary directory.
class LogInTempDir : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(LogManager::Global.Init(dir_.Path(), "refusal.log", 'w')); }
  void TearDown() override { LogManager::Global.Close(); }

 private:
  testsupport::TempDir dir_;
};
::testing::Environment* const kLog = ::testing::AddGlobalTestEnvironment(new LogInTempDir);

class RoadMapRefusal : public ::testing::TestWithParam<BadMap> {};

TEST_P(RoadMapRefusal, RefusedWithOneLineAndNothingLoaded) {
  const BadMap& bad = GetParam();
  testsupport::TempDir dir;
  SimData sim;
  const std::string good = Write(dir, Good());
  ASSERT_TRUE(sim.LoadByteStream(good));
  ASSERT_TRUE(sim.InitSimData());
  const std::string path = bad.make(dir);
  sim.memoryAvailable = bad.memory;
  const std::string before = LogManager::Global.GetLogString();
  const bool loaded = sim.LoadByteStream(path) && sim.InitSimData();
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(sim.lines.empty());
  EXPECT_TRUE(sim.nodes.empty());
  const std::string after = LogManager::Global.GetLogString();
  ASSERT_GT(after.size(), before.size());
  const std::string added = after.substr(before.size());
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
  EXPECT_NE(added.find("Invalid road map: "), std::string::npos) << added;
  EXPECT_NE(added.find(bad.fault), std::string::npos) << added;
  // A caller that derives the emptied network anyway is told again that there is nothing.
  EXPECT_FALSE(sim.InitSimData());
  EXPECT_NE(LogManager::Global.GetLogString().find("Invalid road map: no roads", after.size()),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BadMaps, RoadMapRefusal, ::testing::ValuesIn(kBadMaps),
                         [](const ::testing::TestParamInfo<BadMap>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

TEST(RoadMapRefusalFloats, RefusedMapKeepsTheFloats) {
  testsupport::TempDir dir;
  SimData sim;
  sim.laneW = 9;
  EXPECT_FALSE(sim.LoadByteStream(dir.File("missing.cmap")));
  EXPECT_EQ(sim.laneW, 9.0f);
}

}  // namespace
