#include "service/TvxClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "service/StreamBase.h"

namespace {

using namespace std::chrono_literals;

// A stream that waits for its quit flag and counts what is done to it.
class WaitingStream : public StreamBase {
 public:
  explicit WaitingStream(const std::string& name, std::atomic<int>* deleted)
      : StreamBase(name, nullptr), deleted_(deleted) {}
  ~WaitingStream() override { ++*deleted_; }

  bool Init() override { return ready = true; }
  void Run() override {
    std::unique_lock<std::mutex> lock(mutex);
    // Quit does not take the mutex, so wake now and then to look at the flag.
    while (!quit) signal.wait_for(lock, 5ms);
  }
  void Quit() override {
    ++quits;
    if (gate) gate->wait();
    StreamBase::Quit();
    quitFinished = true;
  }

  std::atomic<int> quits{0};
  std::atomic<bool> quitFinished{false};
  std::shared_future<void>* gate = nullptr;

 private:
  std::atomic<int>* deleted_;
};

TEST(ClientState, ProcessWideStartValues) {
  EXPECT_EQ(TvxClient::Status, TvxClient::kNotStarted);
  EXPECT_EQ(TvxClient::NbTriesLeft, 0);
  EXPECT_FALSE(TvxClient::IsRestart);
  EXPECT_EQ(TvxClient::BSPrefix, "BS=");
  EXPECT_EQ(WSOCK, nullptr);

  // RestartTimer holds the process start on the monotonic clock (time since boot): compare
  // with the kernel's record of it (field 22 of /proc/self/stat, in clock ticks after boot).
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;
  double startAfterBoot = std::stod(field) / sysconf(_SC_CLK_TCK);
  double uptime = 0;
  std::ifstream("/proc/uptime") >> uptime;
  double age = uptime - startAfterBoot;  // how long this process has run
  auto sinceStart = std::chrono::steady_clock::now() - TvxClient::RestartTimer;
  EXPECT_NEAR(std::chrono::duration<double>(sinceStart).count(), age, 2.0);
}

TEST(ClientState, SignalDoneWithoutStreamsWakesTheUpdateCycle) {
  TvxClient client;
  std::atomic<bool> waiting{false};
  std::thread cycle([&] {
    std::unique_lock<std::mutex> lock(client.updateMutex);
    waiting = true;
    client.updateSignal.wait(lock, [&] { return client.done.load(); });
  });
  while (!waiting) std::this_thread::yield();
  // Taking the mutex once proves the cycle has released it inside wait().
  { std::lock_guard<std::mutex> sync(client.updateMutex); }
  client.SignalDone();
  cycle.join();
  EXPECT_TRUE(client.done);
}

TEST(ClientState, ConcurrentSignalDoneQuitsEachStreamOnce) {
  std::atomic<int> deleted{0};
  {
    TvxClient client;
    std::vector<WaitingStream*> streams;
    for (const char* name : {"A", "B", "C"}) {
      streams.push_back(new WaitingStream(name, &deleted));
      client.streams.push_back(streams.back());
    }
    for (StreamBase* s : client.streams) {
      s->Init();
      client.streamThreads.emplace_back([s] { s->Run(); });
    }
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
      callers.emplace_back([&] {
        for (int k = 0; k < 10; ++k) client.SignalDone();
      });
    }
    for (auto& t : callers) t.join();
    EXPECT_TRUE(client.done);
    for (WaitingStream* s : streams) {
      EXPECT_TRUE(s->quit);
      EXPECT_EQ(s->quits, 1) << s->name;
    }
  }
  EXPECT_EQ(deleted, 3);
}

TEST(ClientState, LaterSignalDoneReturnsOnlyAfterTheFirstFinished) {
  std::atomic<int> deleted{0};
  TvxClient client;
  auto* stream = new WaitingStream("A", &deleted);
  client.streams.push_back(stream);
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
  stream->gate = &gate;
  std::thread first([&] { client.SignalDone(); });
  while (stream->quits == 0) std::this_thread::yield();
  std::thread second([&] {
    client.SignalDone();
    EXPECT_TRUE(stream->quitFinished) << "returned while the first call still touched a stream";
  });
  open.set_value();
  first.join();
  second.join();
  EXPECT_EQ(stream->quits, 1);
}

TEST(ClientState, DestroyingAnUnsignalledClientQuitsJoinsAndDeletesStreams) {
  std::atomic<int> deleted{0};
  {
    TvxClient client;
    client.streams.push_back(new WaitingStream("A", &deleted));
    client.streams.push_back(new WaitingStream("B", &deleted));
    for (StreamBase* s : client.streams) client.streamThreads.emplace_back([s] { s->Run(); });
  }
  EXPECT_EQ(deleted, 2);
}

TEST(ClientState, StreamDestructorJoinsItsConsoleThread) {
  std::atomic<int> deleted{0};
  std::atomic<bool> consoleEnded{false};
  auto* stream = new WaitingStream("A", &deleted);
  stream->threads.emplace_back([&] {
    while (!stream->quit) std::this_thread::yield();
    consoleEnded = true;
  });
  stream->Quit();
  delete stream;
  EXPECT_TRUE(consoleEnded);
  EXPECT_EQ(deleted, 1);
}

}  // namespace
