#pragma once

// KafkaStream: the producer of stream type "KAFKA". A librdkafka consumer subscribed to one
// topic; every message, a flat JSON object, becomes one row of texts ordered by the columns
// of the target table of route 0 (JsonToRow) and is appended to that target under its lock,
// which is then pending (as TvxClient::UpdateTarget does for one row).
//
// Keys: "USER", "PASSWORD", "BOOTSTRAP_SERVERS", "PROTOCOL", "SASL_MECHANISM", "GROUP_ID"
// from METADATA and "TOPIC" from the INPUT of route 0, all required JSON strings. An empty
// value (other than BOOTSTRAP_SERVERS and TOPIC) leaves librdkafka's default in force. The
// stream itself sets "queued.min.messages" and "queued.max.messages.kbytes": the messages
// librdkafka prefetches take at most twice the memory they take by default, of any size.
//
// Once a consumer is subscribed, SIGINT sets KafkaSignal::run to 0 for the whole process;
// every Kafka stream then asks the service to quit (WSOCK->SignalDone) before its next poll.
// Only a fatal consumer error also ends the service; other errors are logged, at most once
// per second, and consumption goes on. While paused the consumer keeps polling with its
// partitions paused, so a long pause does not cost its group membership.
//
// Messages are taken in batches: after the first poll of a round, whatever the consumer
// has already fetched (up to kBatch messages) is polled without waiting, scanned into
// reused rows and appended to the target under one hold of its lock, in poll order.
//
// Threading: Init on the main thread before the stream's threads run; Run on the stream's
// thread, the base console beside it. The column map and the settings are written by Init
// only. JsonToRow and ScanRow are const and may be called from any thread.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <librdkafka/rdkafka.h>

#include "service/StreamBase.h"
#include "foundation/LogThrottle.h"

struct TargetData;

namespace KafkaSignal {
// 1 until an interrupt arrives; shared by every Kafka stream of the process. Atomic: the
// handler may run on any thread while the streams' threads read it. Lock-free, so that
// the handler may store into it.
extern std::atomic<int> run;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only store into a lock-free atomic");
// The SIGINT handler: stores 0 into run, nothing else.
void stop(int sig);
}  // namespace KafkaSignal

class KafkaStream : public virtual StreamBase {
 public:
  // Column name -> (column index, column type id) of the target table.
  using ColumnMap = std::map<std::string, std::pair<int32_t, int32_t>, std::less<>>;

  KafkaStream(const std::string& name, StreamDef* def);
  // Releases the fields; makes no librdkafka call (Run closes the consumer).
  ~KafkaStream() override;

  // Reads the keys, registers the targets, builds the column map, creates and subscribes
  // the consumer and installs the SIGINT handler; true with ready set. False after a
  // missing key, a target that cannot be registered or has no columns, or a refused
  // setting. A consumer that cannot be created or subscribed is logged and gives true
  // without ready: the service goes on without this stream.
  bool Init() override;
  // Starts the console, then polls and forwards messages until the service quits; closes
  // the consumer and waits for librdkafka to finish.
  void Run() override;
  StreamBase* GetSelf() override;

  // The row of one message: one text per target column, each the value of the member
  // named after the column (empty when the message has none). `*matched` (when not null)
  // gets the number of members stored into the row. Scanning rules: outside quoted text
  // '{' and ',' or '}' start a new member, ':' switches to the value, JSON white space is
  // skipped, other bytes are taken literally (numbers, true, null); inside quotes a
  // backslash protects the next byte, which is copied unchanged (escapes are not decoded).
  // A NUL byte or the end inside quoted text ends the scan; a member is stored only when
  // ',' or '}' follows it.
  std::vector<std::string> JsonToRow(std::string_view payload, size_t* matched = nullptr) const;

  // The scanner's working texts, kept from one message to the next so that their buffers
  // are reused, and the column that the n-th member of the last message named: messages
  // of one topic mostly list their members in the same order, so a key is first compared
  // with that column's name alone. Valid while the column map is unchanged.
  struct ScanBuffers {
    std::string key;
    std::string value;
    std::vector<const ColumnMap::value_type*> columnOfMember;
  };
  // JsonToRow into `row`, which becomes one text per target column (the buffers of the
  // texts it held are reused); the number of members stored.
  size_t ScanRow(std::string_view payload, std::vector<std::string>& row, ScanBuffers& buffers) const;

  std::string bootstrapServers;
  std::string user;
  std::string password;
  std::string protocol;
  std::string saslMechanism;
  std::string topic;
  std::string groupId;
  rd_kafka_t* consumer = nullptr;
  rd_kafka_conf_t* consumerConf = nullptr;
  int32_t lastError = 0;
  char errorText[512] = {};
  ColumnMap columnMap;
  int64_t columnCount = 0;  // of the target table: the length of every row
  // librdkafka settings made after the configured ones. Empty in the service; tests use it
  // to shorten the group's time-outs.
  std::vector<std::pair<std::string, std::string>> extraSettings;

 private:
  // Most messages handed to the target under one hold of its lock.
  static constexpr size_t kBatch = 1024;

  bool ReadKeys();
  bool Configure();
  bool Subscribe();
  // One polled message, released here; its row joins the batch. False when the stream
  // must stop.
  bool Handle(rd_kafka_message_t* message);
  // Hands the batch's rows to the target of route 0 under one hold of its lock.
  void Flush();
  // Polls one round (the first poll waits up to `waitMillis`) and hands its rows over;
  // false when the stream must stop.
  bool PollRound(int waitMillis);
  // Hands the messages held during a pause over, in order.
  void HandOverHeld();
  bool HandleError(rd_kafka_message_t* message);
  // While paused: partitions paused, polling goes on; messages delivered meanwhile are kept
  // and handed over in order on resume. False when the stream must stop.
  bool WaitWhilePaused();
  void SetPartitionsPaused(bool pause);
  void LogSkippedMessages();
  void Close();

  std::vector<rd_kafka_message_t*> held_;  // polled while paused, in order
  TargetData* target_ = nullptr;           // of route 0, found by Run
  std::vector<std::vector<std::string>> batch_;  // rows not yet handed over; reused
  size_t batchRows_ = 0;                         // rows of batch_ in use
  ScanBuffers scan_;
  uint64_t skippedMessages_ = 0;           // messages without a target column, not yet logged
  LogThrottle skippedLog_{std::chrono::milliseconds(200)};
  LogThrottle errorLog_{std::chrono::seconds(1)};
};
