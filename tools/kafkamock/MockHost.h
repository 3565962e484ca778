#pragma once

// librdkafka's mock cluster with a producer and a group-offset committer attached, for
// tests and the demo. Lives in its own process: a consumer hosted in the same process as
// the mock cluster never finishes its decommission wait. Used by one thread at a time.

#include <librdkafka/rdkafka.h>
#include <librdkafka/rdkafka_mock.h>

#include <string>
#include <vector>

namespace kafkamock {

class MockHost {
 public:
  MockHost() = default;
  ~MockHost();
  MockHost(const MockHost&) = delete;
  MockHost& operator=(const MockHost&) = delete;

  // Starts a cluster of `brokers` brokers (ids 1..brokers) listening on 127.0.0.1.
  bool Start(int brokers, std::string* error);
  // The cluster's bootstrap.servers list.
  std::string Bootstrap() const;

  bool CreateTopic(const std::string& topic, int partitions, std::string* error);
  // Produces each message (partition -1: the partitioner picks) and waits until all are
  // delivered or `timeoutMs` passes; the count delivered.
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
  rd_kafka_t* host_ = nullptr;      // the handle the mock cluster belongs to
  rd_kafka_mock_cluster_t* cluster_ = nullptr;
  rd_kafka_t* producer_ = nullptr;
  Deliveries deliveries_;
};

}  // namespace kafkamock
