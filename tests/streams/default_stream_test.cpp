// The replay stream against the real client (no link: its frames go to a FrameLog): keys
// and Init failures, ordered and random replay with resets, console words, a sample file
// replaced or removed between samples, and the stream on its own thread.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "service/StreamRegistry.h"
#include "streams/CarSimStream.h"
#include "streams/DefaultStream.h"
#include "streams/KafkaStream.h"
#include "streams/StreamKinds.h"
#include "stream_test_util.h"
#include "support/FileBytes.h"
#include "support/WireEncoder.h"

namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::vector<std::string>>;

class DefaultStreamTest : public ::testing::Test, public streamtest::StreamFixture {
 protected:
  DefaultStreamTest() { WriteTarget("t", {"id", "name"}, {2, 6}); }

  // A sample table of (id, name) rows 0..n-1 named "row <i>" (plus `tag`).
  void WriteSample(const std::string& file, int rows, const std::string& tag = "") {
    testsupport::WireTable table = servicetest::Schema({"id", "name"}, {2, 6});
    table.name = "sample";
    for (int i = 0; i < rows; ++i) {
      table.rows.push_back({int64_t{i}, "row " + std::to_string(i) + tag});
    }
    // Written beside and renamed, as a file replaced between samples would be.
    testsupport::WriteFileBytes(dir.File(file + ".new"), testsupport::TableImage(table).Image());
    std::filesystem::rename(dir.File(file + ".new"), dir.File(file));
  }

  // A stream whose route 0 has `input` (JSON members after SAMPLE_OSTREL), plus `routes`.
  std::unique_ptr<DefaultStream> Make(const std::string& input, const std::string& more = "") {
    std::string members = R"("SAMPLE_OSTREL":)" + streamtest::Quote(dir.File("sample.ostrel"));
    if (!input.empty()) members += "," + input;
    StreamDef* def = Scan("DEFAULT", "", streamtest::Route("t", "{" + members + "}") + more);
    return std::make_unique<DefaultStream>("S", def);
  }

  static std::vector<std::string> Expected(int i, const std::string& tag = "") {
    return {std::to_string(i), "row " + std::to_string(i) + tag};
  }
};

TEST_F(DefaultStreamTest, InitRefusesBadKeysAndSampleFiles) {
  struct Case {
    std::string route;
    std::string line;
  };
  const std::string path = streamtest::Quote(dir.File("sample.ostrel"));
  const std::vector<Case> cases = {
      {streamtest::Route("t", ""), "Failed to initialize S - missing INPUT field \"SAMPLE_OSTREL\""},
      {streamtest::Route("t", R"({"SAMPLE_RATE":"5"})"), "missing INPUT field \"SAMPLE_OSTREL\""},
      {streamtest::Route("t", R"({"SAMPLE_OSTREL":5})"), "Failed to initialize S - invalid INPUT field \"SAMPLE_OSTREL\""},
      {streamtest::Route("t", R"({"SAMPLE_OSTREL":"/no/such/file"})"),
       "Failed to initialize S - could not load the sample Ostrel"},
      {streamtest::Route("t", "{\"SAMPLE_OSTREL\":" + streamtest::Quote(dir.File("apiconfig.json")) + "}"),
       "could not load the sample Ostrel"},
      {streamtest::Route("t", "{\"SAMPLE_OSTREL\":" + path + "}"), "Failed to initialize S - sample Ostrel has no data"},
      {streamtest::Route("missing", "{\"SAMPLE_OSTREL\":" + path + "}"), "Failed to register target: al/db/missing"},
  };
  WriteSample("sample.ostrel", 0);
  for (size_t i = 0; i < cases.size(); ++i) {
    if (i + 1 == cases.size()) WriteSample("sample.ostrel", 2);
    DefaultStream stream("S", Scan("DEFAULT", "", cases[i].route));
    const size_t before = LogCount(cases[i].line);
    EXPECT_FALSE(stream.Init()) << cases[i].line;
    EXPECT_FALSE(stream.ready);
    EXPECT_EQ(LogCount(cases[i].line), before + 1) << log.Text();
  }
}

