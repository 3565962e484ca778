// The stream console: words from a supplied stream and from standard input (a pipe or
// /dev/null put in its place), quitting, pausing, resets, and shutdown while consoles wait.

#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>

#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"

namespace {

// A producer that does nothing but wait for quit; its reset counts the calls.
class IdleStream : public virtual StreamBase {
 public:
  explicit IdleStream(const std::string& name, StreamDef* def = nullptr) : StreamBase(name, def) {}
  bool Init() override { return ready = true; }
  void Run() override {
    StartConsole();
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) signal.wait_for(lock, std::chrono::milliseconds(50));
  }
  StreamBase* GetSelf() override { return this; }
  void ExecReset(int32_t route) override {
    ++resets;
    StreamBase::ExecReset(route);
  }
  std::atomic<int> resets{0};
};

// Processor time used so far by a running thread.
std::chrono::nanoseconds ThreadCpu(std::thread& t) {
  clockid_t clock;
  EXPECT_EQ(pthread_getcpuclockid(t.native_handle(), &clock), 0);
  timespec ts{};
  clock_gettime(clock, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Joins `t`; a thread still running after a few seconds ends the test program (a hung
// join cannot be abandoned).
void JoinSoon(std::thread& t) {
  auto joined = std::async(std::launch::async, [&t] { t.join(); });
  if (joined.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    std::fprintf(stderr, "a console did not end within 5 s\n");
    std::abort();
  }
}

// Puts the read end of a new pipe, or /dev/null, in place of standard input for the
// lifetime of the object.
class StdinSwap {
 public:
  explicit StdinSwap(bool devNull) {
    saved_ = dup(STDIN_FILENO);
    int fd;
    if (devNull) {
      fd = open("/dev/null", O_RDONLY);
    } else {
      int fds[2];
      EXPECT_EQ(pipe(fds), 0);
      fd = fds[0];
      writeEnd = fds[1];
    }
    dup2(fd, STDIN_FILENO);
    close(fd);
  }
  ~StdinSwap() {
    if (writeEnd >= 0) close(writeEnd);
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }
  void Write(const std::string& text) {
    ASSERT_EQ(write(writeEnd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  int writeEnd = -1;

 private:
  int saved_;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { WSOCK = &client; }
  void TearDown() override { WSOCK = nullptr; }

  // A stream of the client reading `input`; owned by the client.
  IdleStream* AddStream(const std::string& name, std::istream* input) {
    auto* stream = new IdleStream(name);
    stream->consoleIn = input;
    client.streams.push_back(stream);
    return stream;
  }

  TvxClient client;
};

TEST_F(ConsoleTest, UpperCaseQQuitsEveryStream) {
  std::istringstream words("quit qq Q p");
  IdleStream* a = AddStream("a", &words);
  IdleStream* b = AddStream("b", nullptr);
  a->RunTerminal();  // returns at "Q": the words after it are never read
  EXPECT_TRUE(client.done);
  EXPECT_TRUE(a->quit);
  EXPECT_TRUE(b->quit);
  EXPECT_FALSE(a->paused);
  std::string rest;
  words >> rest;
  EXPECT_EQ(rest, "p");
}

TEST_F(ConsoleTest, OnlyOneLetterWordsAct) {
  std::istringstream words("qq quit P x pp rr reset 1 ? p p");
  IdleStream* a = AddStream("a", &words);
  std::thread console([a] { a->RunTerminal(); });
  // At the end of its words the console waits for quit.
  for (int i = 0; i < 200 && !words.eof(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(client.done);
  EXPECT_TRUE(a->paused);  // three toggles: "P", "p", "p"
  EXPECT_EQ(a->resets.load(), 0);
  a->Quit();
  JoinSoon(console);
}

TEST_F(ConsoleTest, PauseTwiceRestores) {
  std::istringstream once("p"), twice("p P");
  IdleStream* a = AddStream("a", &once);
  IdleStream* b = AddStream("b", &twice);
  std::thread ca([a] { a->RunTerminal(); });
  std::thread cb([b] { b->RunTerminal(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(a->paused);
  EXPECT_FALSE(b->paused);
  client.SignalDone();
  JoinSoon(ca);
  JoinSoon(cb);
}

TEST_F(ConsoleTest, EndOfInputNeitherSpinsNorHoldsUpQuit) {
  std::istringstream empty("");
  IdleStream* a = AddStream("a", &empty);
  std::thread console([a] { a->RunTerminal(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  // A loop that kept testing the flag would have used most of the 400 ms.
  EXPECT_LT(ThreadCpu(console), std::chrono::milliseconds(40));
  const auto asked = std::chrono::steady_clock::now();
  a->Quit();
  JoinSoon(console);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
}

TEST_F(ConsoleTest, StandardInputAtDevNullWaitsQuietly) {
  StdinSwap input(true);
  IdleStream* a = AddStream("a", nullptr);
  std::thread console([a] { a->RunTerminal(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_LT(ThreadCpu(console), std::chrono::milliseconds(40));
  a->Quit();
  JoinSoon(console);
}

TEST_F(ConsoleTest, IdleTerminalDoesNotHoldUpShutdown) {
  StdinSwap input(false);  // the write end stays open: reads would block for ever
  IdleStream* a = AddStream("a", nullptr);
  std::thread console([a] { a->RunTerminal(); });
  input.Write("p\n");
  for (int i = 0; i < 200 && !a->paused; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(a->paused);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(ThreadCpu(console), std::chrono::milliseconds(40));
  a->Quit();
  JoinSoon(console);
}

TEST_F(ConsoleTest, QOnStandardInputEndsTheService) {
  StdinSwap input(false);
  IdleStream* a = AddStream("a", nullptr);
  IdleStream* b = AddStream("b", nullptr);
  std::thread ta([a] { a->Run(); });
  std::thread tb([b] { b->Run(); });
  input.Write("Q\n");
  JoinSoon(ta);
  JoinSoon(tb);
  EXPECT_TRUE(client.done);
  // Both consoles end (one read "q", the other saw quit while polling) and join promptly.
  const auto asked = std::chrono::steady_clock::now();
  std::thread joiner([a, b] {
    a->JoinThreads();
    b->JoinThreads();
  });
  JoinSoon(joiner);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
}

// Shutdown with several streams whose consoles keep resetting targets while the client is
// destroyed: every console is joined before any stream or target is deleted (the address
// sanitizer build reports any use after deletion).
TEST(ConsoleShutdown, ClientJoinsEveryConsoleBeforeDeletingAnything) {
  const std::vector<std::string> tables = {"t0", "t1", "t2"};
  std::vector<StreamDef> defs(tables.size());
  for (size_t i = 0; i < tables.size(); ++i) {
    defs[i].name = tables[i];
    defs[i].routes.resize(2);  // both routes of a stream reset its one target
    for (RouteDef& route : defs[i].routes) {
      route.alias = "a";
      route.dbName = "d";
      route.tableName = tables[i];
    }
  }
  for (int round = 0; round < 20; ++round) {
    StdinSwap input(false);
    auto client = std::make_unique<TvxClient>();
    WSOCK = client.get();
    for (const std::string& table : tables) {
      MiniFrad frad;
      frad.New(table);
      ASSERT_TRUE(frad.Set(0, {"x"}, {2}, {0}));
      ASSERT_TRUE(client->NewTarget("a", "d", table, "UPSERT", "", std::move(frad)));
    }
    std::vector<IdleStream*> streams;
    for (StreamDef& def : defs) {
      auto* s = new IdleStream(def.name, &def);
      client->streams.push_back(s);
      streams.push_back(s);
    }
    for (IdleStream* s : streams) client->streamThreads.emplace_back([s] { s->Run(); });
    std::atomic<bool> feeding{true};
    // Never blocks: once the consoles are gone the pipe fills up.
    fcntl(input.writeEnd, F_SETFL, O_NONBLOCK);
    std::thread feeder([&] {
      while (feeding) {
        if (write(input.writeEnd, "r\nr\nr\n", 6) < 0 && errno != EAGAIN) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    for (int spin = 0; spin < 5000 && streams[0]->resets + streams[1]->resets + streams[2]->resets < 10; ++spin) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(streams[0]->resets + streams[1]->resets + streams[2]->resets, 10);
    client->SignalDone();
    client.reset();  // joins stream threads and consoles, then deletes targets and streams
    WSOCK = nullptr;
    feeding = false;
    feeder.join();
  }
}

}  // namespace
