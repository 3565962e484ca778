// Rows per second from UpdateTarget to rows decoded at the stand-in data server over
// loopback, with and without per-message compression, against the anchor: the same
// payload bytes sent raw through the same client connection to the same server (one
// WebSocket message, library send only), in the same run. Each iteration waits until the
// stand-in has decoded the message, so both sides include its decoding; the ratio shows
// what the row intake, the update message and the update cycle's send add.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bench/RatioReporter.h"
#include "foundation/LogManager.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"
#include "tools/standin/StandInServer.h"

namespace {

constexpr int kRows = 1000;
constexpr int kIterations = 200;

// One stand-in and one client connected to it; the client's target "bench" has six
// columns of the usual kinds.
struct Link {
  explicit Link(bool compressed) {
    server.SetDeclineCompression(!compressed);
    server.Start(0);
    WSOCK = &client;
    MiniFrad table;
    table.New("bench");
    table.Set(0, {"id", "name", "price", "qty", "when", "note"}, {3, 6, 5, 2, 20, 6}, {0, 0, 0, 0, 0, 0});
    client.NewTarget("api", "live", "bench", "UPSERT", "id", std::move(table));
    client.Init("127.0.0.1", server.Port());
    while (TvxClient::Status != TvxClient::kOpen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Link() {
    client.Quit();
    WSOCK = nullptr;
  }

  void AddRows(int first) {
    for (int i = first; i < first + kRows; ++i) {
      client.UpdateTarget("api", "live", "bench",
                          {std::to_string(i), "vehicle " + std::to_string(i % 97), std::to_string(i * 0.25),
                           std::to_string(i % 13), "2025-10-16 12:00:00", "north lane"});
    }
  }

  // The payload of one update of kRows rows, as the client would send it.
  std::string OnePayload() {
    std::string payload;
    TvxClient::FrameSink real = client.frameSink;
    client.frameSink = [&](bool, uint64_t size, const TvxClient::FrameFill& fill, std::string*) {
      payload.resize(size);
      fill(&payload[0]);
      return TvxClient::FrameResult::kSent;
    };
    AddRows(0);
    client.SendTargetUpdates();
    client.frameSink = real;
    return payload;
  }

  standin::StandInServer server;
  TvxClient client;
};

void EndToEnd(benchmark::State& state, bool compressed) {
  Link link(compressed);
  size_t sent = 0;
  for (auto _ : state) {
    link.AddRows(static_cast<int>(sent) * kRows);
    link.client.SendTargetUpdates();
    link.server.WaitForMessages(++sent, std::chrono::seconds(30));
  }
  if (link.server.RowsOf("bench").size() != sent * kRows) state.SkipWithError("rows went missing");
  PerUnit(state, "ns_per_row", kRows);
}

void RawSend(benchmark::State& state, bool compressed) {
  Link link(compressed);
  const std::string payload = link.OnePayload();  // captured, not sent
  size_t sent = 0;
  std::string error;
  for (auto _ : state) {
    link.client.frameSink(true, payload.size(), [&](char* out) { std::memcpy(out, payload.data(), payload.size()); },
                          &error);
    link.server.WaitForMessages(++sent, std::chrono::seconds(30));
  }
  PerUnit(state, "ns_per_row", kRows);
}

void BM_EndToEndCompressed(benchmark::State& state) { EndToEnd(state, true); }
void BM_EndToEndPlain(benchmark::State& state) { EndToEnd(state, false); }
void BM_RawSendCompressed(benchmark::State& state) { RawSend(state, true); }
void BM_RawSendPlain(benchmark::State& state) { RawSend(state, false); }

BENCHMARK(BM_EndToEndCompressed)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSendCompressed)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EndToEndPlain)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSendPlain)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_row", "row",
                         {{"BM_EndToEndCompressed/iterations:200/real_time", "BM_RawSendCompressed/iterations:200/real_time"},
                          {"BM_EndToEndPlain/iterations:200/real_time", "BM_RawSendPlain/iterations:200/real_time"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
