// The Kafka mock helper in its own process, read back by a plain librdkafka consumer over
// real TCP.

#include <gtest/gtest.h>
#include <librdkafka/rdkafka.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/KafkaMock.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Subprocess;

class KafkaMockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(testsupport::StartKafkaMock(mock_, "numbers", 1, &bootstrap_, &error)) << error;
  }
  void TearDown() override {
    for (rd_kafka_t* c : consumers_) {
      rd_kafka_consumer_close(c);
      rd_kafka_destroy(c);
    }
    mock_.WriteLine("quit");
    EXPECT_EQ(mock_.Wait(10s), 0);
  }

  // Sends a command and waits for its answer line, which must start with "ok".
  void Command(const std::string& command, const std::string& answer) {
    size_t before = mock_.Lines().size();
    ASSERT_TRUE(mock_.WriteLine(command));
    ASSERT_TRUE(mock_.WaitForLine(answer, 30s)) << command;
    auto lines = mock_.Lines();
    for (size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("ok", 0), 0u) << lines[i];
  }

  rd_kafka_t* Consumer(const std::string& group) {
    char err[512];
    rd_kafka_conf_t* conf = rd_kafka_conf_new();
    for (auto [k, v] : {std::pair<const char*, std::string>{"bootstrap.servers", bootstrap_},
                        {"group.id", group}, {"log_level", "0"}})
      EXPECT_EQ(rd_kafka_conf_set(conf, k, v.c_str(), err, sizeof err), RD_KAFKA_CONF_OK) << err;
    rd_kafka_t* rk = rd_kafka_new(RD_KAFKA_CONSUMER, conf, err, sizeof err);
    EXPECT_NE(rk, nullptr) << err;
    rd_kafka_poll_set_consumer(rk);
    rd_kafka_topic_partition_list_t* topics = rd_kafka_topic_partition_list_new(1);
    rd_kafka_topic_partition_list_add(topics, "numbers", RD_KAFKA_PARTITION_UA);
    EXPECT_EQ(rd_kafka_subscribe(rk, topics), RD_KAFKA_RESP_ERR_NO_ERROR);
    rd_kafka_topic_partition_list_destroy(topics);
    consumers_.push_back(rk);
    return rk;
  }

  // Polls until `count` payloads arrived or the time-out passed.
  static std::vector<std::string> Read(rd_kafka_t* rk, size_t count, std::chrono::seconds timeout) {
    std::vector<std::string> got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      rd_kafka_message_t* m = rd_kafka_consumer_poll(rk, 100);
      if (m == nullptr) continue;
      if (!m->err) got.emplace_back(static_cast<const char*>(m->payload), m->len);
      rd_kafka_message_destroy(m);
    }
    return got;
  }

  static std::string Numbered(int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) lines += "\n{\"n\": " + std::to_string(i) + "}";
    return lines;
  }

  static void ExpectNumbered(const std::vector<std::string>& got, int first, size_t count) {
    ASSERT_EQ(got.size(), count);
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(got[i], "{\"n\": " + std::to_string(first + i) + "}");
  }

  Subprocess mock_;
  std::string bootstrap_;
  std::vector<rd_kafka_t*> consumers_;
};

TEST_F(KafkaMockTest, CommittedGroupReadsFromTheStart) {
  Command("produce-lines numbers 200" + Numbered(0, 200), "produced 200");
  Command("commit g1 numbers", "commit g1");
  ExpectNumbered(Read(Consumer("g1"), 200, 20s), 0, 200);
}

TEST_F(KafkaMockTest, MessagesFromAFileAndAfterABrokerOutage) {
  testsupport::TempDir dir;
  {
    std::ofstream file(dir.File("messages.txt"));
    for (int i = 0; i < 50; ++i) file << "{\"n\": " << i << "}\n";
  }
  Command("produce-file numbers " + dir.File("messages.txt"), "produced 50");
  Command("commit g2 numbers", "commit g2");
  rd_kafka_t* consumer = Consumer("g2");
  ExpectNumbered(Read(consumer, 50, 20s), 0, 50);

  Command("down 1", "down 1");
  std::this_thread::sleep_for(500ms);
  Command("up 1", "up 1");
  Command("produce-lines numbers 50" + Numbered(50, 50), "produced 50");
  ExpectNumbered(Read(consumer, 50, 20s), 50, 50);
}

// Round robin keeps the partitions even, and a produce whose partition outgrew what the
// mock keeps says so instead of leaving readers with fewer messages than were produced.
TEST_F(KafkaMockTest, ProduceSpreadsEvenlyAndReportsDroppedMessages) {
  Command("topic spread 4", "topic spread");
  Command("produce-lines spread 399" + Numbered(0, 399), "produced 399");
  Command("produce spread {}", "produced 1");
  rd_kafka_t* consumer = Consumer("g3");
  for (int p = 0; p < 4; ++p) {
    int64_t low = -1, high = -1;
    ASSERT_EQ(rd_kafka_query_watermark_offsets(consumer, "spread", p, &low, &high, 10000), RD_KAFKA_RESP_ERR_NO_ERROR);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100) << "partition " << p;
  }
  const std::string big(1000, 'x');
  std::string lines = "produce-lines numbers 6000";
  for (int i = 0; i < 6000; ++i) lines += "\n" + big;
  mock_.WriteLine(lines);
  EXPECT_TRUE(mock_.WaitForLine("error produced 0 numbers: the mock cluster dropped the oldest", 60s));
}

TEST_F(KafkaMockTest, BadCommandsAreAnswered) {
  mock_.WriteLine("frobnicate");
  EXPECT_TRUE(mock_.WaitForLine("error unknown command", 10s));
  mock_.WriteLine("produce-file numbers /nonexistent/file");
  EXPECT_TRUE(mock_.WaitForLine("error produce-file", 10s));
}

}  // namespace
