// The service binary end to end, with its fixed paths and port, inside private namespaces
// (tests/support/Namespace.h): exit codes, log files, the reconnection gap seen at the
// stand-in, the operator's "q", and a reset typed while the link is down. A WebSocket
// library exception cannot be provoked from outside the binary; startup_test shows the new
// pass in-process.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <variant>

#include "support/FileBytes.h"
#include "support/Namespace.h"
#include "support/WireEncoder.h"

namespace {

using namespace std::chrono_literals;
using testsupport::NamespaceRun;

const std::string kBinary = TVX_BUILD_DIR "/TolvexServerAPI";
const std::string kConfig = "/opt/tolvexserver/conf/apiconfig.json";
const std::string kLogDir = "/var/log/tolvexserver";

std::string Config(const std::string& type, const std::string& status, const std::string& input) {
  return R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
         R"("WEBSERVER_ADDRESS":"localhost","UPDATE_RATE":"100"},"Stream List":[)"
         R"({"NAME":"replay","TYPE":")" + type + R"(","STATUS":")" + status + R"(","ROUTES":[{"INPUT":{)" +
         input + R"(},"TARGET":{"ALIAS":"api","DATABASE_NAME":"live","TABLE_NAME":"numbers"},)"
         R"("LOGIC":{"ACTION":"UPSERT","KEY":"n"}}]}]})";
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  for (auto until = std::chrono::steady_clock::now() + timeout; !done();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The one log file of the run.
std::string OnlyLog(NamespaceRun& run) {
  std::vector<std::string> logs = run.ListDir(kLogDir);
  EXPECT_EQ(logs.size(), 1u);
  return logs.empty() ? "" : run.ReadFile(kLogDir + "/" + logs[0]);
}

// The target table file and a sample table of `rows` numbered rows for a replay stream.
void WriteReplayFiles(NamespaceRun& run, int64_t rows = 10) {
  testsupport::WireTable table;
  table.name = "numbers";
  table.colNames = {"n", "text"};
  table.colTypes = {3, 6};
  table.colSizes = {0, 255};
  run.WriteFile("/var/www/ostrel/live/OSTREL.api/live/numbers.ostrel", testsupport::TableImage(table).Image());
  for (int64_t i = 0; i < rows; ++i) table.rows.push_back({i, "row " + std::to_string(i)});
  run.WriteFile("/opt/tolvexserver/data/sample.ostrel", testsupport::TableImage(table).Image());
}

TEST(ServiceEndToEnd, UnusableLogDirectoryExitsWith255) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  NamespaceRun::Options options;
  // A file where the log directory should be: it can be neither used nor created.
  options.setup = "umount " + kLogDir + " && rmdir " + kLogDir + " && touch " + kLogDir;
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, options, &error)) << error;
  EXPECT_EQ(run.Wait(20s), 255);
  EXPECT_TRUE(run.Process().WaitForLine("Failed to create directory: /var/log/tolvexserver/", 1s));
}

// A configuration that cannot be used ends the start-up with 255, never waiting: a FIFO
// is refused as unreadable rather than opened (which would wait for a writer forever).
TEST(ServiceEndToEnd, BadConfigurationExitsWith255) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  struct Case {
    std::string what, setup, message;
  } cases[] = {
      {"no settings", "", "Failed to setup Tolvex Server API Config"},
      {"a FIFO", "rm " + kConfig + " && mkfifo " + kConfig, "Invalid JSON in file: " + kConfig},
  };
  for (const Case& c : cases) {
    NamespaceRun run;
    run.WriteFile(kConfig, R"({"Global Config":{},"Stream List":[]})");
    NamespaceRun::Options options;
    options.setup = c.setup;
    std::string error;
    ASSERT_TRUE(run.Start({kBinary}, options, &error)) << error;
    EXPECT_EQ(run.Wait(20s), 255) << c.what;
    std::string log = OnlyLog(run);
    EXPECT_NE(log.find("Tolvex Server API Version 3.5.20251016 BOOT UP"), std::string::npos) << log;
    EXPECT_NE(log.find(c.message), std::string::npos) << c.what << log;
    EXPECT_NE(log.find("Failed to setup Tolvex Server API Config"), std::string::npos) << log;
    EXPECT_NE(log.find("Tolvex Server API CLOSED"), std::string::npos) << log;
  }
}

