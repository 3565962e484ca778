// Incoming frames and reply callbacks: replies built by the independent encoder, run on a
// real worker pool; malformed frames never reach a callback nor put their bytes in the log.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/ch_ThreadPool.h"
#include "record/ByteStream.h"
#include "service/AppMessage.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"
#include "support/WireEncoder.h"

namespace {

using testsupport::EncodeFailure;
using testsupport::EncodeReply;
using testsupport::Malformed;
using testsupport::MalformedFrame;

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTPOOL(&pool);
    WSOCK = &client;
  }
  void TearDown() override {
    pool.JoinThreads();
    SetTPOOL(nullptr);
    WSOCK = nullptr;
  }

  // With one worker the jobs run in arrival order: once the callback of a reply sent
  // last has run, every reply before it has been dispatched.
  void Drain() {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    client.AddSuccessCallback("drain", [&](ByteStream&, std::shared_ptr<void>) {
      std::lock_guard<std::mutex> lock(m);
      done = true;
      cv.notify_all();
    }, nullptr);
    client.ReceiveFrame(EncodeReply("API", "drain"));
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
  }

  testsupport::TempDir logDir;
  servicetest::LogCapture log{logDir.Path()};
  ch_ThreadPool pool{1, 4};
  TvxClient client;
};

TEST_F(MessagesTest, ReplyRunsItsCallbackOnceWithTheContainerAndData) {
  int calls = 0;
  std::string seen;
  auto data = std::make_shared<int>(41);
  client.AddSuccessCallback("m1", [&](ByteStream& bs, std::shared_ptr<void> user) {
    ++calls;
    bs.GetString("Extra", seen);
    ++*std::static_pointer_cast<int>(user);
  }, data);
  const std::string reply = testsupport::WireImage().Text("Func", "API").Text("MSID", "m1")
                                .Text("Extra", "payload").Message();
  client.ReceiveFrame(reply);
  client.ReceiveFrame(reply);  // the entry is gone: dropped
  Drain();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "payload");
  EXPECT_EQ(*data, 42);
  EXPECT_TRUE(client.successCallbacks.empty());
}

TEST_F(MessagesTest, FailureReplyRunsTheFailureCallbackOnly) {
  std::vector<std::string> details;
  int successes = 0;
  for (const char* id : {"a", "b"}) {
    client.AddFailureCallback(id, [&](std::string detail, std::shared_ptr<void>) {
      details.push_back(detail);
    }, nullptr);
    client.AddSuccessCallback(id, [&](ByteStream&, std::shared_ptr<void>) { ++successes; }, nullptr);
  }
  client.ReceiveFrame(EncodeFailure("a", "no such table"));
  client.ReceiveFrame(EncodeFailure("b", "", false));  // no "Detail": empty
  client.ReceiveFrame(EncodeFailure("a", "again"));    // already run: dropped
  Drain();
  EXPECT_EQ(details, (std::vector<std::string>{"no such table", ""}));
  EXPECT_EQ(successes, 0);
  EXPECT_EQ(client.successCallbacks.size(), 2u);  // the success entries stay
  EXPECT_TRUE(client.failureCallbacks.empty());
}

