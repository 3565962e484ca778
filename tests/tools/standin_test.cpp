// The stand-in data server, in-process on an ephemeral port and as the tvx_standin
// program, against a real WebSocket client.

#include <gtest/gtest.h>

#include <signal.h>

#include <mutex>

#include <filesystem>

#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/WireEncoder.h"
#include "support/WsTestClient.h"
#include "tools/standin/StandInRecord.h"
#include "tools/standin/StandInServer.h"

namespace standin {
namespace {

using namespace std::chrono_literals;
using testsupport::WireImage;
using testsupport::WireTable;
using testsupport::WsTestClient;

const char kOffer[] = "permessage-deflate; client_no_context_takeover; client_max_window_bits";

// A table update of `rows` numbered rows: id (INT) and label (TEXT, repetitive so that it
// compresses well).
std::string Update(const std::string& table, int first, int rows) {
  WireTable t;
  t.colNames = {"id", "label"};
  t.colTypes = {2, 6};
  for (int i = first; i < first + rows; ++i)
    t.rows.push_back({int64_t{i}, "row number " + std::to_string(i) + std::string(40, 'x')});
  return WireImage()
      .Text("Func", "API").Text("DBAlias", "alias").Text("DBName", "db").Text("TableName", table)
      .Text("Event", "UPSERT").Int32("KeyIndex", 0).Nested("Data", testsupport::TableImage(t)).Message();
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.SetReportSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mu_);
      report_.push_back(line);
    });
    std::string error;
    ASSERT_TRUE(server_.Start(0, &error)) << error;
    ASSERT_NE(server_.Port(), 0);
  }
  std::vector<std::string> Report() {
    std::lock_guard<std::mutex> lock(mu_);
    return report_;
  }
  bool Reported(const std::string& needle) {
    for (const auto& l : Report())
      if (l.find(needle) != std::string::npos) return true;
    return false;
  }

  // The sink runs until the server stops: the report outlives the server.
  std::mutex mu_;
  std::vector<std::string> report_;
  StandInServer server_;
};

TEST_F(StandInTest, CompressedUpdateIsRecordedAndDecoded) {
  WsTestClient client;
  std::string error;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s, &error)) << error;
  EXPECT_TRUE(client.Compressed());
  ASSERT_TRUE(client.Send(Update("cars", 1, 50)));
  ASSERT_TRUE(server_.WaitForMessages(1, 5s));

  auto hs = server_.Handshakes();
  ASSERT_EQ(hs.size(), 1u);
  EXPECT_EQ(hs[0].path, "/?login=api");
  EXPECT_EQ(hs[0].offeredExtensions, kOffer);
  EXPECT_TRUE(hs[0].deflate);

  auto msgs = server_.Messages();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_TRUE(msgs[0].compressed);
  EXPECT_TRUE(msgs[0].binary);
  ASSERT_TRUE(msgs[0].decoded) << msgs[0].error;
  ASSERT_TRUE(msgs[0].hasTable) << msgs[0].error;
  auto rows = server_.RowsOf("cars");
  ASSERT_EQ(rows.size(), 50u);
  EXPECT_EQ(rows[49][0], "50");
  EXPECT_TRUE(Reported("\"event\":\"message\""));
  EXPECT_TRUE(Reported("\"TableName\":\"cars\""));
  EXPECT_TRUE(Reported("\"compressed\":true"));
}

TEST_F(StandInTest, DeclinedCompressionGivesPlainFrames) {
  server_.SetDeclineCompression(true);
  WsTestClient client;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  EXPECT_FALSE(client.Compressed());
  ASSERT_TRUE(client.Send(Update("t", 0, 3)));
  ASSERT_TRUE(server_.WaitForMessages(1, 5s));
  EXPECT_FALSE(server_.Messages()[0].compressed);
  EXPECT_FALSE(server_.Handshakes()[0].deflate);
  EXPECT_EQ(server_.Handshakes()[0].offeredExtensions, kOffer);  // offered all the same
  EXPECT_EQ(server_.RowsOf("t").size(), 3u);
}

TEST_F(StandInTest, ClientWithoutExtensionSendsPlainFrames) {
  WsTestClient client(WsTestClient::Options{false, "/other"});
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  ASSERT_TRUE(client.Send(Update("t", 0, 2)));
  ASSERT_TRUE(server_.WaitForMessages(1, 5s));
  EXPECT_FALSE(server_.Messages()[0].compressed);
  EXPECT_EQ(server_.Handshakes()[0].path, "/other");
  EXPECT_EQ(server_.Handshakes()[0].offeredExtensions, "");
}

