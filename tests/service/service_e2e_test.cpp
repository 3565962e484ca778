// The service binary end to end, with its fixed paths and port, inside private namespaces
// (tests/support/Namespace.h): exit codes, log files, the reconnection gap seen at the
// stand-in, and the operator's "q". A WebSocket library exception cannot be provoked from
// outside the binary; startup_test shows the new pass in-process.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

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

// The one log file of the run.
std::string OnlyLog(NamespaceRun& run) {
  std::vector<std::string> logs = run.ListDir(kLogDir);
  EXPECT_EQ(logs.size(), 1u);
  return logs.empty() ? "" : run.ReadFile(kLogDir + "/" + logs[0]);
}

// The target table file and a sample table of ten numbered rows for a replay stream.
void WriteReplayFiles(NamespaceRun& run) {
  testsupport::WireTable table;
  table.name = "numbers";
  table.colNames = {"n", "text"};
  table.colTypes = {3, 6};
  table.colSizes = {0, 255};
  run.WriteFile("/var/www/ostrel/live/OSTREL.api/live/numbers.ostrel", testsupport::TableImage(table).Image());
  for (int64_t i = 0; i < 10; ++i) table.rows.push_back({i, "row " + std::to_string(i)});
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

TEST(ServiceEndToEnd, BadConfigurationExitsWith255) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  run.WriteFile(kConfig, R"({"Global Config":{},"Stream List":[]})");
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  EXPECT_EQ(run.Wait(20s), 255);
  std::string log = OnlyLog(run);
  EXPECT_NE(log.find("Tolvex Server API Version 3.5.20251016 BOOT UP"), std::string::npos) << log;
  EXPECT_NE(log.find("Failed to setup Tolvex Server API Config"), std::string::npos) << log;
  EXPECT_NE(log.find("Tolvex Server API CLOSED"), std::string::npos) << log;
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
  ASSERT_TRUE(run.StandIn("close 1000 bye"));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"open\",\"conn\":2", 15s));
  // The first reconnection waits for more than 5 s after the process started.
  EXPECT_GT(std::chrono::steady_clock::now() - started, 5s);
  std::string log = OnlyLog(run);
  EXPECT_NE(log.find("Connection Closed, Reason: close code: 1000 (Normal close), close reason: bye"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Restarting Socket Connection"), std::string::npos) << log;
}

// The two cases below run a replay stream ("DEFAULT").
TEST(ServiceEndToEnd, FailingStreamEndsNormallyWithUnableToStart) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  WriteReplayFiles(run);
  run.WriteFile(kConfig, Config("DEFAULT", "ON", R"("SAMPLE_OSTREL":"/opt/tolvexserver/data/missing.ostrel")"));
  std::string error;
  ASSERT_TRUE(run.Start({kBinary}, &error)) << error;
  EXPECT_EQ(run.Wait(20s), 0);
  std::string log = OnlyLog(run);
  size_t failed = log.find("Failed to initialize stream: replay");
  size_t unable = log.find("Unable to start Tolvex Server API");
  ASSERT_NE(failed, std::string::npos) << log;
  EXPECT_LT(failed, unable);
  EXPECT_NE(log.find("Tolvex Server API CLOSED", unable), std::string::npos) << log;
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
  const std::string closed = "Tolvex Server API CLOSED\n";
  ASSERT_GE(log.size(), closed.size());
  EXPECT_EQ(log.substr(log.size() - closed.size()), closed);
  EXPECT_EQ(log.find('\0'), std::string::npos);
}

}  // namespace