TEST_F(DefaultStreamTest, Keys) {
  WriteSample("sample.ostrel", 3);
  struct Case {
    std::string input;
    uint64_t rate;
    uint64_t reset;
    int32_t method;
  };
  const std::vector<Case> cases = {
      {"", 5, 0, 0},
      {R"("SAMPLE_RATE":"  +40ms","RESET_COUNT":"12","METHOD":"RANDOM")", 40, 12, 0},
      {R"("SAMPLE_RATE":40,"RESET_COUNT":"")", 5, 0, 0},
      {R"("SAMPLE_RATE":"fast")", 0, 0, 0},
      {R"("SAMPLE_RATE":"-1")", DefaultStream::kMaxSampleRate, 0, 0},
      {R"("SAMPLE_RATE":"99999999999999999999999")", DefaultStream::kMaxSampleRate, 0, 0},
      {R"("METHOD":"ordered","RESET_COUNT":"9")", 5, 9, 0},
      {R"("METHOD":"ORDERED","RESET_COUNT":"9")", 5, 3, 1},  // the row count wins
  };
  for (const Case& c : cases) {
    auto stream = Make(c.input);
    ASSERT_TRUE(stream->Init()) << c.input << log.Text();
    EXPECT_TRUE(stream->ready);
    EXPECT_EQ(stream->sampleRate, c.rate) << c.input;
    EXPECT_EQ(stream->resetCount, c.reset) << c.input;
    EXPECT_EQ(stream->method, c.method) << c.input;
  }
  EXPECT_GE(LogCount("Initializing Default Stream: S"), cases.size());
}

TEST_F(DefaultStreamTest, OrderedReplayResetsAfterTheLastRow) {
  WriteSample("sample.ostrel", 3);
  auto stream = Make(R"("METHOD":"ORDERED")");
  ASSERT_TRUE(stream->Init());
  for (int i = 0; i < 3; ++i) stream->RunPeriod();
  EXPECT_EQ(TargetRows("t"), (Rows{Expected(0), Expected(1), Expected(2)}));
  EXPECT_TRUE(ClearedTables().empty());

  stream->RunPeriod();  // the reset period: a clear and nothing else
  EXPECT_EQ(RowCount("t"), 0);
  EXPECT_EQ(ClearedTables(), std::vector<std::string>{"t"});
  EXPECT_EQ(stream->sampleCounter, 0u);
  EXPECT_EQ(LogCount("Reset Target: al/db/t"), 1u);

  stream->RunPeriod();
  EXPECT_EQ(TargetRows("t"), Rows{Expected(0)});
}

TEST_F(DefaultStreamTest, RandomReplayDrawsRowsOfTheTable) {
  WriteSample("sample.ostrel", 4);
  auto stream = Make(R"("RESET_COUNT":"400")");
  ASSERT_TRUE(stream->Init());
  for (int i = 0; i < 400; ++i) stream->RunPeriod();
  const Rows rows = TargetRows("t");
  ASSERT_EQ(rows.size(), 400u);
  std::set<std::string> seen;
  for (const auto& row : rows) {
    ASSERT_EQ(row, Expected(std::stoi(row[0])));
    seen.insert(row[0]);
  }
  EXPECT_EQ(seen.size(), 4u);  // each of 4 rows missed in 400 draws: odds below 1e-49
  stream->RunPeriod();
  EXPECT_EQ(ClearedTables().size(), 1u);
}

TEST_F(DefaultStreamTest, WithoutResetCountEveryPeriodResets) {
  WriteSample("sample.ostrel", 2);
  auto stream = Make("");
  ASSERT_TRUE(stream->Init());
  for (int i = 0; i < 3; ++i) stream->RunPeriod();
  EXPECT_EQ(RowCount("t"), 0);
  EXPECT_EQ(ClearedTables().size(), 3u);
}

TEST_F(DefaultStreamTest, PausedPeriodsDoNothing) {
  WriteSample("sample.ostrel", 2);
  auto stream = Make(R"("METHOD":"ORDERED")");
  ASSERT_TRUE(stream->Init());
  stream->paused = true;
  for (int i = 0; i < 5; ++i) stream->RunPeriod();
  EXPECT_EQ(RowCount("t"), 0);
  EXPECT_TRUE(ClearedTables().empty());
  EXPECT_EQ(stream->sampleCounter, 0u);
}

TEST_F(DefaultStreamTest, OnlyRouteZeroGetsRowsAndResets) {
  WriteTarget("u", {"id", "name"}, {2, 6});
  WriteSample("sample.ostrel", 1);
  auto stream = Make(R"("METHOD":"ORDERED")", "," + streamtest::Route("u", ""));
  ASSERT_TRUE(stream->Init());
  ASSERT_NE(client.GetTarget("al", "db", "u"), nullptr);  // registered all the same
  stream->RunPeriod();
  stream->RunPeriod();
  std::istringstream words("r q");
  stream->consoleIn = &words;
  stream->RunTerminal();
  EXPECT_EQ(ClearedTables(), (std::vector<std::string>{"t", "t"}));
  EXPECT_EQ(RowCount("u"), 0);
  EXPECT_TRUE(client.done);
}

