#include "streams/KafkaStream.h"

#include <algorithm>
#include <chrono>
#include <csignal>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"

namespace KafkaSignal {
std::atomic<int> run{1};
void stop(int) { run.store(0); }
}  // namespace KafkaSignal

namespace {

constexpr int kPollMillis = 1;
constexpr int kPausedPollMillis = 10;
// While paused, the assignment is paused again this often: a rebalance may have brought
// partitions that were never paused.
constexpr std::chrono::milliseconds kRepauseEvery(200);
// The prefetch's bounds. librdkafka counts only payload bytes against its byte bound, while
// each prefetched message also costs a few hundred bytes of its own, so small messages are
// bounded by the count alone. The byte bound is librdkafka's default and the count twice
// its default (100,000): whatever the message size, the prefetch takes at most twice the
// memory it takes by default, and a fast stream finds it full half as often (each time,
// librdkafka stops fetching for up to about a second).
constexpr char kQueuedMinMessages[] = "200000";
constexpr char kQueuedMaxKbytes[] = "65536";
constexpr int kDecommissionTries = 5;
constexpr int kDecommissionWaitMillis = 1000;

}  // namespace

KafkaStream::KafkaStream(const std::string& name, StreamDef* def) : StreamBase(name, def) {}

KafkaStream::~KafkaStream() {
  Quit();
  JoinThreads();
  // Only a stream that was initialised but never run still has these.
  for (rd_kafka_message_t* m : held_) rd_kafka_message_destroy(m);
  if (consumer != nullptr) rd_kafka_destroy(consumer);
  if (consumerConf != nullptr) rd_kafka_conf_destroy(consumerConf);
}

StreamBase* KafkaStream::GetSelf() { return this; }

bool KafkaStream::ReadKeys() {
  return ReadMetadata("USER", user) && ReadMetadata("PASSWORD", password) &&
         ReadMetadata("BOOTSTRAP_SERVERS", bootstrapServers) && ReadMetadata("PROTOCOL", protocol) &&
         ReadMetadata("SASL_MECHANISM", saslMechanism) && ReadMetadata("GROUP_ID", groupId) &&
         ReadInput(0, "TOPIC", topic);
}

bool KafkaStream::Configure() {
  consumerConf = rd_kafka_conf_new();
  std::vector<std::pair<std::string, std::string>> settings;
  auto unlessEmpty = [&settings](const char* setting, const std::string& value) {
    if (!value.empty()) settings.emplace_back(setting, value);
  };
  unlessEmpty("sasl.username", user);
  unlessEmpty("sasl.password", password);
  settings.emplace_back("bootstrap.servers", bootstrapServers);
  unlessEmpty("security.protocol", protocol);
  unlessEmpty("sasl.mechanisms", saslMechanism);
  unlessEmpty("group.id", groupId);
  settings.emplace_back("queued.min.messages", kQueuedMinMessages);
  settings.emplace_back("queued.max.messages.kbytes", kQueuedMaxKbytes);
  settings.insert(settings.end(), extraSettings.begin(), extraSettings.end());
  for (const auto& [setting, value] : settings) {
    if (rd_kafka_conf_set(consumerConf, setting.c_str(), value.c_str(), errorText, sizeof errorText) !=
        RD_KAFKA_CONF_OK) {
      rd_kafka_conf_destroy(consumerConf);
      consumerConf = nullptr;
      return false;
    }
  }
  return true;
}

bool KafkaStream::Subscribe() {
  rd_kafka_topic_partition_list_t* topics = rd_kafka_topic_partition_list_new(1);
  rd_kafka_topic_partition_list_add(topics, topic.c_str(), RD_KAFKA_PARTITION_UA);
  lastError = rd_kafka_subscribe(consumer, topics);
  if (lastError != RD_KAFKA_RESP_ERR_NO_ERROR) {
    LogManager::Global << "Failed to subscribe to " + std::to_string(topics->cnt) + " topics: " +
                              rd_kafka_err2str(static_cast<rd_kafka_resp_err_t>(lastError));
    rd_kafka_topic_partition_list_destroy(topics);
    rd_kafka_destroy(consumer);
    consumer = nullptr;
    return false;
  }
  rd_kafka_topic_partition_list_destroy(topics);
  return true;
}

bool KafkaStream::Init() {
  LogManager::Global << "Initializing Kafka Stream: " + name;
  if (RouteCount() == 0 || !ReadKeys() || !InitTargets()) return false;
  const RouteDef& route = definition->routes[0];
  const MiniFrad& frad = WSOCK->GetTargetFrad(route.alias, route.dbName, route.tableName);
  if (!frad.Loaded || frad.NbCols <= 0) {
    LogManager::Global << "Failed to initialize " + name + " - invalid TARGET, " + route.alias + "/" +
                              route.dbName + "/" + route.tableName;
    return false;
  }
  columnMap.clear();
  for (int32_t i = 0; i < frad.NbCols; ++i) columnMap[frad.ColNames[i]] = {i, frad.ColTypes[i]};
  columnCount = frad.NbCols;

  LogManager::Global << "Initializing KAFKA connection";
  if (!Configure()) return false;
  consumer = rd_kafka_new(RD_KAFKA_CONSUMER, consumerConf, errorText, sizeof errorText);
  if (consumer == nullptr) {
    // A configuration that was not taken over is still ours.
    rd_kafka_conf_destroy(consumerConf);
    consumerConf = nullptr;
    LogManager::Global << "Failed to create new consumer: " + LogManager::Escaped(errorText);
    return true;
  }
  rd_kafka_poll_set_consumer(consumer);
  consumerConf = nullptr;  // belongs to the consumer now
  if (!Subscribe()) return true;
  std::signal(SIGINT, KafkaSignal::stop);
  ready = true;
  return true;
}

