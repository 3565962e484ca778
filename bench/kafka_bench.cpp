// Kafka messages turned into target rows per second, against kcat consuming the same topic
// of the same mock cluster (both as a member of a new consumer group, so both pay the
// group join), and JsonToRow alone against simdjson's DOM parse of the same messages.
//
// The mock cluster runs in the tvx_kafkamock helper process; the topic has one partition of
// kMessages messages (the mock slows down past about 30,000 per partition).

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
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

namespace {

using namespace std::chrono_literals;

constexpr int kMessages = 30000;

std::string Message(int i) {
  return "{\"id\": " + std::to_string(i) + ", \"name\": \"item " + std::to_string(i) +
         "\", \"price\": " + std::to_string(i % 997) + ".25, \"when\": \"2026-12-07 08:00:00\", \"note\": null}";
}

// The mock cluster with the topic "bench" filled, and a target table for the stream.
struct Cluster {
  Cluster() {
    std::ofstream file(dir.File("messages.txt"));
    for (int i = 0; i < kMessages; ++i) file << Message(i) << "\n";
    file.close();
    std::string line;
    if (!mock.Start({TVX_BUILD_DIR "/tools/kafkamock/tvx_kafkamock", "--topic", "bench:1", "--produce",
                     "bench:" + dir.File("messages.txt")}) ||
        !mock.WaitForLine("bootstrap ", 10s, &line) || !mock.WaitForLine("ok produced", 120s)) {
      std::fprintf(stderr, "the Kafka mock helper did not start\n");
      std::exit(1);
    }
    bootstrap = line.substr(10);
    servicetest::WriteTargetFile(dir.Path(), "al", "db", "t",
                                 servicetest::Schema({"id", "name", "price", "when", "note"}, {3, 6, 5, 6, 6}));
  }
  ~Cluster() { mock.WriteLine("quit"); }

  void Commit(const std::string& group) {
    const size_t before = mock.Lines().size();
    mock.WriteLine("commit " + group + " bench");
    while (mock.Lines().size() == before) std::this_thread::sleep_for(1ms);
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

int64_t TargetRows(TvxClient& client) {
  TargetData* target = client.GetTarget("al", "db", "t");
  std::lock_guard<std::mutex> lock(target->mutex);
  return target->frad.NbRows;
}

void BM_KafkaStream(benchmark::State& state) {
  Cluster& cluster = TheCluster();
  for (auto _ : state) {
    const std::string group = "stream" + std::to_string(++cluster.groups);
    cluster.Commit(group);
    std::ofstream(cluster.dir.File("apiconfig.json"))
        << R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws","WEBSERVER_ADDRESS":"localhost",)"
           R"("UPDATE_RATE":"100"},"Stream List":[{"NAME":"K","TYPE":"KAFKA","STATUS":"ON","METADATA":{"USER":"",)"
           R"("PASSWORD":"","BOOTSTRAP_SERVERS":")"
        << cluster.bootstrap << R"(","PROTOCOL":"","SASL_MECHANISM":"","GROUP_ID":")" << group
        << R"("},"ROUTES":[{"INPUT":{"TOPIC":"bench"},"TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"t"},)"
           R"("LOGIC":{"ACTION":"UPSERT","KEY":""}}]}]})";
    ConfigParser config;
    config.ScanConfig(cluster.dir.File("apiconfig.json"));
    TvxClient client;
    client.tableRoot = cluster.dir.Path();
    WSOCK = &client;
    std::istringstream noWords;
    KafkaStream stream("K", &config.streams.at("K"));
    stream.consoleIn = &noWords;
    const auto start = std::chrono::steady_clock::now();
    if (!stream.Init() || !stream.ready) {
      state.SkipWithError("the stream did not start");
      return;
    }
    std::thread run([&] { stream.Run(); });
    while (TargetRows(client) < kMessages) std::this_thread::sleep_for(1ms);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    stream.Quit();
    run.join();
    WSOCK = nullptr;
  }
  PerUnit(state, "per_msg", kMessages);
}

void BM_Kcat(benchmark::State& state) {
  Cluster& cluster = TheCluster();
  for (auto _ : state) {
    const std::string group = "kcat" + std::to_string(++cluster.groups);
    cluster.Commit(group);
    const std::string command = "kcat -C -q -b " + cluster.bootstrap + " -G " + group + " -c " +
                                std::to_string(kMessages) + " bench > /dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("kcat failed");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
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
    const char* names[] = {"id", "name", "price", "when", "note"};
    for (int32_t i = 0; i < 5; ++i) columnMap[names[i]] = {i, 6};
    columnCount = 5;
  }
};

void BM_JsonToRow(benchmark::State& state) {
  const std::vector<std::string> messages = Messages();
  const RowScanner scanner;
  for (auto _ : state) {
    for (const std::string& m : messages) benchmark::DoNotOptimize(scanner.JsonToRow(m));
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

BENCHMARK(BM_KafkaStream)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Kcat)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonToRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimdjsonDom)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  testsupport::TempDir logDir;
  LogManager::Global.Init(logDir.Path(), "bench.log", 'w');
  RatioReporter reporter("per_msg", "message",
                         {{"BM_KafkaStream/iterations:3/manual_time", "BM_Kcat/iterations:3/manual_time"},
                          {"BM_JsonToRow", "BM_SimdjsonDom"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  LogManager::Global.Close();
  return 0;
}
