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

int MockHost::Produce(const std::string& topic, int partition, const std::vector<std::string>& messages,
                      int timeoutMs, std::string* error) {
  deliveries_ = Deliveries{};
  for (const auto& m : messages) {
    for (;;) {
      rd_kafka_resp_err_t err = rd_kafka_producev(
          producer_, RD_KAFKA_V_TOPIC(topic.c_str()), RD_KAFKA_V_PARTITION(partition),
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
  const rd_kafka_metadata_t* md = nullptr;
  rd_kafka_topic_t* t = rd_kafka_topic_new(consumer, topic.c_str(), nullptr);
  rd_kafka_resp_err_t err = rd_kafka_metadata(consumer, 0, t, &md, 10000);
  bool ok = false;
  if (err) {
    *error = std::string("metadata: ") + rd_kafka_err2str(err);
  } else if (md->topic_cnt != 1 || md->topics[0].err || md->topics[0].partition_cnt == 0) {
    *error = "no such topic: " + topic;
  } else {
    rd_kafka_topic_partition_list_t* offsets = rd_kafka_topic_partition_list_new(md->topics[0].partition_cnt);
    for (int p = 0; p < md->topics[0].partition_cnt; ++p)
      rd_kafka_topic_partition_list_add(offsets, topic.c_str(), md->topics[0].partitions[p].id)->offset = 0;
    err = rd_kafka_commit(consumer, offsets, 0);
    if (err) *error = std::string("commit: ") + rd_kafka_err2str(err);
    ok = !err;
    rd_kafka_topic_partition_list_destroy(offsets);
  }
  if (md) rd_kafka_metadata_destroy(md);
  rd_kafka_topic_destroy(t);
  rd_kafka_consumer_close(consumer);
  rd_kafka_destroy(consumer);
  return ok;
}

}  // namespace kafkamock