void KafkaStream::LogSkippedMessages() {
  if (skippedMessages_ == 0 || !skippedLog_.Due()) return;
  LogManager::Global << "Kafka messages without a column of the target skipped: " +
                            std::to_string(skippedMessages_);
  skippedMessages_ = 0;
}

bool KafkaStream::HandleError(rd_kafka_message_t* message) {
  // Error texts may carry a broker's or a peer's bytes.
  std::string text = LogManager::Escaped(rd_kafka_message_errstr(message));
  const bool fatal = message->err == RD_KAFKA_RESP_ERR__FATAL;
  rd_kafka_message_destroy(message);
  if (fatal) {
    char reason[512] = {};
    rd_kafka_fatal_error(consumer, reason, sizeof reason);
    LogManager::Global << "Consumer error: " + text + ": " + LogManager::Escaped(reason);
    if (!quit) WSOCK->SignalDone();
    return false;
  }
  uint64_t folded = 0;
  if (errorLog_.Due(&folded)) LogManager::Global << "Consumer error: " + text + LogThrottle::Folded(folded);
  return true;
}

bool KafkaStream::Handle(rd_kafka_message_t* message) {
  if (message->err == RD_KAFKA_RESP_ERR__PARTITION_EOF) {
    rd_kafka_message_destroy(message);
    return true;
  }
  if (message->err != RD_KAFKA_RESP_ERR_NO_ERROR) return HandleError(message);
  if (batchRows_ == batch_.size()) batch_.emplace_back();
  size_t matched = 0;
  if (message->payload != nullptr) {
    matched = ScanRow(std::string_view(static_cast<const char*>(message->payload), message->len),
                      batch_[batchRows_], scan_);
  }
  rd_kafka_message_destroy(message);
  if (matched == 0) ++skippedMessages_;
  else ++batchRows_;
  return true;
}

void KafkaStream::Flush() {
  TvxClient::UpdateTargetRows(target_, batch_.data(), batchRows_);
  batchRows_ = 0;
}

bool KafkaStream::PollRound(int waitMillis) {
  bool go = true;
  size_t taken = 0;
  for (rd_kafka_message_t* m = rd_kafka_consumer_poll(consumer, waitMillis); m != nullptr;
       m = rd_kafka_consumer_poll(consumer, 0)) {
    go = Handle(m);
    if (!go || ++taken == kBatch) break;
  }
  Flush();
  return go;
}

void KafkaStream::HandOverHeld() {
  for (rd_kafka_message_t* m : held_) Handle(m);  // held messages carry no error
  held_.clear();
  Flush();
}

void KafkaStream::SetPartitionsPaused(bool pause) {
  rd_kafka_topic_partition_list_t* partitions = nullptr;
  if (rd_kafka_assignment(consumer, &partitions) != RD_KAFKA_RESP_ERR_NO_ERROR || partitions == nullptr) return;
  if (partitions->cnt > 0) {
    if (pause) rd_kafka_pause_partitions(consumer, partitions);
    else rd_kafka_resume_partitions(consumer, partitions);
  }
  rd_kafka_topic_partition_list_destroy(partitions);
}

bool KafkaStream::WaitWhilePaused() {
  SetPartitionsPaused(true);
  auto pausedAt = std::chrono::steady_clock::now();
  while (paused && !quit && KafkaSignal::run.load() != 0) {
    if (rd_kafka_message_t* m = rd_kafka_consumer_poll(consumer, kPausedPollMillis)) {
      if (m->err == RD_KAFKA_RESP_ERR_NO_ERROR) held_.push_back(m);
      else if (!Handle(m)) return false;
    }
    if (std::chrono::steady_clock::now() - pausedAt >= kRepauseEvery) {
      SetPartitionsPaused(true);
      pausedAt = std::chrono::steady_clock::now();
    }
  }
  SetPartitionsPaused(false);
  return true;
}

void KafkaStream::Close() {
  // Messages held during a pause were taken from the consumer: their offsets are committed
  // with the others, so they go to the target rather than being lost.
  HandOverHeld();
  LogSkippedMessages();
  LogManager::Global << "Closing Kafka consumer";
  rd_kafka_consumer_close(consumer);
  rd_kafka_destroy(consumer);
  consumer = nullptr;
  for (int i = 0; i < kDecommissionTries; ++i) {
    if (rd_kafka_wait_destroyed(kDecommissionWaitMillis) == 0) break;
    LogManager::Global << "Waiting for Kafka to decommission";
  }
}

void KafkaStream::Run() {
  LogManager::Global << "Running Kafka Stream: " + name;
  StartConsole();
  const RouteDef& route = definition->routes[0];
  target_ = WSOCK->GetTarget(route.alias, route.dbName, route.tableName);
  skippedLog_.SetInterval(std::chrono::milliseconds(std::max<uint32_t>(ConfigParser::Global.updateRate, 1)));
  while (!quit && consumer != nullptr) {
    if (KafkaSignal::run.load() == 0) {
      WSOCK->SignalDone();
      break;
    }
    if (paused) {
      if (!WaitWhilePaused()) break;
      continue;
    }
    HandOverHeld();
    LogSkippedMessages();
    if (!PollRound(kPollMillis)) break;
  }
  if (consumer != nullptr) Close();
  LogManager::Global << "Exiting Kafka Stream: " + name;
}
