// Start-up passes in-process, against the stand-in on a free port: exit codes, log files,
// the shutdown order and a new pass after an exception of the WebSocket library.

#include "service/Startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/LogManager.h"
#include "foundation/ch_ThreadPool.h"
#include "link_test_util.h"
#include "support/TempDir.h"
#include "tools/standin/StandInServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The log files of `dir`, oldest name first.
std::vector<fs::path> LogFiles(const std::string& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    linktest::RegisterTestKinds();
    std::string error;
    ASSERT_TRUE(server.Start(0, &error)) << error;
    options.logDir = dir.File("log/");
    options.configPath = dir.File("apiconfig.json");
    options.dataDir = dir.Path();
    options.host = "127.0.0.1";
    options.port = server.Port();
    options.restartPause = 50ms;
    options.hardwareThreads = 4;
  }
  void WriteConfig(const std::string& text) { std::ofstream(options.configPath) << text; }
  int RunService() {
    testing::internal::CaptureStdout();
    int code = Startup::Run("/usr/bin/TolvexServerAPI", options);
    stdoutText = testing::internal::GetCapturedStdout();
    LogManager::Global.Close();  // cut to its text, as at process exit
    return code;
  }

  testsupport::TempDir dir;
  standin::StandInServer server;
  Startup::Options options;
  std::string stdoutText;
};

TEST(Startup, PoolRequestFollowsTheHardwareThreads) {
  const std::vector<std::pair<unsigned, unsigned>> cases = {
      {0, 3}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 2}, {6, 3}, {8, 3}, {64, 3}, {259, 3}};
  for (const auto& [hardware, request] : cases) EXPECT_EQ(Startup::PoolRequest(hardware), request) << hardware;
  EXPECT_EQ(Startup::Version(), "3.5.20251016");
}

TEST(Startup, LogFileNameNeverNamesAnExistingFile) {
  testsupport::TempDir dir;
  std::string first = Startup::LogFileName(dir.Path());
  EXPECT_EQ(first.rfind("TolvexServerAPI_", 0), 0u);
  EXPECT_EQ(first.size(), std::string("TolvexServerAPI_YYMMDDHHMMSS.log").size());
  std::ofstream(dir.File(first)) << "earlier pass";
  std::string second = Startup::LogFileName(dir.Path());
  std::ofstream(dir.File(second)) << "earlier pass";
  std::string third = Startup::LogFileName(dir.Path());
  EXPECT_NE(second, first);
  EXPECT_NE(third, second);
  EXPECT_NE(third, first);
}

TEST_F(StartupTest, UnusableLogDirectoryEndsWithMinusOne) {
  options.logDir = dir.File("missing/parent/log/");
  EXPECT_EQ(RunService(), -1);
  EXPECT_EQ(stdoutText, "Failed to create directory: " + options.logDir + "\n");
  EXPECT_FALSE(fs::exists(options.logDir));
}

TEST_F(StartupTest, BadConfigurationEndsWithMinusOne) {
  WriteConfig("{\"Global Config\":");
  EXPECT_EQ(RunService(), -1);
  std::vector<fs::path> logs = LogFiles(options.logDir);
  ASSERT_EQ(logs.size(), 1u);
  std::string text = ReadText(logs[0]);
  EXPECT_NE(text.find("Tolvex Server API Version 3.5.20251016 BOOT UP"), std::string::npos);
  EXPECT_NE(text.find("/usr/bin/TolvexServerAPI"), std::string::npos);
  size_t failed = text.find("Failed to setup Tolvex Server API Config");
  ASSERT_NE(failed, std::string::npos) << text;
  EXPECT_NE(text.find("Tolvex Server API CLOSED", failed), std::string::npos);
  EXPECT_EQ(server.OpenedTotal(), 0u);
}

TEST_F(StartupTest, FailedStreamEndsNormallyWithoutRunning) {
  WriteConfig(linktest::ConfigText({{"broken", "FAILING"}}));
  EXPECT_EQ(RunService(), 0);
  std::string text = ReadText(LogFiles(options.logDir).at(0));
  size_t a = text.find("Failed to initialize stream: broken");
  size_t b = text.find("Unable to start Tolvex Server API");
  size_t c = text.find("Tolvex Server API CLOSED");
  ASSERT_NE(a, std::string::npos) << text;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_EQ(c + std::string("Tolvex Server API CLOSED\n").size(), text.size()) << "CLOSED is the last line";
  EXPECT_EQ(WSOCK, nullptr);
  EXPECT_EQ(TPOOL, nullptr);
}

TEST_F(StartupTest, NormalRunSendsItsRowsAndQuitsWithGoingAway) {
  WriteConfig(linktest::ConfigText({{"numbers", "NUMBERED"}}, "20", R"("QUIT_AFTER":"5")"));
  EXPECT_EQ(RunService(), 0);
  EXPECT_EQ(server.RowsOf("numbers").size(), 5u);
  ASSERT_TRUE(server.WaitForCloses(1, 10s));
  EXPECT_EQ(server.Closes()[0].remoteCode, 1001);
  std::vector<fs::path> logs = LogFiles(options.logDir);
  ASSERT_EQ(logs.size(), 1u);
  std::string text = ReadText(logs[0]);
  // Cut to its text: no zeros of the file's growth past the last line.
  EXPECT_EQ(text.find('\0'), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - std::string("Tolvex Server API CLOSED\n").size()), "Tolvex Server API CLOSED\n");
}

TEST_F(StartupTest, WebSocketExceptionStartsANewPassWithANewLog) {
  WriteConfig(linktest::ConfigText({{"numbers", "THROWING"}}));
  EXPECT_EQ(RunService(), 0);
  std::vector<fs::path> logs = LogFiles(options.logDir);
  ASSERT_EQ(logs.size(), 2u);
  std::string first = ReadText(logs[0]), second = ReadText(logs[1]);
  EXPECT_NE(first.find("BOOT UP"), std::string::npos);
  const std::string last = "Tolvex Server API websocket exception: provoked by a test stream\n";
  ASSERT_GE(first.size(), last.size());
  EXPECT_EQ(first.substr(first.size() - last.size()), last) << first;
  EXPECT_NE(second.find("BOOT UP"), std::string::npos);
  EXPECT_EQ(second.find("websocket exception"), std::string::npos);
  EXPECT_NE(second.find("Tolvex Server API CLOSED"), std::string::npos);
  // The second pass initialised its stream again and ran it.
  EXPECT_EQ(server.RowsOf("numbers").size(), 3u);
  EXPECT_FALSE(TvxClient::IsRestart);
}

}  // namespace
