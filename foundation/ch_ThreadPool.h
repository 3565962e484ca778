#pragma once

// ch_ThreadPool: the process's worker pool. A fixed set of workers takes jobs from one
// shared queue; one ordered worker runs the jobs of a second queue strictly one after
// another. Progress lines ("Created Thread 0", "Joined Thread 0", ...) go to standard
// output, not to the process log.
//
// Threading: PushJob, GetNbThreads, GetNbThreadsFree and the message queue may be used from
// any thread. The constructor, AddThreads, JoinThreads and the destructor belong to the
// owner's thread.
//
// Lifecycle: running -> stopped (JoinThreads: no job is accepted any more, jobs still
// queued are dropped without running and their futures report a broken promise once the
// pool is destroyed) -> destroyed.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

namespace AppCore {

// A message parked in the pool's message queue, moved in and out whole.
struct AppMessage {
  std::string name;
  std::string text;
  std::vector<std::string> items;
};

}  // namespace AppCore

class ch_ThreadPool {
 public:
  using Job = std::function<void()>;

  // Starts min(n, hardwareThreads - 1) workers (the subtraction is unsigned: a reported
  // count of 0 keeps n, a count of 1 gives no worker) and the ordered worker.
  explicit ch_ThreadPool(unsigned char n, unsigned hardwareThreads = std::thread::hardware_concurrency());
  // Joins every thread; queued jobs are destroyed without running.
  ~ch_ThreadPool();
  ch_ThreadPool(const ch_ThreadPool&) = delete;
  ch_ThreadPool& operator=(const ch_ThreadPool&) = delete;

  // Queues f(args...) with the arguments copied, and returns the future of its result (or
  // of the exception it throws). On a pool without workers the ordered worker runs the
  // job, so jobs never wait for a worker that does not exist. Throws std::runtime_error
  // "PushJob on stopped ThreadPool" after JoinThreads.
  template <class F, class... Args>
  auto PushJob(F&& f, Args&&... args)
      -> std::future<std::invoke_result_t<std::decay_t<F>&, std::decay_t<Args>&...>>;

  // Stops the pool and joins the workers, then the ordered worker. A second call does
  // nothing.
  void JoinThreads();

  unsigned char GetNbThreads() const { return nbThreads; }
  // Workers not running a job at this instant.
  unsigned char GetNbThreadsFree() const { return nbThreadsFree; }
  // Starts n more workers (the count saturates at 255).
  void AddThreads(unsigned char n);
  static std::string GetCurrentThreadID();

  void AddMsg(AppCore::AppMessage msg);
  // The oldest message, or an empty one when none is queued.
  AppCore::AppMessage GetNextMsg();
  size_t GetMsgCount();

 private:
  struct JobQueue {
    std::mutex mutex;
    std::condition_variable signal;
    std::deque<Job> jobs;
    std::atomic<size_t> queued{0};  // jobs.size(), readable without the mutex
  };

  void Enqueue(Job job);
  // Runs the jobs of q until the pool stops; workers count themselves busy meanwhile.
  void RunQueue(JobQueue& q, bool countsAsWorker);

  const int idleSpins;  // checks for a new job before an idle thread sleeps
  std::atomic<unsigned char> nbThreads{0};
  std::atomic<unsigned char> nbThreadsFree{0};
  std::vector<std::thread> workers;
  JobQueue jobQueue;
  std::atomic<bool> stopping{false};
  std::mutex msgMutex;
  std::deque<AppCore::AppMessage> msgQueue;
  JobQueue orderedQueue;
  std::thread orderedThread;
};

// The process-wide pool; null until SetTPOOL. Set by the main thread before any thread
// that uses it starts.
extern ch_ThreadPool* TPOOL;
void SetTPOOL(ch_ThreadPool* pool);

template <class F, class... Args>
auto ch_ThreadPool::PushJob(F&& f, Args&&... args)
    -> std::future<std::invoke_result_t<std::decay_t<F>&, std::decay_t<Args>&...>> {
  using Result = std::invoke_result_t<std::decay_t<F>&, std::decay_t<Args>&...>;
  auto task = std::make_shared<std::packaged_task<Result()>>(
      [f = std::forward<F>(f), bound = std::make_tuple(std::forward<Args>(args)...)]() mutable {
        return std::apply(f, bound);
      });
  std::future<Result> result = task->get_future();
  Enqueue([task] { (*task)(); });
  return result;
}