TEST(ServiceEndToEnd, LinkClosedByTheServerReopensAfterFiveSeconds) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  // No active stream: the update cycle runs with nothing to send.
  run.WriteFile(kConfig, Config("DEFAULT", "OFF", ""));
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  const auto started = std::chrono::steady_clock::now();
  std::string line;
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"handshake\"", 10s, &line));
  EXPECT_NE(line.find("\"path\":\"/?login=api\""), std::string::npos) << line;
  EXPECT_NE(line.find("permessage-deflate; client_no_context_takeover; client_max_window_bits"), std::string::npos);
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"open\",\"conn\":1", 10s));
  // The reason holds ESC and CR: raw, they would forge a line of the service's own.
  ASSERT_TRUE(run.StandIn("close 1000 bye\x1b[2K\rTolvex Server API CLOSED"));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"open\",\"conn\":2", 15s));
  // The first reconnection waits for more than 5 s after the process started.
  EXPECT_GT(std::chrono::steady_clock::now() - started, 5s);
  std::string log = OnlyLog(run);
  EXPECT_NE(log.find("Connection Closed, Reason: close code: 1000 (Normal close), close reason: "
                     "bye\\x1B[2K\\x0DTolvex Server API CLOSED\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find_first_of("\x1b\r"), std::string::npos) << log;
  EXPECT_NE(log.find("Restarting Socket Connection"), std::string::npos) << log;
}

// The cases below run a replay stream ("DEFAULT").

// A stream whose files cannot be read fails its start-up and the service ends normally;
// a FIFO in place of a file is refused at once, never waited on.
TEST(ServiceEndToEnd, FailingStreamEndsNormallyWithUnableToStart) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  const std::string sample = "/opt/tolvexserver/data/sample.ostrel";
  const std::string table = "/var/www/ostrel/live/OSTREL.api/live/numbers.ostrel";
  struct Case {
    std::string what, samplePath, setup;
  } cases[] = {
      {"missing sample", "/opt/tolvexserver/data/missing.ostrel", ""},
      {"FIFO sample", sample, "rm " + sample + " && mkfifo " + sample},
      {"FIFO table file", sample, "rm " + table + " && mkfifo " + table},
  };
  for (const Case& c : cases) {
    NamespaceRun run;
    WriteReplayFiles(run);
    run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":")" + c.samplePath + R"(")"));
    NamespaceRun::Options options;
    options.setup = c.setup;
    std::string error;
    ASSERT_TRUE(run.Start({kBinary}, options, &error)) << error;
    EXPECT_EQ(run.Wait(20s), 0) << c.what;
    std::string log = OnlyLog(run);
    size_t failed = log.find("Failed to initialize stream: replay");
    size_t unable = log.find("Unable to start Tolvex Server API");
    ASSERT_NE(failed, std::string::npos) << c.what << log;
    EXPECT_LT(failed, unable);
    EXPECT_NE(log.find("Tolvex Server API CLOSED", unable), std::string::npos) << log;
  }
}

TEST(ServiceEndToEnd, QuitOnTheConsoleEndsNormallyWithTheLogCutToItsText) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  WriteReplayFiles(run);
  run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":"/opt/tolvexserver/data/sample.ostrel")"));
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 20s));
  ASSERT_TRUE(run.WriteStdin("q"));
  EXPECT_EQ(run.Wait(10s), 0);
  EXPECT_TRUE(run.WaitForStandIn("\"code\":1001", 5s));
  std::string log = OnlyLog(run);
  // The client joins the stream threads after the last line of the service: only a
  // stream's own last line may follow it.
  const std::string closed = "Tolvex Server API CLOSED\n";
  const size_t at = log.find(closed);
  ASSERT_NE(at, std::string::npos) << log;
  const std::string after = log.substr(at + closed.size());
  EXPECT_TRUE(after.empty() || (after.find("Exiting Default Stream: replay\n") != std::string::npos &&
                                after.find('\n') == after.size() - 1))
      << after;
  EXPECT_EQ(log.find('\0'), std::string::npos);
}

// Another program rewriting the sample in place (as cp does) while the stream reads it for
// every sample: each read gives a whole table or fails, and the service keeps running.
TEST(ServiceEndToEnd, SampleRewrittenWhileReplayedNeverEndsTheService) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  WriteReplayFiles(run);
  const std::string sample = "/opt/tolvexserver/data/sample.ostrel";
  run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":")" + sample + R"(","SAMPLE_RATE":"0","RESET_COUNT":"1000000000")"));
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 20s));
  const std::string image = run.ReadFile(sample);
  const std::string other = image.substr(0, image.size() / 2);  // a table cut short
  int rewrites = 0;
  for (auto until = std::chrono::steady_clock::now() + 2s; std::chrono::steady_clock::now() < until; ++rewrites) {
    ASSERT_TRUE(run.WriteFile(sample, rewrites % 2 == 0 ? other : image));
  }
  EXPECT_EQ(run.Wait(0ms), -1) << "ended after " << rewrites << " rewrites";
  ASSERT_TRUE(run.WriteStdin("q"));
  EXPECT_EQ(run.Wait(10s), 0);
}

