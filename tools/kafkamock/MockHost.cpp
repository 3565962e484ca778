#include "tools/kafkamock/MockHost.h"

namespace kafkamock {

namespace {

void OnDelivery(rd_kafka_t*, const rd_kafka_message_t* msg, void* opaque) {
  auto* d = static_cast<MockHost::Deliveries*>(opaque);
  if (msg->err) {
    ++d->failed;
    d->lastError = rd_kafka_err2str(msg->err);
  } else {
    ++d->delivered;
  }
}

// A client handle of `type` with the given settings; null with `error` set on failure.
rd_kafka_t* NewClient(rd_kafka_type_t type, const std::vector<std::pair<std::string, std::string>>& settings,
                      std::string* error, MockHost::Deliveries* deliveries = nullptr) {
  char err[512];
  rd_kafka_conf_t* conf = rd_kafka_conf_new();
  for (const auto& [k, v] : settings) {
    if (rd_kafka_conf_set(conf, k.c_str(), v.c_str(), err, sizeof err) != RD_KAFKA_CONF_OK) {
      *error = err;
      rd_kafka_conf_destroy(conf);
      return nullptr;
    }
  }
  if (deliveries) {
    rd_kafka_conf_set_dr_msg_cb(conf, OnDelivery);
    rd_kafka_conf_set_opaque(conf, deliveries);
  }
  rd_kafka_t* rk = rd_kafka_new(type, conf, err, sizeof err);
  if (rk == nullptr) {  // rd_kafka_new takes the configuration only when it succeeds
    *error = err;
    rd_kafka_conf_destroy(conf);
  }
  return rk;
}

// The partition count of `topic` as `rk` sees it; 0 with `error` set when it has none.
int PartitionCount(rd_kafka_t* rk, const std::string& topic, std::string* error) {
  const rd_kafka_metadata_t* md = nullptr;
  rd_kafka_topic_t* t = rd_kafka_topic_new(rk, topic.c_str(), nullptr);
  rd_kafka_resp_err_t err = rd_kafka_metadata(rk, 0, t, &md, 10000);
  int partitions = 0;
  if (err) {
    *error = std::string("metadata: ") + rd_kafka_err2str(err);
  } else if (md->topic_cnt != 1 || md->topics[0].err || md->topics[0].partition_cnt == 0) {
    *error = "no such topic: " + topic;
  } else {
    partitions = md->topics[0].partition_cnt;
  }
  if (md) rd_kafka_metadata_destroy(md);
  rd_kafka_topic_destroy(t);
  return partitions;
}

}  // namespace

MockHost::~MockHost() {
  if (producer_) {
    rd_kafka_flush(producer_, 1000);
    rd_kafka_destroy(producer_);
  }
  if (cluster_) rd_kafka_mock_cluster_destroy(cluster_);
  if (host_) rd_kafka_destroy(host_);
}

bool MockHost::Start(int brokers, std::string* error) {
  host_ = NewClient(RD_KAFKA_PRODUCER, {{"log_level", "3"}}, error);
  if (!host_) return false;
  cluster_ = rd_kafka_mock_cluster_new(host_, brokers);
  if (!cluster_) {
    *error = "cannot create the mock cluster";
    return false;
  }
  producer_ = NewClient(RD_KAFKA_PRODUCER,
                        {{"bootstrap.servers", Bootstrap()}, {"log_level", "3"}, {"linger.ms", "5"},
                         {"enable.idempotence", "true"}},
                        error, &deliveries_);
  return producer_ != nullptr;
}

std::string MockHost::Bootstrap() const { return rd_kafka_mock_cluster_bootstraps(cluster_); }

bool MockHost::CreateTopic(const std::string& topic, int partitions, std::string* error) {
  rd_kafka_resp_err_t err = rd_kafka_mock_topic_create(cluster_, topic.c_str(), partitions, 1);
  if (err) *error = rd_kafka_err2str(err);
  return !err;
}

bool MockHost::KeptEverything(const std::string& topic, int partitions, std::string* error) {
  for (int p = 0; p < partitions; ++p) {
    int64_t low = 0, high = 0;
    rd_kafka_resp_err_t err = rd_kafka_query_watermark_offsets(producer_, topic.c_str(), p, &low, &high, 10000);
    if (err) {
      *error = std::string("watermarks: ") + rd_kafka_err2str(err);
      return false;
    }
    if (low > 0) {
      *error = "the mock cluster dropped the oldest " + std::to_string(low) + " messages of partition " +
               std::to_string(p) + " (it keeps about " + std::to_string(kPartitionLogBytes >> 20) +
               " MB per partition)";
      return false;
    }
  }
  return true;
}

int MockHost::Produce(const std::string& topic, int partition, const std::vector<std::string>& messages,
                      int timeoutMs, std::string* error) {
  deliveries_ = Deliveries{};
  const int partitions = PartitionCount(producer_, topic, error);
  if (partitions == 0) return 0;
  int& next = nextPartition_[topic];
  for (const auto& m : messages) {
    // Round robin rather than librdkafka's sticky partitioner, which fills one partition
    // per batch: the mock drops the oldest messages of a partition past its log size.
    int to = partition;
    if (to < 0) {
      to = next % partitions;
      next = to + 1;
    }
    for (;;) {
      rd_kafka_resp_err_t err = rd_kafka_producev(
          producer_, RD_KAFKA_V_TOPIC(topic.c_str()), RD_KAFKA_V_PARTITION(to),
          RD_KAFKA_V_VALUE(const_cast<char*>(m.data()), m.size()), RD_KAFKA_V_MSGFLAGS(RD_KAFKA_MSG_F_COPY),
          RD_KAFKA_V_END);
      if (err == RD_KAFKA_RESP_ERR__QUEUE_FULL) {
        rd_kafka_poll(producer_, 10);
        continue;
      }
      if (err) {
        *error = rd_kafka_err2str(err);
        return deliveries_.delivered;
      }
      break;
    }
    rd_kafka_poll(producer_, 0);
  }
  rd_kafka_flush(producer_, timeoutMs);
  if (deliveries_.failed) *error = deliveries_.lastError;
  else if (deliveries_.delivered < static_cast<int>(messages.size())) *error = "delivery timed out";
  else if (!KeptEverything(topic, partitions, error)) return 0;
  return deliveries_.delivered;
}

bool MockHost::SetBrokerUp(int broker, bool up, std::string* error) {
  rd_kafka_resp_err_t err =
      up ? rd_kafka_mock_broker_set_up(cluster_, broker) : rd_kafka_mock_broker_set_down(cluster_, broker);
  if (err) *error = rd_kafka_err2str(err);
  return !err;
}

bool MockHost::CommitStart(const std::string& group, const std::string& topic, std::string* error) {
  rd_kafka_t* consumer = NewClient(
      RD_KAFKA_CONSUMER,
      {{"bootstrap.servers", Bootstrap()}, {"group.id", group}, {"log_level", "3"}, {"enable.auto.commit", "false"}},
      error);
  if (!consumer) return false;
  const int partitions = PartitionCount(consumer, topic, error);
  bool ok = false;
  if (partitions > 0) {
    rd_kafka_topic_partition_list_t* offsets = rd_kafka_topic_partition_list_new(partitions);
    for (int p = 0; p < partitions; ++p) rd_kafka_topic_partition_list_add(offsets, topic.c_str(), p)->offset = 0;
    rd_kafka_resp_err_t err = rd_kafka_commit(consumer, offsets, 0);
    if (err) *error = std::string("commit: ") + rd_kafka_err2str(err);
    ok = !err;
    rd_kafka_topic_partition_list_destroy(offsets);
  }
  rd_kafka_consumer_close(consumer);
  rd_kafka_destroy(consumer);
  return ok;
}

}  // namespace kafkamock
