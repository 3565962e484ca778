// The Kafka stream against librdkafka's mock cluster in the tvx_kafkamock helper process,
// over real TCP: every message exactly once and in order (also across a broker outage and
// a restart in the same group), pauses longer than the poll interval, errors that do not
// end the service, messages without a target column, the interrupt, and Init failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <thread>

#include "streams/KafkaStream.h"
#include "stream_test_util.h"
#include "support/KafkaMock.h"
#include "support/Subprocess.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Subprocess;

class KafkaStreamTest : public ::testing::Test, public streamtest::StreamFixture {
 protected:
  void SetUp() override {
    WriteTarget("t", {"n", "text"}, {2, 6});
    std::string error;
    ASSERT_TRUE(testsupport::StartKafkaMock(mock_, "numbers", 1, &bootstrap_, &error)) << error;
  }
  void TearDown() override {
    for (auto& [stream, thread] : running_) Stop(stream.get(), thread);
    KafkaSignal::run.store(1);
    std::signal(SIGINT, SIG_DFL);
    mock_.WriteLine("quit");
    EXPECT_EQ(mock_.Wait(10s), 0);
  }

  // Sends a command to the helper and waits for its "ok" answer.
  void Command(const std::string& command, const std::string& answer) {
    ASSERT_TRUE(mock_.WriteLine(command));
    ASSERT_TRUE(mock_.WaitForLine("ok " + answer, 30s)) << command;
  }
  // Produces messages first .. first + count - 1: {"n": i, "text": "m<i>"}.
  void Produce(int first, int count) {
    std::string lines = "produce-lines numbers " + std::to_string(count);
    for (int i = first; i < first + count; ++i) {
      lines += "\n{\"n\": " + std::to_string(i) + ", \"text\": \"m" + std::to_string(i) + "\"}";
    }
    Command(lines, "produced " + std::to_string(count) + " numbers");
  }

  std::string Metadata(const std::string& group, const std::string& protocol = "") {
    return R"({"USER":"","PASSWORD":"","BOOTSTRAP_SERVERS":")" + bootstrap_ + R"(","PROTOCOL":")" + protocol +
           R"(","SASL_MECHANISM":"","GROUP_ID":")" + group + R"("})";
  }
  // A stream of group `group` on topic `topic`; `commit` starts the group at offset 0.
  std::unique_ptr<KafkaStream> Make(const std::string& group, const std::string& topic = "numbers",
                                    bool commit = true) {
    if (commit) Command("commit " + group + " numbers", "commit " + group);
    StreamDef* def = Scan("KAFKA", Metadata(group), streamtest::Route("t", R"({"TOPIC":")" + topic + R"("})"));
    auto stream = std::make_unique<KafkaStream>("S", def);
    stream->consoleIn = &noWords_;
    // A short session, so that the mock's group settles quickly after a member leaves.
    stream->extraSettings = {{"session.timeout.ms", "6000"}, {"heartbeat.interval.ms", "500"}};
    return stream;
  }
  KafkaStream* Start(std::unique_ptr<KafkaStream> stream) {
    EXPECT_TRUE(stream->Init());
    EXPECT_TRUE(stream->ready) << log.Text();
    KafkaStream* s = stream.get();
    running_.emplace_back(std::move(stream), std::thread([s] { s->Run(); }));
    return s;
  }
  void Stop(KafkaStream* stream, std::thread& thread) {
    stream->Quit();
    if (thread.joinable()) thread.join();
  }

  // Waits until the target holds `count` rows (or 60 s pass); the row count.
  int64_t WaitForRows(int64_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (RowCount("t") < count && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    return RowCount("t");
  }
  // The target's rows are exactly messages first .. first + count - 1, in order.
  void ExpectNumbered(int64_t from, int first, int count) {
    const auto rows = TargetRows("t");
    ASSERT_EQ(rows.size(), static_cast<size_t>(from + count));
    for (int i = 0; i < count; ++i) {
      const auto& row = rows[from + i];
      ASSERT_EQ(row, (std::vector<std::string>{std::to_string(first + i), "m" + std::to_string(first + i)}))
          << "row " << from + i;
    }
  }

  Subprocess mock_;
  std::string bootstrap_;
  std::istringstream noWords_;
  std::vector<std::pair<std::unique_ptr<KafkaStream>, std::thread>> running_;
};

