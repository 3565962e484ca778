#include "foundation/ch_ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A gate that jobs wait on until the test opens it.
class Gate {
 public:
  void Wait() { opened_.wait(); }
  void Open() { promise_.set_value(); }

 private:
  std::promise<void> promise_;
  std::shared_future<void> opened_ = promise_.get_future().share();
};

void WaitUntil(const std::function<bool()>& condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(ThreadPool, WorkerCountFollowsHardwareThreads) {
  struct Case {
    unsigned char requested;
    unsigned hardware;
    unsigned char workers;
  } cases[] = {{3, 1, 0}, {3, 2, 1}, {3, 4, 3}, {3, 0, 3}, {5, 3, 2}, {1, 8, 1}, {0, 8, 0}, {40, 0, 40}};
  for (const Case& c : cases) {
    CaptureStdout();
    {
      ch_ThreadPool pool(c.requested, c.hardware);
      EXPECT_EQ(pool.GetNbThreads(), c.workers);
      EXPECT_EQ(pool.GetNbThreadsFree(), c.workers);
    }
    std::string expected;
    for (unsigned i = 0; i < c.workers; ++i) expected += "Created Thread " + std::to_string(i) + "\n";
    expected += "Created Ordered Thread\n";
    for (unsigned i = 0; i < c.workers; ++i) expected += "Joined Thread " + std::to_string(i) + "\n";
    expected += "Joined OrderedThread\n";
    EXPECT_EQ(GetCapturedStdout(), expected) << "hardware threads " << c.hardware;
  }
}

TEST(ThreadPool, ResultsArgumentsAndExceptionsReachTheFuture) {
  ch_ThreadPool pool(2, 4);
  std::string word = "abc";
  auto joined = pool.PushJob([](std::string s, int n) { return s + std::to_string(n); }, word, 7);
  word = "changed";  // the job holds its own copy
  EXPECT_EQ(joined.get(), "abc7");
  auto failing = pool.PushJob([] { throw std::logic_error("boom"); });
  EXPECT_THROW(failing.get(), std::logic_error);
  // The worker survived the exception.
  EXPECT_EQ(pool.PushJob([] { return 42; }).get(), 42);
}

TEST(ThreadPool, PoolWithoutWorkerStillRunsJobsInOrder) {
  ch_ThreadPool pool(3, 1);
  ASSERT_EQ(pool.GetNbThreads(), 0);
  std::vector<int> order;  // only the ordered worker touches it
  std::vector<std::future<void>> done;
  for (int i = 0; i < 100; ++i) done.push_back(pool.PushJob([&order, i] { order.push_back(i); }));
  for (auto& f : done) f.get();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(ThreadPool, JobWaitsForTheFirstWorkerToBecomeFree) {
  ch_ThreadPool pool(2, 8);
  Gate gate;
  std::atomic<bool> released{false};
  auto a = pool.PushJob([&] { gate.Wait(); });
  auto b = pool.PushJob([&] { gate.Wait(); });
  WaitUntil([&] { return pool.GetNbThreadsFree() == 0; });
  auto c = pool.PushJob([&] { return released.load(); });
  released = true;
  gate.Open();
  EXPECT_TRUE(c.get()) << "ran while every worker was busy";
  a.get();
  b.get();
  WaitUntil([&] { return pool.GetNbThreadsFree() == 2; });
}

TEST(ThreadPool, JobsQueuedAtJoinNeverRun) {
  Gate gate;
  std::atomic<int> ran{0};
  std::vector<std::future<void>> queued;
  std::thread joiner;
  {
    auto pool = std::make_unique<ch_ThreadPool>(1, 8);
    auto busy = pool->PushJob([&] { gate.Wait(); });
    WaitUntil([&] { return pool->GetNbThreadsFree() == 0; });
    for (int i = 0; i < 5; ++i) queued.push_back(pool->PushJob([&] { ++ran; }));
    joiner = std::thread([&] { pool->JoinThreads(); });
    // Once the pool is stopping it refuses new jobs; only then let the busy job end.
    WaitUntil([&] {
      try {
        queued.push_back(pool->PushJob([&] { ++ran; }));
        return false;
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "PushJob on stopped ThreadPool");
        return true;
      }
    });
    gate.Open();
    joiner.join();
    busy.get();
  }
  EXPECT_EQ(ran, 0);
  for (auto& f : queued) {
    try {
      f.get();
      ADD_FAILURE() << "a dropped job reported success";
    } catch (const std::future_error& e) {
      EXPECT_EQ(e.code(), std::future_errc::broken_promise);
    }
  }
}

TEST(ThreadPool, PushJobAfterJoinThrowsAndJoinIsIdempotent) {
  ch_ThreadPool pool(2, 8);
  pool.JoinThreads();
  EXPECT_THROW(pool.PushJob([] {}), std::runtime_error);
  CaptureStdout();
  pool.JoinThreads();
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(ThreadPool, ManyProducersEveryJobRunsOnce) {
  ch_ThreadPool pool(4, 8);
  constexpr int kProducers = 8, kJobs = 5000;
  std::vector<std::atomic<int>> hits(kProducers * kJobs);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      std::vector<std::future<void>> done;
      for (int j = 0; j < kJobs; ++j) done.push_back(pool.PushJob([&hits](int k) { ++hits[k]; }, p * kJobs + j));
      for (auto& f : done) f.get();
    });
  }
  for (auto& t : producers) t.join();
  for (auto& h : hits) ASSERT_EQ(h, 1);
  WaitUntil([&] { return pool.GetNbThreadsFree() == 4; });
}

TEST(ThreadPool, AddThreadsGivesAWorkerlessPoolWorkers) {
  CaptureStdout();
  ch_ThreadPool pool(2, 1);
  pool.AddThreads(2);
  EXPECT_EQ(GetCapturedStdout(), "Created Ordered Thread\nCreated Thread 0\nCreated Thread 1\n");
  EXPECT_EQ(pool.GetNbThreads(), 2);
  // Two jobs that each wait for the other can only finish on two workers at once.
  std::promise<void> first, second;
  auto a = pool.PushJob([&] {
    first.set_value();
    second.get_future().wait();
  });
  auto b = pool.PushJob([&] {
    first.get_future().wait();
    second.set_value();
  });
  a.get();
  b.get();
}

TEST(ThreadPool, MessageQueueIsFirstInFirstOut) {
  ch_ThreadPool pool(0, 8);
  EXPECT_EQ(pool.GetNextMsg().name, "");
  pool.AddMsg({"a", "x", {"1"}});
  pool.AddMsg({"b", "y", {}});
  EXPECT_EQ(pool.GetMsgCount(), 2u);
  AppCore::AppMessage m = pool.GetNextMsg();
  EXPECT_EQ(m.name, "a");
  EXPECT_EQ(m.items, std::vector<std::string>{"1"});
  EXPECT_EQ(pool.GetNextMsg().name, "b");
  EXPECT_EQ(pool.GetMsgCount(), 0u);
}

}  // namespace
