// One table update as the update cycle makes it: the message built around a target's table
// of 1,000, 10,000 or 100,000 rows of six columns (INT, BIG INT, FLOAT, BIG FLOAT, TEXT,
// DATETIME) and written as "BS=" + image into the frame payload, against its anchor, a
// memcpy of the same number of bytes.
//
// BM_UpdateCompressed adds what the connection then does to that payload: the compression
// step of the client's per-message deflate extension (negotiated as the stand-in does, no
// context takeover, full window). Its anchor BM_ZlibDeflate is plain zlib on the same
// payload bytes: raw deflate, level 6, default memory level, one reused stream.
//
// The report ends with the ratio of each case to its anchor.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "bench/RatioReporter.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "service/TvxWsConfig.h"
#include "table/MiniFrad.h"

namespace {

// A client with one keep-rows target of `rows` rows whose frames land in `payload`, then
// go to `onFrame`.
struct Fixture {
  TvxClient client;
  TargetData* target = nullptr;
  std::string payload;
  std::function<void(const std::string&)> onFrame = [](const std::string&) {};

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
      onFrame(payload);
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
  PerUnit(state, "ns_per_message", 1);
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
  PerUnit(state, "ns_per_message", 1);
}

void BM_UpdateCompressed(benchmark::State& state) {
  TvxClient::Status = TvxClient::kOpen;
  Fixture f(state.range(0));
  TvxAsioConfig::permessage_deflate_type deflate;
  deflate.negotiate({{"client_no_context_takeover", ""}});
  deflate.init(false);
  std::string out;
  f.onFrame = [&](const std::string& payload) {
    out.clear();
    deflate.compress(payload, out, 1, 6);
  };
  for (auto _ : state) {
    f.SendOnce();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["compressed_bytes"] = static_cast<double>(out.size());
  PerUnit(state, "ns_per_message", 1);
}

void BM_ZlibDeflate(benchmark::State& state) {
  TvxClient::Status = TvxClient::kOpen;
  Fixture f(state.range(0));
  f.SendOnce();
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, f.payload.size()) + 64, '\0');
  for (auto _ : state) {
    deflateReset(&s);
    s.next_in = reinterpret_cast<unsigned char*>(f.payload.data());
    s.avail_in = static_cast<uInt>(f.payload.size());
    s.next_out = reinterpret_cast<unsigned char*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FULL_FLUSH);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["compressed_bytes"] = static_cast<double>(s.total_out);
  deflateEnd(&s);
  PerUnit(state, "ns_per_message", 1);
}

BENCHMARK(BM_UpdateMessage)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyImage)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateCompressed)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZlibDeflate)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_message", "message",
                         {{"BM_UpdateMessage/1000", "BM_MemcpyImage/1000"},
                          {"BM_UpdateMessage/10000", "BM_MemcpyImage/10000"},
                          {"BM_UpdateMessage/100000", "BM_MemcpyImage/100000"},
                          {"BM_UpdateCompressed/10000", "BM_ZlibDeflate/10000"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