TEST_F(KafkaStreamTest, EveryMessageOnceInOrder) {
  Produce(0, 5000);
  Start(Make("g1"));
  EXPECT_EQ(WaitForRows(5000), 5000);
  std::this_thread::sleep_for(300ms);  // nothing more arrives
  ExpectNumbered(0, 0, 5000);
  EXPECT_FALSE(client.done);
  EXPECT_EQ(LogCount("Consumer error"), 0u) << log.Text();
}

// A broker outage may make the group hand the partition over again from the last committed
// offset, so messages since then can come twice (Kafka delivers at least once); none may be
// missing, and the first arrivals are in order.
TEST_F(KafkaStreamTest, BrokerOutageLosesNothing) {
  Produce(0, 2500);
  Start(Make("g2"));
  ASSERT_EQ(WaitForRows(2500), 2500);
  Command("down 1", "down 1");
  std::this_thread::sleep_for(3s);
  Command("up 1", "up 1");
  Produce(2500, 2500);
  std::vector<std::string> firsts;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (firsts.size() < 5000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    std::set<std::string> seen;
    firsts.clear();
    for (const auto& row : TargetRows("t")) {
      if (seen.insert(row[0]).second) firsts.push_back(row[0]);
    }
  }
  ASSERT_EQ(firsts.size(), 5000u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(firsts[i], std::to_string(i));
  EXPECT_FALSE(client.done);  // transport errors are not fatal
  EXPECT_LE(LogCount("Consumer error"), 6u) << log.Text();  // at most one a second
}

TEST_F(KafkaStreamTest, RestartInTheSameGroupGetsOnlyNewMessages) {
  Produce(0, 100);
  KafkaStream* first = Start(Make("g3"));
  ASSERT_EQ(WaitForRows(100), 100);
  Stop(first, running_[0].second);
  EXPECT_EQ(LogCount("Closing Kafka consumer"), 1u);
  EXPECT_EQ(LogCount("Exiting Kafka Stream: S"), 1u);
  EXPECT_EQ(LogCount("Waiting for Kafka to decommission"), 0u);

  Produce(100, 50);
  Start(Make("g3", "numbers", false));
  EXPECT_EQ(WaitForRows(150), 150);
  std::this_thread::sleep_for(500ms);
  ExpectNumbered(100, 100, 50);
}

TEST_F(KafkaStreamTest, PauseLongerThanThePollIntervalKeepsTheServiceRunning) {
  Produce(0, 10);
  auto made = Make("g4");
  made->extraSettings.emplace_back("max.poll.interval.ms", "6000");
  KafkaStream* stream = Start(std::move(made));
  ASSERT_EQ(WaitForRows(10), 10);
  stream->paused = true;
  std::this_thread::sleep_for(100ms);
  Produce(10, 10);
  std::this_thread::sleep_for(7s);  // longer than the poll interval
  EXPECT_EQ(RowCount("t"), 10);     // no message taken while paused
  stream->paused = false;
  EXPECT_EQ(WaitForRows(20), 20);
  std::this_thread::sleep_for(300ms);
  ExpectNumbered(0, 0, 20);
  EXPECT_FALSE(client.done);
  EXPECT_FALSE(stream->quit);
}

TEST_F(KafkaStreamTest, MessagesWithoutATargetColumnAreSkippedAndCounted) {
  Command("produce-lines numbers 5\n{\"x\": 1}\nnot json\n{\"n\":\t1,\t\"text\": \"tabbed\"}\n{}\n{\"n\":2}",
          "produced 5");
  Start(Make("g5"));
  ASSERT_EQ(WaitForRows(2), 2);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(TargetRows("t"), (std::vector<std::vector<std::string>>{{"1", "tabbed"}, {"2", ""}}));
  // Counted, and logged at most once per update period: the counts add up to 3.
  const std::string text = log.Text();
  const std::string line = "Kafka messages without a column of the target skipped: ";
  int total = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
    total += std::atoi(text.c_str() + at + line.size());
  }
  EXPECT_EQ(total, 3) << text;
}

