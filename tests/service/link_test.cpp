// The client's link against the stand-in data server on a free port: connection states,
// the handshake, reconnection gaps, close code 1001, replies, keep-rows tables.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "foundation/LogManager.h"
#include "foundation/ch_ThreadPool.h"
#include "link_test_util.h"
#include "record/ByteStream.h"
#include "service/TargetData.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"
#include "table/MiniFrad.h"

namespace {

using linktest::LinkedClient;
using linktest::NewDef;
using linktest::NumberedStream;
using namespace std::chrono_literals;

constexpr auto kWait = 10s;

// Waits until `condition` holds; false after the time-out.
template <class F>
bool Eventually(F condition, std::chrono::milliseconds timeout = kWait) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class LinkTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  servicetest::LogCapture log{dir.Path()};
  LinkedClient link;
};

TEST_F(LinkTest, ConnectsOpensAndQuitsWithGoingAway) {
  EXPECT_EQ(link.client->Init("127.0.0.1", link.server.Port()), true);
  EXPECT_EQ(link.client->uri, "ws://127.0.0.1:" + std::to_string(link.server.Port()) + "/?login=api");
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kOpen; }));
  EXPECT_EQ(TvxClient::NbTriesLeft, 5);
  ASSERT_EQ(link.server.Handshakes().size(), 1u);
  standin::Handshake handshake = link.server.Handshakes()[0];
  EXPECT_EQ(handshake.path, "/?login=api");
  EXPECT_EQ(handshake.offeredExtensions, "permessage-deflate; client_no_context_takeover; client_max_window_bits");

  link.StartRun();
  link.StopRun();
  EXPECT_EQ(TvxClient::Status, TvxClient::kClosed);
  ASSERT_TRUE(link.server.WaitForCloses(1, kWait));
  EXPECT_EQ(link.server.Closes()[0].remoteCode, 1001);
  EXPECT_EQ(link.server.Closes()[0].remoteReason, "");
  std::string text = log.Text();
  EXPECT_NE(text.find("Connecting to: " + link.client->uri), std::string::npos);
  EXPECT_NE(text.find("Connection Opened"), std::string::npos);
  EXPECT_NE(text.find("Connection Closed, Reason: close code: 1001 (Going away), close reason: "),
            std::string::npos)
      << text;
}

TEST_F(LinkTest, RefusedLinkFailsLaterAndReconnectsAtMostOncePerGap) {
  link.server.SetAdmission(standin::Admission::kRefuse);
  ASSERT_TRUE(link.Connect());  // the refusal arrives later, on the network thread
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kFailed; }));
  EXPECT_NE(log.Text().find("Connection Failed, Error: "), std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  link.StartRun();
  std::this_thread::sleep_for(1500ms);
  link.server.SetAdmission(standin::Admission::kAccept);
  ASSERT_TRUE(link.server.WaitForOpened(1, kWait));
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const size_t attempts = Count(log.Text(), "Restarting Socket Connection");
  // More than 300 ms apart, and the cycle does not wait much longer than that either.
  EXPECT_LE(attempts, static_cast<size_t>(elapsed / 0.3) + 1) << elapsed;
  EXPECT_GE(attempts, 3u) << elapsed;
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kOpen; }));
  link.StopRun();
  EXPECT_FALSE(TvxClient::IsRestart);
}

TEST_F(LinkTest, ServerCloseIsLoggedAndTheLinkReopensAfterTheGap) {
  ASSERT_TRUE(link.Connect());
  ASSERT_TRUE(link.server.WaitForOpened(1, kWait));
  link.StartRun();
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kOpen; }));
  TvxClient::RestartTimer = std::chrono::steady_clock::now();
  const auto closed = std::chrono::steady_clock::now();
  EXPECT_EQ(link.server.CloseAll(1000, "bye"), 1);
  ASSERT_TRUE(link.server.WaitForOpened(2, kWait));
  EXPECT_GE(std::chrono::steady_clock::now() - closed, 300ms);
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kOpen; }));
  link.StopRun();
  EXPECT_NE(log.Text().find("Connection Closed, Reason: close code: 1000 (Normal close), close reason: bye"),
            std::string::npos)
      << log.Text();
  ASSERT_TRUE(link.server.WaitForCloses(2, kWait));
  EXPECT_EQ(link.server.Closes()[1].remoteCode, 1001);
}

TEST_F(LinkTest, QuitWhileTheLinkIsDownEndsWithinAPeriod) {
  // A stalled handshake would keep the event loop busy for the library's 5 s time-out.
  link.server.SetAdmission(standin::Admission::kStall);
  ASSERT_TRUE(link.Connect());
  link.StartRun();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(TvxClient::Status, TvxClient::kConnecting);
  const auto start = std::chrono::steady_clock::now();
  link.StopRun();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(TvxClient::Status, TvxClient::kClosed);
}

