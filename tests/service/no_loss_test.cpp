// No row is lost while the link is down, slow or silent: a producer appends numbered rows
// at a fixed rate while the server closes the link, goes away for longer than the
// reconnection gap, drops the TCP connection, reads slowly, stalls, freezes and is replaced,
// floods the link with pings, or while the service itself is stopped. A row leaves its
// target only once the server has answered a ping sent after it, so every row arrives, in
// order. A row arrives twice only when a connection ended after the server read it and
// before it answered: such repeats open the next connection, never appear inside one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The numbers of the rows received, by connection, in arrival order.
using ByConnection = std::map<uint64_t, std::vector<int64_t>>;

bool IsClear(const standin::Received& m) {
  std::string event;
  return m.message.GetText("Event", &event) && event == "CLEAR";
}

ByConnection NumbersByConnection(const std::vector<standin::Received>& messages) {
  ByConnection numbers;
  for (const standin::Received& m : messages) {
    if (IsClear(m)) continue;
    EXPECT_TRUE(m.hasTable) << m.error;
    for (const auto& row : m.table.rows) numbers[m.connection].push_back(std::get<int64_t>(row.at(0)));
  }
  return numbers;
}

// Checks that rows 0 .. produced - 1 all arrived: consecutive within each connection, and
// each connection starting at most where the previous one ended. Records the rows lost and
// repeated and the connections; returns the repeats.
int64_t ExpectEveryRowInOrder(const ByConnection& numbers, int64_t produced) {
  int64_t next = 0;  // the first number not yet received
  int64_t repeats = 0;
  int64_t lost = 0;
  for (const auto& [connection, got] : numbers) {
    EXPECT_LE(got.front(), next) << "rows " << next << " to " << got.front() - 1 << " lost before connection "
                                 << connection;
    for (size_t i = 1; i < got.size(); ++i) {
      EXPECT_EQ(got[i], got[i - 1] + 1) << "inside connection " << connection;
      lost += std::max<int64_t>(0, got[i] - got[i - 1] - 1);
    }
    lost += std::max<int64_t>(0, got.front() - next);
    repeats += std::max<int64_t>(0, next - got.front());
    next = std::max(next, got.back() + 1);
  }
  EXPECT_EQ(next, produced) << "the last rows did not arrive";
  ::testing::Test::RecordProperty("rows", produced);
  ::testing::Test::RecordProperty("rows_lost", lost + std::max<int64_t>(0, produced - next));
  ::testing::Test::RecordProperty("rows_repeated", repeats);
  ::testing::Test::RecordProperty("connections", static_cast<int>(numbers.size()));
  return repeats;
}