TEST_F(DefaultStreamTest, ConsoleWords) {
  WriteSample("sample.ostrel", 3);
  auto stream = Make(R"("METHOD":"ORDERED")");
  ASSERT_TRUE(stream->Init());
  // "-" 5 -> 10 ms; "+" back to 5, then 1 and it stays 1; "S" (lower-cased) and "s" while
  // paused still sample; two-letter words and unknown letters do nothing.
  std::istringstream words("- + + + SS x P S s p q s");
  stream->consoleIn = &words;
  stream->RunTerminal();
  EXPECT_EQ(stream->sampleRate, 1u);
  EXPECT_EQ(LogCount("New Sample Rate: 100FPS"), 1u);
  EXPECT_EQ(LogCount("New Sample Rate: 200FPS"), 1u);
  EXPECT_EQ(LogCount("New Sample Rate: 1000FPS"), 2u);
  EXPECT_FALSE(stream->paused);
  EXPECT_EQ(TargetRows("t"), (Rows{Expected(0), Expected(1)}));
  EXPECT_EQ(stream->sampleCounter, 2u);
  EXPECT_TRUE(client.done);  // "q" asked the service to quit; the "s" after it was not read
}

TEST_F(DefaultStreamTest, SampleFileReplacedShrunkOrRemovedBetweenSamples) {
  WriteSample("sample.ostrel", 3);
  auto stream = Make(R"("METHOD":"ORDERED")");
  ASSERT_TRUE(stream->Init());
  stream->RunPeriod();
  WriteSample("sample.ostrel", 3, " v2");
  stream->RunPeriod();
  EXPECT_EQ(TargetRows("t"), (Rows{Expected(0), Expected(1, " v2")}));

  // Shrunk to 2 rows while the counter stands at 2: nothing is sent, the next period resets.
  WriteSample("sample.ostrel", 2);
  stream->RunPeriod();
  EXPECT_EQ(RowCount("t"), 2);
  EXPECT_EQ(stream->sampleCounter, 3u);
  stream->RunPeriod();
  EXPECT_EQ(ClearedTables().size(), 1u);

  // Removed, then cut short: nothing sent, the counter still advances, one log line for
  // the burst of failures.
  std::filesystem::remove(dir.File("sample.ostrel"));
  stream->RunPeriod();
  testsupport::WriteFileBytes(dir.File("sample.ostrel"), "BS");
  stream->RunPeriod();
  stream->RunPeriod();
  EXPECT_EQ(RowCount("t"), 0);
  EXPECT_EQ(stream->sampleCounter, 3u);
  EXPECT_EQ(LogCount("Failed to load the sample Ostrel of S: " + dir.File("sample.ostrel")), 1u) << log.Text();

  WriteSample("sample.ostrel", 3, " v3");
  stream->RunPeriod();  // the counter reached the reset count
  stream->RunPeriod();
  EXPECT_EQ(TargetRows("t"), Rows{Expected(0, " v3")});
}