// The log's directory on a full file system: the service runs on, says once on standard
// error that its log is failing, keeps the lines, and writes them out once there is room
// again, also when the disk fills up a second time while it runs.
TEST(ServiceEndToEnd, FullLogDiskKeepsTheServiceRunningAndTheLinesPending) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  WriteReplayFiles(run);
  run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":"/opt/tolvexserver/data/sample.ostrel")"));
  NamespaceRun::Options options;
  options.setup = "mount -t tmpfs -o size=256k tvx-full " + kLogDir + " && (cat /dev/zero > " + kLogDir +
                  "/filler 2>/dev/null || true)";
  std::string error;
  // Standard error goes to a file the test can read.
  ASSERT_TRUE(run.Start({"bash", "-c", "exec " + kBinary + " 2>/opt/tolvexserver/stderr"}, options, &error)) << error;
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 20s));
  // The run's own view of the log directory (the full file system is mounted only there).
  const std::string logDir = "/proc/" + std::to_string(run.Process().Pid()) + "/root" + kLogDir;
  auto log = [&] {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(logDir, ec)) {
      if (entry.path().extension() == ".log") return testsupport::ReadFileBytes(entry.path());
    }
    return std::string("<no log>");
  };
  ASSERT_TRUE(run.WriteStdin("-"));  // logs the new sample rate
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(run.Wait(0ms), -1);
  EXPECT_EQ(log(), "");

  std::filesystem::remove(logDir + "/filler");
  ASSERT_TRUE(run.WriteStdin("+"));
  ASSERT_TRUE(WaitFor([&] { return log().find("New Sample Rate: 200FPS") != std::string::npos; }, 10s)) << log();
  std::string text = log();
  EXPECT_NE(text.find("BOOT UP"), std::string::npos) << text;
  EXPECT_NE(text.find("New Sample Rate: 100FPS"), std::string::npos) << text;

  {  // full again while it runs: lines pend past the room the file still has
    std::ofstream filler(logDir + "/filler", std::ios::binary);
    const std::string block(4096, '\0');
    while (filler.write(block.data(), block.size())) {
    }
  }
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(run.WriteStdin(i % 2 == 0 ? "-" : "+"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(run.Wait(0ms), -1);
  std::filesystem::remove(logDir + "/filler");
  ASSERT_TRUE(run.WriteStdin("-"));
  ASSERT_TRUE(WaitFor([&] {
    std::string t = log();
    size_t n = 0;
    for (size_t at = 0; (at = t.find("New Sample Rate", at)) != std::string::npos; ++at) ++n;
    return n == 43;
  }, 10s)) << log();
  ASSERT_TRUE(run.WriteStdin("q"));
  EXPECT_EQ(run.Wait(10s), 0);
  // Once for each of the two times the disk was full.
  std::string errors = run.ReadFile("/opt/tolvexserver/stderr");
  size_t said = 0;
  for (size_t at = 0; (at = errors.find("cannot be written", at)) != std::string::npos; ++at) ++said;
  EXPECT_EQ(said, 2u) << errors;
}

// A reset typed while the link is down reaches the server once the link is back, before
// the rows of the new cycle.
TEST(ServiceEndToEnd, ResetDuringAnOutageIsClearedBeforeTheNextRows) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  WriteReplayFiles(run, 20000);  // no cycle of its own ends (and clears) during the test
  run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":"/opt/tolvexserver/data/sample.ostrel",)"
                                                 R"("SAMPLE_RATE":"2","METHOD":"ORDERED")"));
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 20s));
  ASSERT_TRUE(run.StandIn("admit refuse"));
  ASSERT_TRUE(run.StandIn("close 1000 maintenance"));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"close\"", 10s));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(run.WriteStdin("r"));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(run.StandIn("admit accept"));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"open\",\"conn\":2", 20s));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(run.WriteStdin("q"));
  EXPECT_EQ(run.Wait(10s), 0);

  // On the new connection: the clear, then the new cycle from its first row, in order.
  std::vector<std::string> events;
  std::vector<int64_t> numbers;
  for (const standin::Received& m : run.StandInMessages()) {
    if (m.connection != 2) continue;
    std::string event;
    m.message.GetText("Event", &event);
    events.push_back(event);
    for (const auto& row : m.table.rows) numbers.push_back(std::get<int64_t>(row.at(0)));
  }
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0], "CLEAR");
  for (size_t i = 1; i < events.size(); ++i) EXPECT_EQ(events[i], "UPSERT") << i;
  ASSERT_FALSE(numbers.empty());
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int64_t>(i));
  EXPECT_NE(OnlyLog(run).find("Reset Target: api/live/numbers"), std::string::npos);
}

}  // namespace
