// Kafka messages turned into rows decoded at the stand-in data server, against kcat reading
// the same topic of the same mock cluster in the same run (`kcat -C -o beginning -e`, the
// whole process), at UPDATE_RATE 100 and 1000 ms; and the stream's scanner alone (into a
// reused row, as the stream runs it) against simdjson's DOM parse of the same messages.
//
// The mock cluster runs in the tvx_kafkamock helper process; the topic has kPartitions
// partitions holding kMessages messages of six members (two texts), spread evenly, and the
// helper refuses to go on if the mock dropped any of them.
//
// The stream's figure is its steady state. The service moves rows on two threads side by
// side: the stream's, which takes messages and appends their rows to the target (the
// intake: first message taken to last message taken, whose row follows within its
// batch), and the update cycle's, which builds, compresses and sends the update messages
// (the send: the time spent in SendTargetUpdates until the last row is decoded at the
// stand-in). Fed for longer than one pass, the service moves rows at the pace of the
// busier of the two, so the figure is max(intake, send). The group join before the first
// message is not counted (a running service joins once), nor the wait for the update
// period, a latency of at most one period that does not limit the rows per second. Every
// row must reach the stand-in, whose own decoding is the peer's work. The counters also
// give the drain: intake plus the last period's send up to the stand-in's decoding of the
// last row, what one pass over a backlog of kMessages costs before it is all at the
// stand-in. Each iteration is a fresh consumer group on a fresh link. The update cycle is
// the client's (SendTargetUpdates every UPDATE_RATE ms), driven here so that each period's
// send is timed.

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "bench/RatioReporter.h"
#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "streams/KafkaStream.h"
#include "support/ServiceTestUtil.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "tools/standin/StandInServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kMessages = 200000;
constexpr int kPartitions = 8;

std::string Message(int i) {
  return "{\"id\": " + std::to_string(i) + ", \"name\": \"vehicle " + std::to_string(i % 97) +
         "\", \"price\": " + std::to_string(i % 997) + ".25, \"qty\": " + std::to_string(i % 13) +
         ", \"when\": \"2026-12-07 08:00:00\", \"note\": \"north lane\"}";
}

// The mock cluster with the topic "bench" filled, and a target table for the stream.
struct Cluster {
  Cluster() {
    std::ofstream file(dir.File("messages.txt"));
    for (int i = 0; i < kMessages; ++i) file << Message(i) << "\n";
    file.close();
    std::string line;
    if (!mock.Start({TVX_BUILD_DIR "/tools/kafkamock/tvx_kafkamock", "--topic", "bench:" + std::to_string(kPartitions),
                     "--produce", "bench:" + dir.File("messages.txt")}) ||
        !mock.WaitForLine("bootstrap ", 10s, &line) || !mock.WaitForLine(" produced ", 300s) ||
        !mock.WaitForLine("ok produced", 1s)) {
      std::fprintf(stderr, "the Kafka mock helper did not start or did not keep every message\n");
      std::exit(1);
    }
    bootstrap = line.substr(10);
    servicetest::WriteTargetFile(
        dir.Path(), "al", "db", "t",
        servicetest::Schema({"id", "name", "price", "qty", "when", "note"}, {3, 6, 5, 2, 20, 6}));
  }
  ~Cluster() { mock.WriteLine("quit"); }

  void Commit(const std::string& group) {
    mock.WriteLine("commit " + group + " bench");
    mock.WaitForLine("ok commit " + group, 30s);
  }

  testsupport::TempDir dir;
  testsupport::Subprocess mock;
  std::string bootstrap;
  int groups = 0;
};

Cluster& TheCluster() {
  static Cluster cluster;
  return cluster;
}

