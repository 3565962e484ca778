#include "foundation/ch_ThreadPool.h"

#include <iostream>
#include <sstream>
#include <stdexcept>

ch_ThreadPool* TPOOL = nullptr;

namespace {

// How long an idle worker looks for a new job before it sleeps: under a stream of short
// jobs, sleeping after each one costs a wake-up and a context switch per job.
constexpr int kIdleSpins = 2000;

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// Locks a queue's mutex, trying for a moment before sleeping on it: the mutex is only
// ever held for a push or a pop, so sleeping on it costs far more than waiting.
std::unique_lock<std::mutex> LockQueue(std::mutex& mutex) {
  for (int i = 0; i < 100; ++i) {
    if (mutex.try_lock()) return std::unique_lock<std::mutex>(mutex, std::adopt_lock);
    CpuRelax();
  }
  return std::unique_lock<std::mutex>(mutex);
}

}  // namespace

void SetTPOOL(ch_ThreadPool* pool) { TPOOL = pool; }

ch_ThreadPool::ch_ThreadPool(unsigned char n, unsigned hardwareThreads)
    : idleSpins(hardwareThreads == 1 ? 0 : kIdleSpins) {  // one core: spinning only delays the pusher
  // Unsigned on purpose: a platform that reports 0 threads keeps the request.
  if (n > hardwareThreads - 1u) n = static_cast<unsigned char>(hardwareThreads - 1u);
  AddThreads(n);
  orderedThread = std::thread([this] { RunQueue(orderedQueue, false); });
  std::cout << "Created Ordered Thread\n" << std::flush;
}

ch_ThreadPool::~ch_ThreadPool() { JoinThreads(); }

void ch_ThreadPool::AddThreads(unsigned char n) {
  for (unsigned i = 0; i < n && nbThreads < 255; ++i) {
    ++nbThreads;
    ++nbThreadsFree;
    workers.emplace_back([this] { RunQueue(jobQueue, true); });
    std::cout << "Created Thread " << i << "\n" << std::flush;
  }
}

void ch_ThreadPool::Enqueue(Job job) {
  // Without workers nobody would ever take a job from the shared queue.
  JobQueue& q = nbThreads == 0 ? orderedQueue : jobQueue;
  {
    std::unique_lock<std::mutex> lock = LockQueue(q.mutex);
    if (stopping) throw std::runtime_error("PushJob on stopped ThreadPool");
    q.jobs.push_back(std::move(job));
    ++q.queued;
  }
  q.signal.notify_one();
}

void ch_ThreadPool::RunQueue(JobQueue& q, bool countsAsWorker) {
  while (true) {
    for (int i = 0; i < idleSpins && q.queued == 0 && !stopping; ++i) CpuRelax();
    Job job;
    {
      std::unique_lock<std::mutex> lock = LockQueue(q.mutex);
      q.signal.wait(lock, [&] { return stopping || !q.jobs.empty(); });
      if (stopping) return;  // jobs still queued are dropped
      job = std::move(q.jobs.front());
      q.jobs.pop_front();
      --q.queued;
    }
    if (countsAsWorker) --nbThreadsFree;
    job();
    if (countsAsWorker) ++nbThreadsFree;
  }
}

void ch_ThreadPool::JoinThreads() {
  {
    std::scoped_lock lock(jobQueue.mutex, orderedQueue.mutex);
    stopping = true;
  }
  jobQueue.signal.notify_all();
  orderedQueue.signal.notify_all();
  for (size_t i = 0; i < workers.size(); ++i) {
    if (!workers[i].joinable()) continue;
    workers[i].join();
    std::cout << "Joined Thread " << i << "\n" << std::flush;
  }
  if (orderedThread.joinable()) {
    orderedThread.join();
    std::cout << "Joined OrderedThread\n" << std::flush;
  }
}

std::string ch_ThreadPool::GetCurrentThreadID() {
  std::ostringstream id;
  id << std::this_thread::get_id();
  return id.str();
}

void ch_ThreadPool::AddMsg(AppCore::AppMessage msg) {
  std::lock_guard<std::mutex> lock(msgMutex);
  msgQueue.push_back(std::move(msg));
}

AppCore::AppMessage ch_ThreadPool::GetNextMsg() {
  std::lock_guard<std::mutex> lock(msgMutex);
  if (msgQueue.empty()) return AppCore::AppMessage();
  AppCore::AppMessage msg = std::move(msgQueue.front());
  msgQueue.pop_front();
  return msg;
}

size_t ch_ThreadPool::GetMsgCount() {
  std::lock_guard<std::mutex> lock(msgMutex);
  return msgQueue.size();
}