TEST_F(LinkTest, RepliesReachTheirCallbacksOnce) {
  ch_ThreadPool pool(2, 4);
  SetTPOOL(&pool);
  std::atomic<int> successes{0}, failures{0};
  std::string detail;
  link.client->AddSuccessCallback("m1", [&](ByteStream& bs, std::shared_ptr<void>) {
    std::string func;
    if (bs.GetString("Func", func) && func == "DONE") ++successes;
  }, nullptr);
  link.client->AddFailureCallback("m2", [&](std::string d, std::shared_ptr<void>) {
    detail = d;
    ++failures;
  }, nullptr);
  ASSERT_TRUE(link.Connect());
  ASSERT_TRUE(Eventually([] { return TvxClient::Status == TvxClient::kOpen; }));
  EXPECT_EQ(link.server.SendReply("DONE", "m1"), 1);
  EXPECT_EQ(link.server.SendReply("DONE", "m1"), 1);
  EXPECT_EQ(link.server.SendFailure("m2", "no such table"), 1);
  EXPECT_EQ(link.server.SendReply("DONE", "unknown"), 1);
  ASSERT_TRUE(Eventually([&] { return successes == 1 && failures == 1; }));
  link.client->Quit();  // every frame has been handled once the network thread is joined
  pool.JoinThreads();
  SetTPOOL(nullptr);
  EXPECT_EQ(successes, 1);
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(detail, "no such table");
}

TEST_F(LinkTest, KeepRowsTableGoesOutWholeWithItsCellsUntouched) {
  MiniFrad cars;
  cars.New("cars");
  ASSERT_TRUE(cars.Set(0, {"id", "x"}, {2, 5}, {0, 0}));
  ASSERT_TRUE(link.client->NewTarget("sim", "db", "cars", "UPSERT", "", std::move(cars)));
  TargetData* target = link.client->GetTarget("sim", "db", "cars");
  target->keepRows = true;
  link.client->UpdateTarget("sim", "db", "cars", {"1", "0.25"});
  link.client->UpdateTarget("sim", "db", "cars", {"2", "-7.5"});
  ASSERT_TRUE(link.Connect());
  link.StartRun();
  ASSERT_TRUE(link.server.WaitForMessages(1, kWait));
  // Two more periods with pending set: the whole table each time, cells as written.
  for (int i = 0; i < 2; ++i) {
    target->pending = true;
    ASSERT_TRUE(link.server.WaitForMessages(2 + i, kWait));
  }
  link.StopRun();
  std::vector<standin::Received> messages = link.server.Messages();
  ASSERT_GE(messages.size(), 3u);
  for (const standin::Received& m : messages) {
    ASSERT_TRUE(m.hasTable) << m.error;
    EXPECT_TRUE(m.compressed);
    ASSERT_EQ(m.table.rows.size(), 2u);
    EXPECT_EQ(testsupport::RowTexts(m.table.rows[0]), (std::vector<std::string>{"1", "0.25"}));
    EXPECT_EQ(testsupport::RowTexts(m.table.rows[1]), (std::vector<std::string>{"2", "-7.5"}));
  }
  EXPECT_EQ(target->frad.NbRows, 2);
}

TEST_F(LinkTest, DeclinedCompressionSendsPlainFrames) {
  link.server.SetDeclineCompression(true);
  auto stream = new NumberedStream("plain", NewDef(link.defs, "plain"), 5ms);
  link.client->streams.push_back(stream);
  ASSERT_TRUE(link.Connect());
  link.StartRun();
  ASSERT_TRUE(link.server.WaitForMessages(2, kWait));
  link.StopRun();
  for (const standin::Received& m : link.server.Messages()) {
    EXPECT_FALSE(m.compressed);
    EXPECT_TRUE(m.hasTable) << m.error;
  }
  // The last rows went out before the link closed.
  std::vector<int64_t> numbers = linktest::ReceivedNumbers(link.server, "plain");
  EXPECT_EQ(static_cast<int64_t>(numbers.size()), stream->produced.load());
}

TEST_F(LinkTest, FailedStreamInitClosesTheLink) {
  struct Failing : StreamBase {
    using StreamBase::StreamBase;
    bool Init() override { return false; }
    void Run() override {}
  };
  link.client->streams.push_back(new Failing("broken", NewDef(link.defs, "broken")));
  EXPECT_FALSE(link.Connect());
  EXPECT_EQ(TvxClient::Status, TvxClient::kClosed);
  EXPECT_FALSE(link.client->networkThread->joinable());
  EXPECT_NE(log.Text().find("Failed to initialize stream: broken"), std::string::npos);
}

}  // namespace