TEST(NoLoss, EveryNumberedRowArrivesInOrderAcrossOutages) {
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
  const ByConnection numbers = NumbersByConnection(link.server.Messages());
  ASSERT_EQ(numbers.size(), 4u);
  EXPECT_EQ(numbers.begin()->second.front(), 0);
  ExpectEveryRowInOrder(numbers, produced);
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
    if (IsClear(m)) continue;
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
    // A silent server is given up within about a second.
    link.client->pingPeriod = 250ms;
    link.client->silenceLimit = 1000ms;
  }
  // Connects (to the stand-in, or to `via` in front of it), runs the update cycle and waits
  // until the stand-in has the link.
  bool Start(uint16_t via = 0) {
    if (port == 0 || !link.client->Init("127.0.0.1", via != 0 ? via : port)) return false;
    link.StartRun();
    return server.WaitForLine("\"event\":\"open\"", 10s);
  }
  // Stops the producer and waits until the stand-in has every row or 20 s have passed;
  // the rows produced.
  int64_t Finish() {
    stream->stopAppending = true;
    std::this_thread::sleep_for(50ms);  // a row being appended when the producer was stopped
    const int64_t produced = stream->produced;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (Received() < produced && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(100ms);
    link.StopRun();
    return produced;
  }
  int64_t Received() {
    const std::vector<int64_t> numbers = RecordedNumbers(dir.File("first.frames"));
    return numbers.empty() ? 0 : numbers.back() + 1;
  }
  ByConnection Numbers() { return NumbersByConnection(standin::ReadRecordFile(dir.File("first.frames"))); }
  // Waits up to `timeout` for the link to be given up as silent; true when it was.
  bool GivenUp(std::chrono::milliseconds timeout) {
    for (const auto until = std::chrono::steady_clock::now() + timeout;; std::this_thread::sleep_for(10ms)) {
      if (log.Text().find("No answer from the server for ") != std::string::npos) return true;
      if (std::chrono::steady_clock::now() > until) return false;
    }
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

TEST(NoLoss, FrozenThenReplacedServerGetsEveryRow) {
  FreezeRun run(0);
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(300ms);

  run.server.Signal(SIGSTOP);
  const auto frozenAt = std::chrono::steady_clock::now();
  while (TvxClient::Status == TvxClient::kOpen && std::chrono::steady_clock::now() - frozenAt < 10s) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_NE(run.log.Text().find("No answer from the server for "), std::string::npos) << run.log.Text();

  std::this_thread::sleep_until(frozenAt + 2500ms);  // reconnection attempts meet the frozen server
  run.server.Signal(SIGKILL);
  run.server.Wait(10s);
  testsupport::Subprocess successor;
  ASSERT_EQ(StartStandIn(successor, run.port, run.dir.File("second.frames")), run.port);
  ASSERT_TRUE(successor.WaitForLine("\"event\":\"open\"", 10s));
  std::this_thread::sleep_for(300ms);
  run.link.StopRun();

  // What the frozen server read, then what its successor got: every row, in order, the
  // successor's starting with those its predecessor never confirmed.
  std::vector<standin::Received> messages = standin::ReadRecordFile(run.dir.File("first.frames"));
  for (standin::Received& m : standin::ReadRecordFile(run.dir.File("second.frames"))) {
    m.connection += 1000;
    messages.push_back(std::move(m));
  }
  const ByConnection numbers = NumbersByConnection(messages);
  ASSERT_EQ(numbers.rbegin()->first, 1001u);
  ExpectEveryRowInOrder(numbers, run.stream->produced.load());
}

// A server that reads a few KB a second for a while keeps its link: it answers the pings
// between the periods' messages as it reaches them.
TEST(NoLoss, SlowReaderKeepsItsLinkAndGetsEveryRowOnce) {
  FreezeRun run(40);  // about 25 KB a second
  linktest::SlowReaderProxy proxy(run.port);
  proxy.SetRate(3000);
  ASSERT_TRUE(run.Start(proxy.Port()));
  std::this_thread::sleep_for(4s);
  proxy.SetRate(0);
  const int64_t produced = run.Finish();
  const ByConnection numbers = run.Numbers();
  EXPECT_EQ(numbers.size(), 1u) << run.log.Text();
  EXPECT_EQ(ExpectEveryRowInOrder(numbers, produced), 0);
}

// A server that stops reading and answering for longer than the silence limit, then goes
// on. Rows that compress poorly fill the socket within the stall: the pings wait in it, so
// the server is not judged silent; were the link given up, the rows it held unconfirmed
// would go out again.
TEST(NoLoss, StallThatResumesLosesNoRow) {
  FreezeRun run(16000);
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(300ms);
  run.server.Signal(SIGSTOP);
  std::this_thread::sleep_for(1300ms);
  run.server.Signal(SIGCONT);
  std::this_thread::sleep_for(1500ms);
  const int64_t produced = run.Finish();
  ExpectEveryRowInOrder(run.Numbers(), produced);
}

// The service itself stopped (a paused machine, a debugger) for longer than the silence
// limit: on resuming it asks again before judging a healthy server.
TEST(NoLoss, StoppedServiceKeepsItsLink) {
  FreezeRun run(0);
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(500ms);
  const pid_t self = getpid();
  const pid_t stopper = fork();
  ASSERT_GE(stopper, 0);
  if (stopper == 0) {  // only async-signal-safe calls here
    kill(self, SIGSTOP);
    const timespec pause{2, 0};
    nanosleep(&pause, nullptr);
    kill(self, SIGCONT);
    _exit(0);
  }
  int status = 0;
  waitpid(stopper, &status, 0);
  std::this_thread::sleep_for(1500ms);
  const int64_t produced = run.Finish();
  const ByConnection numbers = run.Numbers();
  EXPECT_EQ(numbers.size(), 1u) << run.log.Text();
  EXPECT_EQ(ExpectEveryRowInOrder(numbers, produced), 0);
}

// A server that makes the client believe it reads: pongs nobody asked for (heartbeats
// counting 1, 2, 3... or 0, 1, 2...), or every ping answered with a payload of its own. None
// of them confirms a row or keeps the link of a server that reads nothing: it is given up
// within the silence limit and a check or two, and its rows go out again on the next
// connection. Were it kept, it would die (dropped) with the rows the pongs confirmed.
struct Pretence {
  const char* name;
  std::vector<std::string> commands;  // to the stand-in, once the rows flow
  bool givenUp;
};

void PrintTo(const Pretence& pretence, std::ostream* out) { *out << pretence.name; }

class PretendingServer : public ::testing::TestWithParam<Pretence> {};

TEST_P(PretendingServer, ConfirmsNothingAndKeepsNoLinkItDoesNotRead) {
  FreezeRun run(0);
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(300ms);
  for (const std::string& command : GetParam().commands) ASSERT_TRUE(run.server.WriteLine(command));
  // Within the silence limit (1 s) and a check (250 ms), with room for a busy machine.
  const bool givenUp = run.GivenUp(GetParam().givenUp ? 4s : 2500ms);
  EXPECT_EQ(givenUp, GetParam().givenUp) << run.log.Text();
  ASSERT_TRUE(run.server.WriteLine(givenUp ? "pongs echo" : "drop"));
  std::this_thread::sleep_for(500ms);
  const int64_t produced = run.Finish();
  ExpectEveryRowInOrder(run.Numbers(), produced);
}

INSTANTIATE_TEST_SUITE_P(
    NoLoss, PretendingServer,
    ::testing::Values(Pretence{"HeartbeatsFromOne", {"read pause", "heartbeat 50 1"}, true},
                      Pretence{"HeartbeatsFromZero", {"read pause", "heartbeat 100 0"}, true},
                      Pretence{"ForeignAnswers", {"pongs fixed x"}, true},
                      Pretence{"HeartbeatsWhileReading", {"heartbeat 50 1"}, false}),
    [](const ::testing::TestParamInfo<Pretence>& info) { return std::string(info.param.name); });

// A reset typed while the server reads nothing: its clear stays owed until the server
// confirms it, so the next connection gets it first, then every row from after the reset
// and none from before.
TEST(NoLoss, ResetReachesTheNextConnectionFirst) {
  FreezeRun run(0);
  ASSERT_TRUE(run.Start());
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(run.server.WriteLine("read pause"));
  std::this_thread::sleep_for(100ms);
  const int64_t before = run.stream->produced;
  run.link.client->ResetTarget("api", "live", "numbers");
  const int64_t after = run.stream->produced;
  ASSERT_TRUE(run.GivenUp(4s)) << run.log.Text();
  std::this_thread::sleep_for(500ms);
  const int64_t produced = run.Finish();

  std::vector<standin::Received> next;
  for (standin::Received& m : standin::ReadRecordFile(run.dir.File("first.frames"))) {
    if (m.connection > 1) next.push_back(std::move(m));
  }
  ASSERT_FALSE(next.empty());
  EXPECT_TRUE(IsClear(next.front())) << "the owed clear first";
  const ByConnection numbers = NumbersByConnection(next);
  ASSERT_FALSE(numbers.empty());
  const std::vector<int64_t>& rows = numbers.begin()->second;
  EXPECT_GE(rows.front(), before) << "a row from before the reset";
  EXPECT_LE(rows.front(), after) << "rows from after the reset lost";
  for (size_t i = 1; i < rows.size(); ++i) ASSERT_EQ(rows[i], rows[i - 1] + 1);
  EXPECT_EQ(rows.back(), produced - 1);
}

// A server that sends pings without pause and reads more slowly than a pong per ping would
// come: at most one pong waits in the link, whatever the number of pings, and the link
// stays.
TEST(NoLoss, PingFloodLeavesAtMostOnePongWaiting) {
  testsupport::TempDir dir;
  servicetest::LogCapture log(dir.Path());
  linktest::PingFlooder flooder(5s, 125);
  linktest::LinkedClient link;
  ASSERT_TRUE(link.client->Init("127.0.0.1", flooder.Port()));
  link.StartRun();
  uint64_t mostUnsent = 0;
  for (auto until = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < until;) {
    mostUnsent = std::max(mostUnsent, link.client->unsentBytes());
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GT(flooder.PingsSent(), 10000u);
  RecordProperty("most_unsent_bytes", static_cast<int>(std::min<uint64_t>(mostUnsent, INT32_MAX)));
  // The socket's own queue (a few MB at most) and one pong; a pong per ping grows by
  // megabytes every second.
  EXPECT_LT(mostUnsent, 8u << 20) << flooder.PingsSent() << " pings";
  EXPECT_EQ(TvxClient::Status, TvxClient::kOpen) << log.Text();
  link.StopRun();
}

}  // namespace