TEST_F(MessagesTest, UnknownAndRemovedIdentifiersAreDropped) {
  int calls = 0;
  client.AddSuccessCallback("kept", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  client.AddSuccessCallback("gone", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  client.RemoveCallback("gone");
  client.RemoveCallback("never");
  client.ReceiveFrame(EncodeReply("API", "gone"));
  client.ReceiveFrame(EncodeReply("API", "unknown"));
  client.ReceiveFrame(EncodeFailure("unknown", "x"));
  Drain();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(client.successCallbacks.count("kept"), 1u);
}

TEST_F(MessagesTest, LaterRegistrationReplacesTheEntry) {
  int first = 0, second = 0;
  client.AddSuccessCallback("m", [&](ByteStream&, std::shared_ptr<void>) { ++first; }, nullptr);
  client.AddSuccessCallback("m", [&](ByteStream&, std::shared_ptr<void>) { ++second; }, nullptr);
  client.ReceiveFrame(EncodeReply("API", "m"));
  Drain();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(MessagesTest, MalformedFramesAreLoggedWithoutTheirBytes) {
  client.malformedFrameLog.SetInterval(std::chrono::seconds(0));  // one line per frame
  int calls = 0;
  client.AddSuccessCallback("m1", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  client.AddFailureCallback("m1", [&](std::string, std::shared_ptr<void>) { ++calls; }, nullptr);
  for (Malformed kind : {Malformed::kTwoBytes, Malformed::kBadPrefix, Malformed::kPrefixOnly,
                         Malformed::kTruncatedImage, Malformed::kDirectoryPastEnd,
                         Malformed::kHugeCount, Malformed::kBadTypeCode,
                         Malformed::kKeyPastRecord, Malformed::kNoFunc, Malformed::kNoMsid}) {
    client.ReceiveFrame(MalformedFrame(kind));
  }
  client.ReceiveFrame("");
  client.ReceiveFrame(std::string("\n\x1b]2", 4) + EncodeReply("API", "m1").substr(3));
  Drain();
  EXPECT_EQ(calls, 0);

  const std::string text = log.Text();
  EXPECT_NE(text.find("Received Message, Too short: 2 bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("Received Message, Too short: 0 bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("Received Message, Bad prefix: 58 59 3D"), std::string::npos) << text;
  EXPECT_NE(text.find("Received Message, Bad prefix: 0A 1B 5D"), std::string::npos) << text;
  EXPECT_NE(text.find("Received Message, Bad image: 0 bytes"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find("XY="), std::string::npos);
  // Truncated, past-the-end and hostile images are refused before any dispatch.
  size_t badImages = 0;
  for (size_t at = 0; (at = text.find("Bad image", at)) != std::string::npos; ++at) ++badImages;
  EXPECT_GE(badImages, 4u) << text;
}

// A server sending malformed frames without end writes one line a second, and the next
// line counts the ones folded in.
TEST_F(MessagesTest, MalformedFramesFloodingInAreFoldedIntoOneLineASecond) {
  const size_t before = log.Text().size();
  for (int i = 0; i < 1000; ++i) client.ReceiveFrame("BS");
  client.malformedFrameLog.SetInterval(std::chrono::seconds(0));
  client.ReceiveFrame("XY=");
  const std::string text = log.Text().substr(before);
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("Received Message", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 2u) << text;
  EXPECT_NE(text.find("Received Message, Too short: 2 bytes\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Received Message, Bad prefix: 58 59 3D (999 more since the last line)\n"),
            std::string::npos) << text;
}

TEST_F(MessagesTest, RegistrationsRaceRepliesAndEachRunsOnce) {
  pool.AddThreads(2);
  constexpr int kIds = 300;
  std::vector<std::atomic<int>> calls(kIds);
  std::atomic<int> total{0};
  std::thread registrar([&] {
    for (int i = 0; i < kIds; ++i) {
      client.AddSuccessCallback("id" + std::to_string(i), [&, i](ByteStream&, std::shared_ptr<void>) {
        ++calls[i];
        ++total;
      }, nullptr);
    }
  });
  std::thread network([&] {
    // Every identifier is answered twice; the replies run on three workers at once.
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kIds; ++i) client.ReceiveFrame(EncodeReply("API", "id" + std::to_string(i)));
    }
  });
  registrar.join();
  network.join();
  // Replies that came before their registration found nothing; answer those once more.
  for (int i = 0; i < kIds; ++i) client.ReceiveFrame(EncodeReply("API", "id" + std::to_string(i)));
  for (int spin = 0; spin < 1000 && total < kIds; ++spin) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pool.JoinThreads();
  for (int i = 0; i < kIds; ++i) EXPECT_EQ(calls[i].load(), 1) << i;
}

TEST_F(MessagesTest, CallbacksMayRegisterFromInsideACallback) {
  std::atomic<int> chained{0};
  client.AddSuccessCallback("outer", [&](ByteStream&, std::shared_ptr<void>) {
    client.AddSuccessCallback("inner", [&](ByteStream&, std::shared_ptr<void>) { ++chained; }, nullptr);
    client.ReceiveFrame(EncodeReply("API", "inner"));
  }, nullptr);
  client.ReceiveFrame(EncodeReply("API", "outer"));
  for (int spin = 0; spin < 1000 && chained == 0; ++spin) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(chained.load(), 1);
}

TEST_F(MessagesTest, FramesAfterThePoolStoppedAreDropped) {
  int calls = 0;
  client.AddSuccessCallback("m", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  pool.JoinThreads();
  client.ReceiveFrame(EncodeReply("API", "m"));  // PushJob refuses: dropped, no exception
  SetTPOOL(nullptr);
  client.ReceiveFrame(EncodeReply("API", "m"));
  EXPECT_EQ(calls, 0);
}

}  // namespace
