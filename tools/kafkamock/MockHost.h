#pragma once

// librdkafka's mock cluster with a producer and a group-offset committer attached, for
// tests and the demo. Lives in its own process: a consumer hosted in the same process as
// the mock cluster never finishes its decommission wait. Used by one thread at a time.

#include <librdkafka/rdkafka.h>
#include <librdkafka/rdkafka_mock.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kafkamock {

class MockHost {
 public:
  // What librdkafka's mock keeps of each partition's log (a fixed size in the library).
  static constexpr int64_t kPartitionLogBytes = 5 << 20;

  MockHost() = default;
  ~MockHost();
  MockHost(const MockHost&) = delete;
  MockHost& operator=(const MockHost&) = delete;

  // Starts a cluster of `brokers` brokers (ids 1..brokers) listening on 127.0.0.1.
  bool Start(int brokers, std::string* error);
  // The cluster's bootstrap.servers list.
  std::string Bootstrap() const;

  bool CreateTopic(const std::string& topic, int partitions, std::string* error);
  // Produces each message to `partition`, or with -1 over the topic's partitions in turn
  // (continuing where the last call stopped), and waits until all are delivered or
  // `timeoutMs` passes; the count delivered. 0 with `error` set when the mock cluster has
  // dropped any message of the topic: its partitions keep only their newest
  // kPartitionLogBytes, and a test must not compare different messages unawares.
  int Produce(const std::string& topic, int partition, const std::vector<std::string>& messages, int timeoutMs,
              std::string* error);
  // broker -1: every broker.
  bool SetBrokerUp(int broker, bool up, std::string* error);
  // Commits offset 0 for every partition of `topic` in consumer group `group`, so that a
  // new member of the group starts at the beginning instead of the latest offset.
  bool CommitStart(const std::string& group, const std::string& topic, std::string* error);

  // Delivery results of the producer, counted by its delivery callback during Produce.
  struct Deliveries {
    int delivered = 0;
    int failed = 0;
    std::string lastError;
  };

 private:
  // True when every partition of the topic still starts at offset 0.
  bool KeptEverything(const std::string& topic, int partitions, std::string* error);

  rd_kafka_t* host_ = nullptr;      // the handle the mock cluster belongs to
  rd_kafka_mock_cluster_t* cluster_ = nullptr;
  rd_kafka_t* producer_ = nullptr;
  Deliveries deliveries_;
  std::map<std::string, int> nextPartition_;  // by topic: where the round robin goes on
};

}  // namespace kafkamock
