// No rows are lost while the link is down: a producer appends numbered rows at a fixed rate
// while the stand-in closes the link, goes away for longer than the reconnection gap and
// drops the TCP connection. Every row arrives once and in order. The only rows allowed to
// miss are those in frames the client had already handed to a connection that the server
// then dropped or closed: the client cannot know that the server never read them. They
// can only be missing right at the end of such a connection.
//
// A server that stops (the stand-in program frozen with SIGSTOP, later killed and replaced)
// costs at most the rows the client handed to it before it noticed the silence; meanwhile
// the rows wait in their target instead of piling up in the link.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "link_test_util.h"
#include "service/TargetData.h"
#include "support/ServiceTestUtil.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "tools/standin/StandInRecord.h"

namespace {

using namespace std::chrono_literals;

TEST(NoLoss, EveryNumberedRowArrivesOnceInOrderAcrossOutages) {
  testsupport::TempDir dir;
  servicetest::LogCapture log(dir.Path());
  linktest::LinkedClient link;
  auto* stream = new linktest::NumberedStream("numbers", linktest::NewDef(link.defs, "numbers"), 2ms);
  link.client->streams.push_back(stream);
  ASSERT_TRUE(link.Connect());
  link.StartRun();
  auto produceFor = [&](std::chrono::milliseconds d) {
    std::this_thread::sleep_for(d);
    EXPECT_FALSE(::testing::Test::HasFailure());
  };
  ASSERT_TRUE(link.server.WaitForOpened(1, 10s));
  produceFor(150ms);

  EXPECT_EQ(link.server.CloseAll(1000, "maintenance"), 1);  // 1: a normal close
  ASSERT_TRUE(link.server.WaitForOpened(2, 10s));
  produceFor(150ms);

  link.server.SetAdmission(standin::Admission::kRefuse);  // 2: away for three gaps
  EXPECT_EQ(link.server.CloseAll(1001, "going down"), 1);
  produceFor(900ms);
  link.server.SetAdmission(standin::Admission::kAccept);
  ASSERT_TRUE(link.server.WaitForOpened(3, 10s));
  produceFor(150ms);

  EXPECT_EQ(link.server.DropAll(), 1);  // 3: the TCP connection reset
  ASSERT_TRUE(link.server.WaitForOpened(4, 10s));
  produceFor(150ms);
  link.StopRun();  // sends what is pending, then closes

  const int64_t produced = stream->produced;
  ASSERT_GT(produced, 500);
  // Numbers by connection, in arrival order.
  std::map<uint64_t, std::vector<int64_t>> byConnection;
  int64_t last = -1;
  size_t received = 0;
  for (const standin::Received& m : link.server.Messages()) {
    ASSERT_TRUE(m.hasTable) << m.error;
    for (const auto& row : m.table.rows) {
      int64_t n = std::get<int64_t>(row.at(0));
      EXPECT_GT(n, last) << "row " << n << " arrived twice or out of order";
      last = n;
      byConnection[m.connection].push_back(n);
      ++received;
    }
  }
  ASSERT_EQ(byConnection.size(), 4u);
  // Gaps only where a connection ended under frames already sent.
  int64_t expected = 0;
  int64_t missing = 0;
  for (const auto& [connection, numbers] : byConnection) {
    EXPECT_TRUE(connection == 1 || numbers.front() >= expected) << connection;
    missing += numbers.front() - expected;
    for (size_t i = 1; i < numbers.size(); ++i) {
      EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "a row went missing inside connection " << connection;
    }
    expected = numbers.back() + 1;
  }
  EXPECT_EQ(byConnection.begin()->second.front(), 0);
  EXPECT_EQ(expected, produced) << "the rows of the last period did not go out";
  EXPECT_EQ(static_cast<int64_t>(received) + missing, produced);
  // What the outages would have cost without the backlog: every row produced while the
  // link was down (more than 400 during the 900 ms away).
  EXPECT_LT(missing, 100) << "rows lost at the ends of connections: " << missing;
  RecordProperty("rows", produced);
  RecordProperty("missing_at_connection_ends", missing);
}

// The stand-in program on `port` (0: a free one), recording what it receives in `record`;
// its port once it listens, 0 when it did not start.
uint16_t StartStandIn(testsupport::Subprocess& process, uint16_t port, const std::string& record) {
  std::string error, line;
  EXPECT_TRUE(process.Start({TVX_BUILD_DIR "/tools/standin/tvx_standin", "--port", std::to_string(port),
                             "--record", record}, &error)) << error;
  if (!process.WaitForLine("\"event\":\"listening\"", 10s, &line)) return 0;
  const size_t at = line.find("\"port\":");
  return at == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(line.substr(at + 7)));
}

// The numbers of every row recorded in `record`, in arrival order.
std::vector<int64_t> RecordedNumbers(const std::string& record) {
  std::vector<int64_t> numbers;
  for (const standin::Received& m : standin::ReadRecordFile(record)) {
    EXPECT_TRUE(m.hasTable) << m.error;
    for (const auto& row : m.table.rows) numbers.push_back(std::get<int64_t>(row.at(0)));
  }
  return numbers;
}

