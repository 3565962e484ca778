// ch_ThreadPool against boost::asio::thread_pool with post, in the same run, both with the
// service's worker count (3 on a machine with 6 or more hardware threads).
//
//   BM_*Throughput  jobs per second: a batch of small jobs pushed from one thread, timed
//                   until the last one has run
//   BM_*Latency     push-to-run latency: one job at a time on an idle pool, timed from the
//                   push until the job starts on its worker
// PushJob also hands back a future of each job, which asio's post does not;
// BM_AsioFutureThroughput gives asio the same future.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include "bench/RatioReporter.h"
#include "foundation/ch_ThreadPool.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned char kWorkers = 3;
constexpr int kBatch = 10000;

// Submits through ch_ThreadPool, created once (it reports its threads on standard output).
struct OurPool {
  static ch_ThreadPool& Get() {
    static ch_ThreadPool pool(kWorkers);
    return pool;
  }
  template <class F>
  static void Submit(F f) {
    Get().PushJob(std::move(f));
  }
};

struct AsioPool {
  static boost::asio::thread_pool& Get() {
    static boost::asio::thread_pool pool(kWorkers);
    return pool;
  }
  template <class F>
  static void Submit(F f) {
    boost::asio::post(Get(), std::move(f));
  }
};

// asio's post with the same future per job that PushJob hands back: shows how much of the
// difference is the future rather than the queue.
struct AsioPoolWithFuture {
  template <class F>
  static void Submit(F f) {
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(f));
    std::future<void> result = task->get_future();
    boost::asio::post(AsioPool::Get(), [task] { (*task)(); });
  }
};

template <class Pool>
void Throughput(benchmark::State& state) {
  std::atomic<int> done{0};
  for (auto _ : state) {
    done.store(0, std::memory_order_relaxed);
    for (int i = 0; i < kBatch; ++i) Pool::Submit([&done] { done.fetch_add(1, std::memory_order_relaxed); });
    while (done.load(std::memory_order_acquire) != kBatch) {
    }
  }
  PerUnit(state, "per_job", kBatch);
  state.counters["jobs_per_s"] =
      benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate);
}

template <class Pool>
void Latency(benchmark::State& state) {
  std::atomic<Clock::rep> started{0};
  for (auto _ : state) {
    started.store(0, std::memory_order_relaxed);
    Clock::time_point push = Clock::now();
    Pool::Submit([&started] { started.store(Clock::now().time_since_epoch().count(), std::memory_order_release); });
    Clock::rep at;
    while ((at = started.load(std::memory_order_acquire)) == 0) {
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::duration(at) - push.time_since_epoch()).count());
  }
  PerUnit(state, "per_job", 1);
}

void BM_PoolThroughput(benchmark::State& state) { Throughput<OurPool>(state); }
void BM_AsioThroughput(benchmark::State& state) { Throughput<AsioPool>(state); }
void BM_AsioFutureThroughput(benchmark::State& state) { Throughput<AsioPoolWithFuture>(state); }
void BM_PoolLatency(benchmark::State& state) { Latency<OurPool>(state); }
void BM_AsioLatency(benchmark::State& state) { Latency<AsioPool>(state); }

BENCHMARK(BM_PoolThroughput)->UseRealTime();
BENCHMARK(BM_AsioThroughput)->UseRealTime();
BENCHMARK(BM_AsioFutureThroughput)->UseRealTime();
BENCHMARK(BM_PoolLatency)->UseManualTime();
BENCHMARK(BM_AsioLatency)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("per_job", "job",
                         {{"BM_PoolThroughput/real_time", "BM_AsioThroughput/real_time"},
                          {"BM_PoolThroughput/real_time", "BM_AsioFutureThroughput/real_time"},
                          {"BM_PoolLatency/manual_time", "BM_AsioLatency/manual_time"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