TEST_F(StandInTest, ManyMessagesArriveInOrder) {
  WsTestClient client;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(client.Send(Update("seq", i * 5, 5)));
  ASSERT_TRUE(server_.WaitForMessages(200, 10s));
  auto rows = server_.RowsOf("seq");
  ASSERT_EQ(rows.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(rows[i][0], std::to_string(i));
}

TEST_F(StandInTest, BadPayloadsAreReportedNotDropped) {
  WsTestClient client;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  ASSERT_TRUE(client.Send("hello", false));
  ASSERT_TRUE(client.Send(testsupport::MalformedFrame(testsupport::Malformed::kTruncatedImage)));
  ASSERT_TRUE(server_.WaitForMessages(2, 5s));
  auto msgs = server_.Messages();
  EXPECT_FALSE(msgs[0].decoded);
  EXPECT_FALSE(msgs[0].binary);
  EXPECT_FALSE(msgs[1].decoded);
  EXPECT_FALSE(msgs[1].error.empty());
  EXPECT_TRUE(Reported("\"event\":\"bad-message\""));
}

TEST_F(StandInTest, RepliesAndBrokenFramesReachTheClient) {
  for (bool decline : {false, true}) {
    server_.SetDeclineCompression(decline);
    WsTestClient client;
    ASSERT_TRUE(client.Connect(server_.Port(), 5s));
    ASSERT_TRUE(server_.WaitUntil([](const StandInServer::View& v) { return v.open == 1; }, 5s));
    EXPECT_EQ(server_.SendReply("API", "m7"), 1);
    EXPECT_EQ(server_.SendFailure("m8", "no such table"), 1);
    std::string broken = testsupport::MalformedFrame(testsupport::Malformed::kHugeCount);
    EXPECT_EQ(server_.SendToAll(broken), 1);
    ASSERT_TRUE(client.WaitForReceived(3, 5s));
    auto got = client.Received();
    testsupport::WireContainer m;
    std::string text;
    ASSERT_TRUE(testsupport::DecodeMessage(got[0], &m, nullptr));
    EXPECT_TRUE(m.GetText("MSID", &text) && text == "m7");
    ASSERT_TRUE(testsupport::DecodeMessage(got[1], &m, nullptr));
    EXPECT_TRUE(m.GetText("Func", &text) && text == "ERR");
    EXPECT_TRUE(m.GetText("Detail", &text) && text == "no such table");
    EXPECT_EQ(got[2], broken);
    EXPECT_TRUE(client.Close(1001, "", 5s));
  }
}

TEST_F(StandInTest, CloseCodesBothWays) {
  WsTestClient a;
  ASSERT_TRUE(a.Connect(server_.Port(), 5s));
  ASSERT_TRUE(a.Close(1001, "", 5s));
  ASSERT_TRUE(server_.WaitForCloses(1, 5s));
  EXPECT_EQ(server_.Closes()[0].remoteCode, 1001);

  WsTestClient b;
  ASSERT_TRUE(b.Connect(server_.Port(), 5s));
  ASSERT_TRUE(server_.WaitUntil([](const StandInServer::View& v) { return v.open == 1; }, 5s));
  EXPECT_EQ(server_.CloseAll(1000, "bye"), 1);
  ASSERT_TRUE(b.WaitForEnd(5s));
  EXPECT_EQ(b.RemoteCloseCode(), 1000);
  EXPECT_TRUE(server_.WaitUntil([](const StandInServer::View& v) { return v.open == 0; }, 5s));
}

TEST_F(StandInTest, DropEndsTheLinkWithoutClosingHandshake) {
  WsTestClient client;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  ASSERT_TRUE(server_.WaitUntil([](const StandInServer::View& v) { return v.open == 1; }, 5s));
  EXPECT_EQ(server_.DropAll(), 1);
  ASSERT_TRUE(client.WaitForEnd(5s));
  EXPECT_EQ(client.RemoteCloseCode(), 1006);
  EXPECT_TRUE(server_.WaitUntil([](const StandInServer::View& v) { return v.open == 0; }, 5s));
}

TEST_F(StandInTest, PausedReadingLeavesMessagesAndPingsUnread) {
  WsTestClient paused;
  ASSERT_TRUE(paused.Connect(server_.Port(), 5s));
  ASSERT_TRUE(server_.WaitForOpened(1, 5s));
  EXPECT_EQ(server_.PauseReading(true), 1);
  ASSERT_TRUE(paused.Send(Update("held", 0, 1)));
  ASSERT_TRUE(paused.Ping("abc"));

  WsTestClient later;
  ASSERT_TRUE(later.Connect(server_.Port(), 5s));
  ASSERT_TRUE(later.Send(Update("later", 0, 1)));
  ASSERT_TRUE(server_.WaitForMessages(1, 5s));
  EXPECT_FALSE(paused.WaitForPongs(1, 200ms));
  EXPECT_EQ(server_.RowsOf("later").size(), 1u);
  EXPECT_TRUE(server_.RowsOf("held").empty());

  EXPECT_EQ(server_.PauseReading(false), 2);
  ASSERT_TRUE(server_.WaitForMessages(2, 5s));
  EXPECT_EQ(server_.RowsOf("held").size(), 1u);
  ASSERT_TRUE(paused.WaitForPongs(1, 5s));
  EXPECT_EQ(paused.Pongs(), std::vector<std::string>{"abc"});
}

TEST_F(StandInTest, HeartbeatsCountOnEachConnection) {
  WsTestClient first;
  ASSERT_TRUE(first.Connect(server_.Port(), 5s));
  ASSERT_TRUE(server_.WaitForOpened(1, 5s));
  server_.SetHeartbeat(5ms, 5);
  ASSERT_TRUE(first.WaitForPongs(2, 5s));
  WsTestClient second;
  ASSERT_TRUE(second.Connect(server_.Port(), 5s));
  ASSERT_TRUE(second.WaitForPongs(2, 5s));

  server_.SetHeartbeat(0ms, 0);
  EXPECT_EQ(server_.SendToAll("after"), 2);  // goes out after every heartbeat sent
  for (WsTestClient* client : {&first, &second}) {
    ASSERT_TRUE(client->WaitForReceived(1, 5s));
    auto pongs = client->Pongs();
    for (size_t i = 0; i < pongs.size(); ++i) EXPECT_EQ(pongs[i], std::to_string(5 + i));
  }
  EXPECT_FALSE(first.WaitForPongs(first.Pongs().size() + 1, 50ms));
}

TEST_F(StandInTest, FixedPongPayloadAnswersEachPing) {
  WsTestClient client;
  ASSERT_TRUE(client.Connect(server_.Port(), 5s));
  server_.SetPongPayload("x");
  ASSERT_TRUE(client.Ping("abc"));
  ASSERT_TRUE(client.WaitForPongs(1, 5s));
  server_.SetPongPayload(std::nullopt);
  ASSERT_TRUE(client.Ping("def"));
  ASSERT_TRUE(client.WaitForPongs(2, 5s));
  EXPECT_EQ(client.Pongs(), (std::vector<std::string>{"x", "def"}));
}

TEST_F(StandInTest, AdmissionModes) {
  server_.SetAdmission(Admission::kRefuse);
  {
    WsTestClient client;
    std::string error;
    EXPECT_FALSE(client.Connect(server_.Port(), 5s, &error));
    EXPECT_FALSE(error.empty());
  }
  server_.SetAdmission(Admission::kStall);
  {
    WsTestClient client;
    std::string error;
    EXPECT_FALSE(client.Connect(server_.Port(), 300ms, &error));
    EXPECT_EQ(error, "handshake timed out");
  }
  server_.SetAdmission(Admission::kReject);
  {
    WsTestClient client;
    EXPECT_FALSE(client.Connect(server_.Port(), 5s));
  }
  server_.SetAdmission(Admission::kAccept);
  {
    WsTestClient client;
    std::string error;
    EXPECT_TRUE(client.Connect(server_.Port(), 5s, &error)) << error;
    // The client may see the handshake done before the server's open handler has run.
    EXPECT_TRUE(server_.WaitForOpened(1, 5s));
  }
  EXPECT_EQ(server_.OpenedTotal(), 1u);
  EXPECT_EQ(server_.Handshakes().size(), 2u);  // the rejected one and the accepted one
}

TEST(StandInServers, TwoInOneProcessKeepTheirOwnSettings) {
  StandInServer plain, deflate;
  plain.SetDeclineCompression(true);
  ASSERT_TRUE(plain.Start(0));
  ASSERT_TRUE(deflate.Start(0));
  ASSERT_NE(plain.Port(), deflate.Port());
  WsTestClient a, b;
  ASSERT_TRUE(a.Connect(plain.Port(), 5s));
  ASSERT_TRUE(b.Connect(deflate.Port(), 5s));
  EXPECT_FALSE(a.Compressed());
  EXPECT_TRUE(b.Compressed());
}

TEST(StandInServers, BusyPortIsReported) {
  StandInServer first, second;
  ASSERT_TRUE(first.Start(0));
  std::string error;
  EXPECT_FALSE(second.Start(first.Port(), &error));
  EXPECT_NE(error.find("cannot listen"), std::string::npos);
}

TEST(StandInServers, RecordFileHoldsEveryFrame) {
  testsupport::TempDir dir;
  std::string path = dir.File("frames");
  {
    StandInServer server;
    ASSERT_TRUE(server.SetRecordFile(path));
    ASSERT_TRUE(server.Start(0));
    WsTestClient client;
    ASSERT_TRUE(client.Connect(server.Port(), 5s));
    ASSERT_TRUE(client.Send(Update("r", 0, 4)));
    ASSERT_TRUE(client.Send("not a message", false));
    ASSERT_TRUE(server.WaitForMessages(2, 5s));
    auto recorded = ReadRecordFile(path);
    ASSERT_EQ(recorded.size(), 2u);
    auto live = server.Messages();
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(recorded[i].payload, live[i].payload);
      EXPECT_EQ(recorded[i].compressed, live[i].compressed);
      EXPECT_EQ(recorded[i].binary, live[i].binary);
      EXPECT_EQ(recorded[i].connection, live[i].connection);
      EXPECT_EQ(recorded[i].decoded, live[i].decoded);
    }
    EXPECT_EQ(recorded[0].table.rows, live[0].table.rows);
  }
  // A last entry still being written is left out.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1);
  EXPECT_EQ(ReadRecordFile(path).size(), 1u);
  EXPECT_TRUE(ReadRecordFile(dir.File("missing")).empty());
}

