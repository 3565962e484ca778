// The replay stream's cost per sample of a large sample file that stays unchanged, against
// the anchor measured in the same run: the full read that a sample made before the stream
// kept its image (read the file into a read-only container, load its table as a locked
// view, then the same row texts and UpdateTarget). Samples of 304,000 and 1,000,000 rows
// (about 10 MB and 33 MB, the columns of tvx_samplegen), random rows, into a client with no
// link whose target is emptied outside the timed part every kResetEvery samples.
//
// The files are written once, then the run waits a second and more: a file read within a
// second of its last change is read again at every sample, which is not the steady state.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchDir.h"
#include "bench/RatioReporter.h"
#include "record/ByteStream.h"
#include "service/ConfigParser.h"
#include "service/TvxClient.h"
#include "streams/DefaultStream.h"
#include "table/MiniFrad.h"

namespace {

constexpr int64_t kResetEvery = 1 << 14;
const std::vector<int32_t> kTypes = {2, 6, 5};
const std::vector<std::string> kNames = {"n", "name", "price"};

// The sample file of `rows` rows, as tvx_samplegen writes it; the first call writes every
// size and lets the files settle.
std::string SamplePath(int64_t rows) {
  static const bool written = [] {
    for (int64_t n : {304000, 1000000}) {
      std::vector<std::vector<std::string>> cells;
      for (int64_t i = 0; i < n; ++i) {
        cells.push_back({std::to_string(i), "item " + std::to_string(i), std::to_string((i * 37) % 1000) + ".5"});
      }
      MiniFrad table = MiniFrad::GenMiniFrad("sample", kTypes, cells, kNames);
      table.ToByteStream("", "").Save(BenchDir() + "/sample_" + std::to_string(n) + ".ostrel");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return true;
  }();
  (void)written;
  return BenchDir() + "/sample_" + std::to_string(rows) + ".ostrel";
}

// A replay stream on the sample of `rows` rows, drawing random rows, and its client.
struct Replay {
  StreamDef def;
  TvxClient client;
  std::unique_ptr<DefaultStream> stream;

  explicit Replay(int64_t rows) {
    RouteDef route;
    route.alias = "api";
    route.dbName = "live";
    route.tableName = "numbers";
    route.action = "UPSERT";
    def.name = "replay";
    def.type = "DEFAULT";
    def.active = true;
    def.routes.push_back(route);
    WSOCK = &client;
    client.NewTarget("api", "live", "numbers", "UPSERT", "", MiniFrad::GenMiniFrad("numbers", kTypes, {}, kNames));
    stream = std::make_unique<DefaultStream>("replay", &def);
    stream->samplePath = SamplePath(rows);
    stream->rowDistribution = std::uniform_int_distribution<uint64_t>(0, static_cast<uint64_t>(rows) - 1);
  }
  ~Replay() {
    stream.reset();
    WSOCK = nullptr;
  }

  // Empties the target now and then, outside the timed part, so that it stays small.
  void Trim(benchmark::State& state, int64_t done) {
    if (done % kResetEvery != 0) return;
    state.PauseTiming();
    client.ResetTarget("api", "live", "numbers");
    state.ResumeTiming();
  }
};

void BM_SampleKept(benchmark::State& state) {
  Replay replay(state.range(0));
  std::lock_guard<std::mutex> lock(replay.stream->mutex);
  replay.stream->ExecSample();  // the one read
  int64_t done = 0;
  for (auto _ : state) {
    replay.stream->ExecSample();
    replay.Trim(state, ++done);
  }
  if (!replay.stream->sample.kept) state.SkipWithError("the sample was not kept");
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(replay.stream->samplePath));
  PerUnit(state, "ns_per_sample", 1);
}

// The anchor: the whole file read for every sample.
void BM_SampleFullRead(benchmark::State& state) {
  Replay replay(state.range(0));
  DefaultStream& stream = *replay.stream;
  int64_t done = 0;
  for (auto _ : state) {
    const uint64_t row = stream.rowDistribution(stream.generator);
    ByteStream bs(true);
    MiniFrad frad;
    if (!bs.Read(stream.samplePath) || !frad.Load(&bs, true)) {
      state.SkipWithError("the sample did not load");
      break;
    }
    std::vector<std::string> texts(static_cast<size_t>(frad.NbCols));
    for (int64_t c = 0; c < frad.NbCols; ++c) frad.ToString(c, static_cast<int64_t>(row), texts[c]);
    replay.client.UpdateTarget("api", "live", "numbers", texts);
    replay.Trim(state, ++done);
  }
  PerUnit(state, "ns_per_sample", 1);
}

BENCHMARK(BM_SampleKept)->Arg(304000)->Arg(1000000);
BENCHMARK(BM_SampleFullRead)->Arg(304000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter::Pairs pairs;
  for (const char* rows : {"304000", "1000000"}) {
    pairs.emplace_back(std::string("BM_SampleKept/") + rows, std::string("BM_SampleFullRead/") + rows);
  }
  RatioReporter reporter("ns_per_sample", "sample", pairs);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