TEST_F(KafkaStreamTest, InterruptAsksTheServiceToQuit) {
  KafkaStream* stream = Start(Make("g7"));
  std::raise(SIGINT);
  std::raise(SIGINT);  // a second one changes nothing
  running_[0].second.join();
  EXPECT_TRUE(client.done);
  EXPECT_EQ(KafkaSignal::run.load(), 0);
  EXPECT_EQ(LogCount("Exiting Kafka Stream: S"), 1u);
  (void)stream;
}

// librdkafka stops prefetching at a count of messages or at a sum of payload bytes; each
// message costs the same memory of its own besides whatever the bounds. For messages of
// every size, the consumer may hold at most twice the messages it holds by default.
TEST_F(KafkaStreamTest, PrefetchTakesAtMostTwiceTheDefaultMemory) {
  auto stream = Make("g8", "numbers", false);
  ASSERT_TRUE(stream->Init());
  ASSERT_NE(stream->consumer, nullptr);
  auto setting = [](const rd_kafka_conf_t* conf, const char* name) {
    char value[64] = {};
    size_t size = sizeof value;
    EXPECT_EQ(rd_kafka_conf_get(conf, name, value, &size), RD_KAFKA_CONF_OK) << name;
    return std::atof(value);
  };
  auto held = [&](const rd_kafka_conf_t* conf, double messageBytes) {
    return std::min(setting(conf, "queued.min.messages"),
                    setting(conf, "queued.max.messages.kbytes") * 1024 / messageBytes);
  };
  rd_kafka_conf_t* defaults = rd_kafka_conf_new();
  for (double bytes = 1; bytes <= 1 << 20; bytes *= 2) {
    EXPECT_LE(held(rd_kafka_conf(stream->consumer), bytes), 2 * held(defaults, bytes)) << bytes << " bytes a message";
  }
  rd_kafka_conf_destroy(defaults);
}

TEST_F(KafkaStreamTest, InitFailures) {
  // A missing key: the reader's line, false.
  StreamDef* def = Scan("KAFKA", R"({"USER":"","PASSWORD":""})", streamtest::Route("t", R"({"TOPIC":"numbers"})"));
  KafkaStream missing("S", def);
  EXPECT_FALSE(missing.Init());
  EXPECT_EQ(LogCount("Missing METADATA field \"BOOTSTRAP_SERVERS\""), 1u);

  // A target without a table file.
  def = Scan("KAFKA", Metadata("g"), streamtest::Route("nothere", R"({"TOPIC":"numbers"})"));
  KafkaStream untargeted("S", def);
  EXPECT_FALSE(untargeted.Init());
  EXPECT_EQ(LogCount("Failed to register target: al/db/nothere"), 1u);

  // A setting librdkafka refuses: false without a line of its own.
  def = Scan("KAFKA", Metadata("g", "carrier-pigeon"), streamtest::Route("t", R"({"TOPIC":"numbers"})"));
  KafkaStream refused("S", def);
  EXPECT_FALSE(refused.Init());
  EXPECT_EQ(LogCount("Initializing KAFKA connection"), 1u);

  // No group: the subscription fails, start-up goes on without this stream.
  def = Scan("KAFKA", Metadata(""), streamtest::Route("t", R"({"TOPIC":"numbers"})"));
  KafkaStream groupless("S", def);
  EXPECT_TRUE(groupless.Init());
  EXPECT_FALSE(groupless.ready);
  EXPECT_EQ(groupless.consumer, nullptr);
  EXPECT_EQ(LogCount("Failed to subscribe to 1 topics: "), 1u) << log.Text();
}

}  // namespace