TEST(StandInProgram, CommandsAndReportLines) {
  testsupport::Subprocess proc;
  std::string error, line;
  ASSERT_TRUE(proc.Start({TVX_BUILD_DIR "/tools/standin/tvx_standin", "--port", "0"}, &error)) << error;
  ASSERT_TRUE(proc.WaitForLine("\"event\":\"listening\"", 5s, &line));
  uint16_t port = static_cast<uint16_t>(std::stoi(line.substr(line.find("\"port\":") + 7)));

  WsTestClient client;
  ASSERT_TRUE(client.Connect(port, 5s));
  ASSERT_TRUE(proc.WaitForLine("\"event\":\"open\"", 5s));
  ASSERT_TRUE(client.Send(Update("prog", 7, 2)));
  ASSERT_TRUE(proc.WaitForLine("\"event\":\"message\"", 5s, &line));
  EXPECT_NE(line.find("\"rows\":[[7,\"row number 7"), std::string::npos) << line;

  proc.WriteLine("reply API m1");
  proc.WriteLine("malformed bad-prefix");
  proc.WriteLine("frobnicate");
  ASSERT_TRUE(client.WaitForReceived(2, 5s));
  EXPECT_EQ(client.Received()[0], testsupport::EncodeReply("API", "m1"));
  EXPECT_EQ(client.Received()[1].substr(0, 3), "XY=");
  EXPECT_TRUE(proc.WaitForLine("\"event\":\"unknown-command\"", 5s));

  proc.WriteLine("pongs fixed not yours");
  ASSERT_TRUE(proc.WaitForLine("\"event\":\"pongs\"", 5s));
  ASSERT_TRUE(client.Ping("mine"));
  ASSERT_TRUE(client.WaitForPongs(1, 5s));
  EXPECT_EQ(client.Pongs()[0], "not yours");
  proc.WriteLine("heartbeat 5 7");
  ASSERT_TRUE(client.WaitForPongs(2, 5s));
  EXPECT_EQ(client.Pongs()[1], "7");
  proc.WriteLine("read pause");
  proc.WriteLine("read resume");
  proc.WriteLine("pongs fixed");
  EXPECT_TRUE(proc.WaitForLine("\"event\":\"reading\",\"conns\":1,\"paused\":true", 5s));
  EXPECT_TRUE(proc.WaitForLine("\"event\":\"reading\",\"conns\":1,\"paused\":false", 5s));
  EXPECT_TRUE(proc.WaitForLine("\"line\":\"pongs fixed\"", 5s));

  proc.WriteLine("close 4000 going");
  ASSERT_TRUE(client.WaitForEnd(5s));
  EXPECT_EQ(client.RemoteCloseCode(), 4000);

  proc.CloseStdin();  // the server keeps running without commands
  WsTestClient again;
  ASSERT_TRUE(again.Connect(port, 5s));
  proc.Signal(SIGTERM);
  EXPECT_EQ(proc.Wait(5s), 0);
  EXPECT_TRUE(proc.WaitForLine("\"event\":\"stopped\"", 1s));
}

}  // namespace
}  // namespace standin