std::string Config(const Cluster& cluster, const std::string& group, int updateRate) {
  return R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws","WEBSERVER_ADDRESS":"localhost",)"
         R"("UPDATE_RATE":")" +
         std::to_string(updateRate) +
         R"("},"Stream List":[{"NAME":"K","TYPE":"KAFKA","STATUS":"ON","METADATA":{"USER":"","PASSWORD":"",)"
         R"("BOOTSTRAP_SERVERS":")" +
         cluster.bootstrap + R"(","PROTOCOL":"","SASL_MECHANISM":"","GROUP_ID":")" + group +
         R"("},"ROUTES":[{"INPUT":{"TOPIC":"bench"},"TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"t"},)"
         R"("LOGIC":{"ACTION":"UPSERT","KEY":""}}]}]})";
}

// Messages the consumer has handed to the stream so far (the sum of its positions).
int64_t Consumed(rd_kafka_t* consumer, rd_kafka_topic_partition_list_t* partitions) {
  if (rd_kafka_position(consumer, partitions) != RD_KAFKA_RESP_ERR_NO_ERROR) return 0;
  int64_t sum = 0;
  for (int i = 0; i < partitions->cnt; ++i) sum += partitions->elems[i].offset > 0 ? partitions->elems[i].offset : 0;
  return sum;
}

// The client's update cycle: SendTargetUpdates every period, each period starting when the
// last one's work ended; times each period's send.
class UpdateCycle {
 public:
  UpdateCycle(TvxClient& client, std::chrono::milliseconds period)
      : thread_([this, &client, period] {
          std::unique_lock<std::mutex> lock(mu_);
          while (!stop_) {
            if (wake_.wait_until(lock, Clock::now() + period, [this] { return stop_; })) break;
            const Clock::time_point start = Clock::now();
            lock.unlock();
            client.SendTargetUpdates();
            lock.lock();
            sends_.push_back({start, Clock::now()});
          }
        }) {}
  ~UpdateCycle() { Stop(); }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  // After Stop: the start of the first period's send at or after `t`, and the time spent
  // in the sends that started before `t`.
  Clock::time_point FirstStartAfter(Clock::time_point t) const {
    for (const Send& s : sends_)
      if (s.start >= t) return s.start;
    return t;
  }
  Clock::duration BusyBefore(Clock::time_point t) const {
    Clock::duration busy{};
    for (const Send& s : sends_)
      if (s.start < t) busy += s.end - s.start;
    return busy;
  }

 private:
  struct Send {
    Clock::time_point start, end;
  };
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::vector<Send> sends_;
  std::thread thread_;
};

size_t RowsAt(const standin::StandInServer::View& v) {
  size_t rows = 0;
  for (const standin::Received& m : v.messages) rows += m.hasTable ? m.table.rows.size() : 0;
  return rows;
}

// One pass of every message through a fresh stream and link, in seconds.
struct Pass {
  double intake = 0;
  double send = 0;
  double drain = 0;
};

bool OnePass(Cluster& cluster, int updateRate, Pass* pass, std::string* error) {
  const std::string group = "stream" + std::to_string(++cluster.groups);
  cluster.Commit(group);
  std::ofstream(cluster.dir.File("apiconfig.json")) << Config(cluster, group, updateRate);
  ConfigParser config;
  config.ScanConfig(cluster.dir.File("apiconfig.json"));
  ConfigParser::Global.updateRate = static_cast<uint32_t>(updateRate);

  standin::StandInServer server;
  server.Start(0);
  TvxClient client;
  client.tableRoot = cluster.dir.Path();
  WSOCK = &client;
  client.Init("127.0.0.1", server.Port());
  while (TvxClient::Status != TvxClient::kOpen) std::this_thread::sleep_for(1ms);

  std::istringstream noWords;
  KafkaStream stream("K", &config.streams.at("K"));
  stream.consoleIn = &noWords;
  if (!stream.Init() || !stream.ready) {
    *error = "the stream did not start";
    client.Quit();
    WSOCK = nullptr;
    return false;
  }
  rd_kafka_topic_partition_list_t* partitions = rd_kafka_topic_partition_list_new(kPartitions);
  for (int p = 0; p < kPartitions; ++p) rd_kafka_topic_partition_list_add(partitions, "bench", p);
  std::thread run([&] { stream.Run(); });
  Clock::time_point first, handed, decoded;
  {
    UpdateCycle cycle(client, std::chrono::milliseconds(updateRate));
    const Clock::time_point deadline = Clock::now() + 120s;
    int64_t consumed = 0;
    while ((consumed = Consumed(stream.consumer, partitions)) == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(100us);
    first = Clock::now();
    while (consumed < kMessages && Clock::now() < deadline) {
      std::this_thread::sleep_for(100us);
      consumed = Consumed(stream.consumer, partitions);
    }
    handed = Clock::now();
    if (!server.WaitUntil([](const standin::StandInServer::View& v) { return RowsAt(v) >= kMessages; },
                          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()))) {
      *error = "rows went missing";
    }
    decoded = Clock::now();
    cycle.Stop();
    pass->intake = std::chrono::duration<double>(handed - first).count();
    pass->send = std::chrono::duration<double>(cycle.BusyBefore(decoded)).count();
    pass->drain = pass->intake + std::chrono::duration<double>(decoded - cycle.FirstStartAfter(handed)).count();
  }
  rd_kafka_topic_partition_list_destroy(partitions);
  stream.Quit();
  run.join();
  client.Quit();
  WSOCK = nullptr;
  if (!error->empty()) return false;
  std::set<std::string> ids;
  for (const auto& row : server.RowsOf("t")) ids.insert(row[0]);
  if (ids.size() != static_cast<size_t>(kMessages)) *error = "the stand-in holds other rows than the messages";
  return error->empty();
}

void BM_KafkaToStandIn(benchmark::State& state) {
  Cluster& cluster = TheCluster();
  Pass sum;
  for (auto _ : state) {
    Pass pass;
    std::string error;
    if (!OnePass(cluster, static_cast<int>(state.range(0)), &pass, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.SetIterationTime(std::max(pass.intake, pass.send));
    sum.intake += pass.intake;
    sum.send += pass.send;
    sum.drain += pass.drain;
  }
  PerUnit(state, "per_msg", kMessages);
  const double perIteration = 1000 / static_cast<double>(state.iterations());
  state.counters["intake_ms"] = sum.intake * perIteration;
  state.counters["send_ms"] = sum.send * perIteration;
  state.counters["drain_ms"] = sum.drain * perIteration;
}

void BM_Kcat(benchmark::State& state) {
  Cluster& cluster = TheCluster();
  const std::string command = "kcat -C -q -b " + cluster.bootstrap + " -t bench -o beginning -e 2>/dev/null";
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    const auto start = Clock::now();
    FILE* out = popen(command.c_str(), "r");
    int64_t lines = 0;
    for (size_t n; out != nullptr && (n = std::fread(buffer.data(), 1, buffer.size(), out)) > 0;) {
      for (size_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    }
    if (out == nullptr || pclose(out) != 0 || lines != kMessages) {
      state.SkipWithError("kcat failed or read other messages");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  PerUnit(state, "per_msg", kMessages);
}

std::vector<std::string> Messages() {
  std::vector<std::string> messages;
  for (int i = 0; i < kMessages; ++i) messages.push_back(Message(i));
  return messages;
}

class RowScanner : public KafkaStream {
 public:
  RowScanner() : StreamBase("bench", nullptr), KafkaStream("bench", nullptr) {
    const char* names[] = {"id", "name", "price", "qty", "when", "note"};
    for (int32_t i = 0; i < 6; ++i) columnMap[names[i]] = {i, 6};
    columnCount = 6;
  }
};

void BM_JsonToRow(benchmark::State& state) {
  const std::vector<std::string> messages = Messages();
  const RowScanner scanner;
  std::vector<std::string> row;
  KafkaStream::ScanBuffers buffers;
  for (auto _ : state) {
    for (const std::string& m : messages) benchmark::DoNotOptimize(scanner.ScanRow(m, row, buffers));
  }
  PerUnit(state, "per_msg", kMessages);
}

void BM_SimdjsonDom(benchmark::State& state) {
  const std::vector<std::string> messages = Messages();
  simdjson::dom::parser parser;
  for (auto _ : state) {
    for (const std::string& m : messages) {
      simdjson::dom::element doc;
      benchmark::DoNotOptimize(parser.parse(m).get(doc));
      benchmark::DoNotOptimize(doc);
    }
  }
  PerUnit(state, "per_msg", kMessages);
}

BENCHMARK(BM_KafkaToStandIn)->Arg(100)->Arg(1000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Kcat)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonToRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimdjsonDom)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  testsupport::TempDir logDir;
  LogManager::Global.Init(logDir.Path(), "bench.log", 'w');
  const std::string kcat = "BM_Kcat/iterations:3/manual_time";
  RatioReporter reporter("per_msg", "message",
                         {{"BM_KafkaToStandIn/100/iterations:3/manual_time", kcat},
                          {"BM_KafkaToStandIn/1000/iterations:3/manual_time", kcat},
                          {"BM_JsonToRow", "BM_SimdjsonDom"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  LogManager::Global.Close();
  return 0;
}
