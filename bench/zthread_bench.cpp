// zThread throughput against its anchors in the same run: pigz -6 -p N on the same bytes
// (read from tmpfs, written to a pipe) and one-thread zlib at level 6. Every case reports
// its compression ratio (input bytes / output bytes); the end of the report gives the time
// per KiB of each zThread case and its ratio to each anchor (below 1: zThread is faster).
// The small sizes show where cutting the input into segments starts to pay.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

#include "bench/RatioReporter.h"
#include "foundation/zThread.h"

namespace {

// Column-major blocks as in a table image: row ids, time stamps, prices walking
// randomly, small counts and texts from a short vocabulary.
std::string TableBytes(size_t size) {
  static const char* const kWords[] = {"AAPL", "MSFT", "NVDA", "ASML", "SAP", "NESN", "SHEL"};
  std::mt19937_64 rng(42);
  std::string s;
  s.reserve(size + 65536);
  int64_t id = 0, stamp = 1700000000000000000;
  double price = 100;
  while (s.size() < size) {
    const int kRows = 4096;
    for (int r = 0; r < kRows; r++, id++) s.append(reinterpret_cast<char*>(&id), 8);
    for (int r = 0; r < kRows; r++) {
      stamp += 1000000 + static_cast<int64_t>(rng() % 5000000);
      s.append(reinterpret_cast<char*>(&stamp), 8);
    }
    for (int r = 0; r < kRows; r++) {
      price += (static_cast<double>(rng() % 2001) - 1000) / 10000;
      s.append(reinterpret_cast<char*>(&price), 8);
    }
    for (int r = 0; r < kRows; r++) {
      int32_t count = static_cast<int32_t>(rng() % 500);
      s.append(reinterpret_cast<char*>(&count), 4);
    }
    for (int r = 0; r < kRows; r++) {
      const char* w = kWords[rng() % 7];
      s.append(w).push_back('\0');
    }
  }
  s.resize(size);
  return s;
}

const std::string& Data(size_t size) {
  static std::map<size_t, std::string> cache;
  auto it = cache.find(size);
  if (it == cache.end()) it = cache.emplace(size, TableBytes(size)).first;
  return it->second;
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// One-thread zlib, raw deflate at level 6, as the connection's own stream does it.
// Returns the compressed size.
uint64_t Zlib1(const std::string& in) {
  static std::string out;
  out.resize(compressBound(in.size()) + 64);
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  s.next_in = const_cast<unsigned char*>(Bytes(in));
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = reinterpret_cast<unsigned char*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_SYNC_FLUSH);
  uint64_t written = s.total_out;
  deflateEnd(&s);
  return written;
}

// Copies of the data on tmpfs for pigz, removed when the program ends.
struct TmpfsCopies {
  std::map<size_t, std::string> paths;
  ~TmpfsCopies() {
    for (auto& entry : paths) unlink(entry.second.c_str());
  }
  const std::string& Of(size_t size) {
    std::string& path = paths[size];
    if (path.empty()) {
      path = "/dev/shm/zthread_bench_" + std::to_string(getpid()) + "_" + std::to_string(size);
      FILE* f = std::fopen(path.c_str(), "wb");
      std::fwrite(Data(size).data(), 1, size, f);
      std::fclose(f);
    }
    return path;
  }
};

// pigz -6 -p N on a tmpfs copy of the data, its output read from a pipe. Returns the
// compressed size (0 when pigz could not be run).
uint64_t Pigz(size_t size, int threads) {
  static TmpfsCopies copies;
  const std::string& path = copies.Of(size);
  std::string cmd = "pigz -6 -p " + std::to_string(threads) + " -c " + path;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return 0;
  static char buf[1 << 16];
  uint64_t total = 0;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) total += n;
  return pclose(p) == 0 ? total : 0;
}

void Report(benchmark::State& state, size_t size, uint64_t outBytes) {
  PerUnit(state, "ns_per_KiB", static_cast<double>(size) / 1024);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(outBytes);
}

void BM_zThread(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  int threads = static_cast<int>(state.range(1));
  const std::string& in = Data(size);
  zThread z(threads, 6);
  AppCore::CharBuffer out;
  for (auto _ : state) {
    if (!z.CompressRaw(Bytes(in), in.size(), out, threads, 6)) state.SkipWithError("failed");
  }
  Report(state, size, out.size);
  state.counters["segments"] = static_cast<double>(z.segments.size());
}

void BM_Zlib1(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  uint64_t written = 0;
  for (auto _ : state) written = Zlib1(Data(size));
  Report(state, size, written);
}

void BM_Pigz(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  uint64_t written = 0;
  for (auto _ : state) written = Pigz(size, static_cast<int>(state.range(1)));
  if (written == 0) state.SkipWithError("pigz failed (tools/setup.sh installs it)");
  Report(state, size, written);
}

void SizesAndThreads(benchmark::internal::Benchmark* b) {
  for (int64_t size : {int64_t{1} << 20, int64_t{64} << 20}) {
    for (int64_t threads : {1, 2, 4, 8}) b->Args({size, threads});
  }
}

// Where threading starts to pay: small inputs at one, two and four threads.
void SmallSizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {4 << 10, 16 << 10, 64 << 10, 256 << 10}) {
    for (int64_t threads : {1, 2, 4}) b->Args({size, threads});
  }
}

BENCHMARK(BM_zThread)
    ->Apply(SizesAndThreads)
    ->Apply(SmallSizes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Zlib1)
    ->Arg(4 << 10)->Arg(16 << 10)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20)->Arg(64 << 20)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pigz)->Apply(SizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

RatioReporter::Pairs AnchorPairs() {
  RatioReporter::Pairs pairs;
  for (int log2 : {12, 14, 16, 18, 20, 26}) {
    std::string size = std::to_string(int64_t{1} << log2);
    for (int threads : {1, 2, 4, 8}) {
      if (log2 < 20 && threads == 8) continue;
      std::string name = "BM_zThread/" + size + "/" + std::to_string(threads) + "/real_time";
      pairs.push_back({name, "BM_Zlib1/" + size + "/real_time"});
      if (log2 < 20) continue;
      pairs.push_back({name, "BM_Pigz/" + size + "/" + std::to_string(threads) + "/real_time"});
    }
  }
  return pairs;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_KiB", "KiB", AnchorPairs());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