// The sample image read last is kept while the file shows the version it was read from and
// that read began a second or more after the file's last change; any other version, or a
// read so soon after a change that a second rewrite in the same clock tick could have left
// every field equal, makes the next sample read the file again. A file that is gone drops
// the image.
TEST_F(DefaultStreamTest, SampleImageIsReadAgainOnlyWhenTheFileMayHaveChanged) {
  const std::string path = dir.File("sample.ostrel");
  auto setTimes = [&](int64_t shift) {
    AppCore::FileVersion v;
    ASSERT_TRUE(AppCore::GetFileVersion(path, v));
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(v.modified / 1000000000 + shift), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  // Rewritten in place with as many bytes, then the version read is made the new one: as
  // if both writes had fallen in one tick of the file system's clock.
  auto sameVersionRewrite = [&](DefaultStream& stream) {
    testsupport::WriteFileBytes(path, testsupport::ReadFileBytes(dir.File("v2.ostrel")));
    ASSERT_TRUE(AppCore::GetFileVersion(path, stream.sample.version));
  };
  struct Case {
    std::string what;
    int64_t readAfterChange;  // ns from the file's last change to the start of the read
    std::function<void(DefaultStream&)> change;
    std::string rowTag;  // of the row sent next ("-" none)
    bool readAgain;
  };
  const int64_t settled = SampleImage::kSettleNs;
  const std::vector<Case> cases = {
      {"unchanged", settled, [](DefaultStream&) {}, "", false},
      {"unchanged, read within a second of a change", settled - 1, [](DefaultStream&) {}, "", true},
      {"replaced", settled, [&](DefaultStream&) { WriteSample("sample.ostrel", 3, "*2"); }, "*2", true},
      {"grown in place", settled, [&](DefaultStream&) {
         testsupport::WriteFileBytes(path, testsupport::ReadFileBytes(dir.File("v3.ostrel"))); }, "*33", true},
      {"modification time set back", settled, [&](DefaultStream&) { setTimes(-3600); }, "", true},
      {"same version, read within a second of a change", settled - 1, sameVersionRewrite, "*2", true},
      {"same version, read a second after the change", settled, sameVersionRewrite, "", false},
      {"removed", settled, [&](DefaultStream&) { std::filesystem::remove(path); }, "-", true},
  };
  WriteSample("v2.ostrel", 3, "*2");
  WriteSample("v3.ostrel", 3, "*33");
  for (const Case& c : cases) {
    WriteSample("sample.ostrel", 3);
    auto stream = Make(R"("METHOD":"ORDERED")");
    ASSERT_TRUE(stream->Init());
    stream->RunPeriod();
    ASSERT_TRUE(stream->sample.kept) << c.what;
    SampleImage& image = stream->sample;
    c.change(*stream);
    image.readTime = std::max(image.version.modified, image.version.changed) + c.readAfterChange;
    const int64_t readTime = image.readTime;
    stream->RunPeriod();
    EXPECT_EQ(image.readTime != readTime, c.readAgain) << c.what;
    if (c.rowTag == "-") {
      EXPECT_EQ(TargetRows("t"), Rows{Expected(0)}) << c.what;
      EXPECT_FALSE(image.kept);
      EXPECT_EQ(image.container.buffer.size, 0u) << c.what;
    } else {
      EXPECT_EQ(TargetRows("t"), (Rows{Expected(0), Expected(1, c.rowTag)})) << c.what;
    }
    client.ResetTarget("al", "db", "t");
  }
}

TEST_F(DefaultStreamTest, RunsOnItsThreadAndQuitsAtOnce) {
  WriteSample("sample.ostrel", 5);
  auto stream = Make(R"("METHOD":"ORDERED","SAMPLE_RATE":"1")");
  ASSERT_TRUE(stream->Init());
  std::istringstream none("");
  stream->consoleIn = &none;
  std::thread run([&] { stream->Run(); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ClearedTables().size() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  stream->Quit();
  run.join();
  EXPECT_GE(ClearedTables().size(), 2u);
  EXPECT_EQ(LogCount("Running Default Stream: S"), 1u);
  EXPECT_EQ(LogCount("Exiting Default Stream: S"), 1u);
}

TEST_F(DefaultStreamTest, LongestPeriodStillQuitsAtOnce) {
  WriteSample("sample.ostrel", 1);
  auto stream = Make(R"("SAMPLE_RATE":"-1")");
  ASSERT_TRUE(stream->Init());
  std::istringstream none("");
  stream->consoleIn = &none;
  std::thread run([&] { stream->Run(); });
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  stream->Quit();
  run.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(RowCount("t"), 0);
  EXPECT_TRUE(ClearedTables().empty());
}

TEST(StreamKinds, RegisteredByType) {
  RegisterStreamKinds();
  std::unique_ptr<StreamBase> replay(StreamRegistry::Create("DEFAULT", "r", nullptr));
  std::unique_ptr<StreamBase> kafka(StreamRegistry::Create("KAFKA", "k", nullptr));
  std::unique_ptr<StreamBase> carsim(StreamRegistry::Create("CARSIM", "c", nullptr));
  EXPECT_NE(dynamic_cast<DefaultStream*>(replay.get()), nullptr);
  EXPECT_NE(dynamic_cast<KafkaStream*>(kafka.get()), nullptr);
  EXPECT_NE(dynamic_cast<CarSimStream*>(carsim.get()), nullptr);
  EXPECT_EQ(replay->name, "r");
  EXPECT_EQ(StreamRegistry::Create("default", "x", nullptr), nullptr);
}

}  // namespace
