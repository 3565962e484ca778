// zThread throughput against its anchors, in the same run: pigz -6 -p N on the same bytes
// (read from tmpfs, written to a pipe) and one-thread zlib at level 6.
//
// Counters of BM_zThread:
//   ratio       input bytes / output bytes
//   segments    segments actually used (one hardware thread is left free)
//   vs_zlib1    one-thread zlib time / zThread time (above 1: zThread is faster)
//   vs_pigz     pigz -p N time / zThread time
// BM_Pigz and BM_Zlib1 report the anchors' own ratio and throughput.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

#include "foundation/zThread.h"

namespace {

using Clock = std::chrono::steady_clock;

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

struct Run {
  double seconds = 0;
  uint64_t outBytes = 0;
};

// One-thread zlib, raw deflate at level 6, as the connection's own stream does it.
Run Zlib1(const std::string& in) {
  static std::string out;
  out.resize(compressBound(in.size()) + 64);
  auto start = Clock::now();
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  s.next_in = const_cast<unsigned char*>(Bytes(in));
  s.avail_in = static_cast<uInt>(in.size());
  s.next_out = reinterpret_cast<unsigned char*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_SYNC_FLUSH);
  Run r{std::chrono::duration<double>(Clock::now() - start).count(), s.total_out};
  deflateEnd(&s);
  return r;
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

// pigz -6 -p N on a tmpfs copy of the data, its output read from a pipe.
Run Pigz(size_t size, int threads) {
  static TmpfsCopies copies;
  const std::string& path = copies.Of(size);
  std::string cmd = "pigz -6 -p " + std::to_string(threads) + " -c " + path;
  auto start = Clock::now();
  FILE* p = popen(cmd.c_str(), "r");
  Run r;
  if (!p) return r;
  static char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.outBytes += n;
  pclose(p);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

// Best of a few runs: the anchors are timed where the benchmark runs.
template <typename F>
double BestSeconds(F run, int times) {
  double best = 1e30;
  for (int i = 0; i < times; i++) best = std::min(best, run().seconds);
  return best;
}

void BM_zThread(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  int threads = static_cast<int>(state.range(1));
  const std::string& in = Data(size);
  zThread z(threads, 6);
  AppCore::CharBuffer out;
  double spent = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!z.CompressRaw(Bytes(in), in.size(), out, threads, 6)) state.SkipWithError("failed");
    spent += std::chrono::duration<double>(Clock::now() - start).count();
    runs++;
  }
  double ours = spent / static_cast<double>(runs);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(out.size);
  state.counters["segments"] = static_cast<double>(z.segments.size());
  state.counters["vs_zlib1"] = BestSeconds([&] { return Zlib1(in); }, 3) / ours;
  if (size >= (1 << 20)) {
    state.counters["vs_pigz"] = BestSeconds([&] { return Pigz(size, threads); }, 3) / ours;
  }
}

void BM_Zlib1(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  Run r;
  for (auto _ : state) r = Zlib1(Data(size));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(r.outBytes);
}

void BM_Pigz(benchmark::State& state) {
  size_t size = static_cast<size_t>(state.range(0));
  Run r;
  for (auto _ : state) r = Pigz(size, static_cast<int>(state.range(1)));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(r.outBytes);
}

void SizesAndThreads(benchmark::internal::Benchmark* b) {
  for (int64_t size : {int64_t{1} << 20, int64_t{64} << 20}) {
    for (int64_t threads : {1, 2, 4, 8}) b->Args({size, threads});
  }
}

// Where threading starts to pay: small inputs at one and four threads.
void SmallSizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {4 << 10, 16 << 10, 64 << 10, 256 << 10}) {
    for (int64_t threads : {1, 2, 4}) b->Args({size, threads});
  }
}

BENCHMARK(BM_zThread)->Apply(SizesAndThreads)->Apply(SmallSizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Zlib1)->Arg(4 << 10)->Arg(16 << 10)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pigz)->Apply(SizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