// A client producing numbered rows every 2 ms into a stand-in program that it can freeze.
struct FreezeRun {
  explicit FreezeRun(size_t textBytes) {
    port = StartStandIn(server, 0, dir.File("first.frames"));
    stream = new linktest::NumberedStream("numbers", linktest::NewDef(link.defs, "numbers"), 2ms);
    stream->textBytes = textBytes;
    link.client->streams.push_back(stream);
  }
  // Connects, runs the update cycle and waits until the stand-in has the link.
  bool Start() {
    if (port == 0 || !link.client->Init("127.0.0.1", port)) return false;
    link.StartRun();
    return server.WaitForLine("\"event\":\"open\"", 10s);
  }
  int64_t Waiting() {
    TargetData* target = link.client->GetTarget("api", "live", "numbers");
    std::lock_guard<std::mutex> lock(target->mutex);
    return target->frad.NbRows;
  }

  testsupport::TempDir dir;
  servicetest::LogCapture log{dir.Path()};
  testsupport::Subprocess server;
  uint16_t port = 0;
  linktest::LinkedClient link;
  linktest::NumberedStream* stream = nullptr;
};

TEST(NoLoss, StalledServerLeavesTheRowsInTheirTargetAndLosesNone) {
  FreezeRun run(16000);  // rows that compress poorly: the socket buffers fill within seconds
  run.link.client->silenceLimit = 60s;  // stalled, not gone
  run.link.client->maxUnsentBytes = 64 * 1024;
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(200ms);
  run.server.Signal(SIGSTOP);
  // Once the socket buffers are full, the link keeps no more than its bound and the rows
  // wait in the target.
  uint64_t mostUnsent = 0;
  const auto stalled = std::chrono::steady_clock::now();
  while (run.Waiting() < 200 && std::chrono::steady_clock::now() - stalled < 20s) {
    mostUnsent = std::max(mostUnsent, run.link.client->unsentBytes());
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_GE(run.Waiting(), 200);
  EXPECT_EQ(TvxClient::Status, TvxClient::kOpen);
  // The bound, plus the frames of the periods sent before a measure saw it crossed; without
  // the bound the queue grows by megabytes every second.
  EXPECT_LT(mostUnsent, 4u * 1024u * 1024u);
  // Resumed, it gets every row once and in order.
  run.stream->stopAppending = true;
  run.server.Signal(SIGCONT);
  std::this_thread::sleep_for(50ms);  // a row being appended when the producer was stopped
  const int64_t produced = run.stream->produced;
  std::vector<int64_t> numbers;
  const auto resumed = std::chrono::steady_clock::now();
  do {
    std::this_thread::sleep_for(100ms);
    numbers = RecordedNumbers(run.dir.File("first.frames"));
  } while ((numbers.empty() || numbers.back() < produced - 1) && std::chrono::steady_clock::now() - resumed < 20s);
  run.link.StopRun();
  ASSERT_EQ(run.stream->produced.load(), produced);
  ASSERT_EQ(static_cast<int64_t>(numbers.size()), produced);
  for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int64_t>(i));
}

TEST(NoLoss, FrozenServerCostsOnlyTheRowsSentBeforeItsSilenceWasNoticed) {
  FreezeRun run(0);
  run.link.client->pingPeriod = 250ms;
  run.link.client->silenceLimit = 1000ms;
  ASSERT_TRUE(run.Start());
  const int64_t producedEarlier = run.stream->produced;
  std::this_thread::sleep_for(300ms);

  run.server.Signal(SIGSTOP);
  const auto frozenAt = std::chrono::steady_clock::now();
  const int64_t producedAtFreeze = run.stream->produced;
  while (TvxClient::Status == TvxClient::kOpen && std::chrono::steady_clock::now() - frozenAt < 10s) {
    std::this_thread::sleep_for(2ms);
  }
  const auto noticedAfter = std::chrono::steady_clock::now() - frozenAt;
  const int64_t producedAtNotice = run.stream->produced;
  // Within pingPeriod + silenceLimit, with slack for a busy machine.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(noticedAfter).count(), 2500);
  EXPECT_NE(run.log.Text().find("No answer from the server for "), std::string::npos) << run.log.Text();

  std::this_thread::sleep_until(frozenAt + 2500ms);  // reconnection attempts meet the frozen server
  run.server.Signal(SIGKILL);
  run.server.Wait(10s);
  testsupport::Subprocess successor;
  ASSERT_EQ(StartStandIn(successor, run.port, run.dir.File("second.frames")), run.port);
  ASSERT_TRUE(successor.WaitForLine("\"event\":\"open\"", 10s));
  std::this_thread::sleep_for(300ms);
  run.link.StopRun();

  const std::vector<int64_t> before = RecordedNumbers(run.dir.File("first.frames"));
  const std::vector<int64_t> after = RecordedNumbers(run.dir.File("second.frames"));
  ASSERT_FALSE(after.empty());
  for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(before[i], static_cast<int64_t>(i));
  // The successor gets every row from before the notice to the last one produced, once
  // and in order.
  for (size_t i = 1; i < after.size(); ++i) ASSERT_EQ(after[i], after[i - 1] + 1) << i;
  EXPECT_EQ(after.back() + 1, run.stream->produced.load());
  EXPECT_LE(after.front(), producedAtNotice);
  // Lost: at most the rows produced while the silence was being noticed (and in the
  // moments before the freeze, which the server may not have read yet), not those of the
  // whole outage.
  const int64_t lost = after.front() - static_cast<int64_t>(before.size());
  EXPECT_LE(lost, producedAtNotice - producedEarlier);
  RecordProperty("rows_lost", lost);
  RecordProperty("rows_produced_while_frozen", run.stream->produced.load() - producedAtFreeze);
}

}  // namespace
