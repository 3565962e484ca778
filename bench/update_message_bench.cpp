// One table update as the update cycle makes it: the message built around a target's table
// of 1,000 or 100,000 rows of six columns (INT, BIG INT, FLOAT, BIG FLOAT, TEXT, DATETIME)
// and written as "BS=" + image into the frame payload, against its anchor, a memcpy of the
// same number of bytes. The report ends with the time ratio for each row count.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"

namespace {

// A client with one keep-rows target of `rows` rows whose frames land in `payload`.
struct Fixture {
  TvxClient client;
  TargetData* target = nullptr;
  std::string payload;

  explicit Fixture(int64_t rows) {
    MiniFrad frad;
    frad.New("bench");
    frad.Set(0, {"id", "count", "ratio", "price", "label", "when"}, {2, 3, 4, 5, 6, 20},
             {0, 0, 0, 0, 64, 0});
    for (int64_t r = 0; r < rows; ++r) {
      frad.AddRow({std::to_string(r), std::to_string(r * 1000003), std::to_string(r % 977 / 8.0),
                   std::to_string(r * 0.25), "label " + std::to_string(r % 1000),
                   "2025-10-16 12:" + std::to_string(10 + r % 50) + ":00"});
    }
    client.NewTarget("bench", "db", "table", "UPSERT", "id", std::move(frad));
    target = client.GetTarget("bench", "db", "table");
    target->keepRows = true;  // every iteration sends the same table
    client.frameSink = [this](bool, uint64_t size, const TvxClient::FrameFill& fill, std::string*) {
      payload.resize(size);
      fill(payload.data());
      return TvxClient::FrameResult::kSent;
    };
  }

  void SendOnce() {
    target->pending = true;
    client.SendTargetUpdates();
  }
};

void BM_UpdateMessage(benchmark::State& state) {
  TvxClient::Status = TvxClient::kOpen;
  Fixture f(state.range(0));
  for (auto _ : state) {
    f.SendOnce();
    benchmark::DoNotOptimize(f.payload.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.payload.size()));
  state.counters["payload_bytes"] = static_cast<double>(f.payload.size());
}

void BM_MemcpyImage(benchmark::State& state) {
  TvxClient::Status = TvxClient::kOpen;
  Fixture f(state.range(0));
  f.SendOnce();
  std::string copy(f.payload.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), f.payload.data(), f.payload.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.payload.size()));
}

BENCHMARK(BM_UpdateMessage)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyImage)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Keeps the time per iteration by benchmark and row count for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::pair<std::string, std::string>, double> times;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      times[{run.run_name.function_name, run.run_name.args}] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* rows : {"1000", "100000"}) {
    const double ours = reporter.times[{"BM_UpdateMessage", rows}];
    const double anchor = reporter.times[{"BM_MemcpyImage", rows}];
    if (ours > 0 && anchor > 0) {
      std::printf("%s rows: update message %.1f us, memcpy of its image %.1f us, ratio %.1f\n", rows,
                  ours, anchor, ours / anchor);
    }
  }
  benchmark::Shutdown();
  return 0;
}
