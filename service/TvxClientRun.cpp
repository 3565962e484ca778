// The client's update cycle on the main thread, the stream threads and reconnection.

#include <chrono>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/TvxClient.h"

namespace {

constexpr int32_t kTriesPerRestart = 5;

void RunStream(StreamBase* stream) { stream->Run(); }

bool LinkDown() {
  const int32_t status = TvxClient::Status;
  return status == TvxClient::kFailed || status == TvxClient::kClosed;
}

}  // namespace

void TvxClient::Run() {
  for (StreamBase* stream : streams) {
    if (stream->ready) streamThreads.emplace_back(RunStream, stream);
  }
  while (!done) {
    std::unique_lock<std::mutex> lock(updateMutex);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(ConfigParser::Global.updateRate);
    // SignalDone wakes the wait; a wake-up before the wait began is caught by the test.
    updateSignal.wait_until(lock, deadline, [this] { return done.load(); });
    if (done) break;
    if (LinkDown() && std::chrono::steady_clock::now() - RestartTimer > reconnectGap) {
      NbTriesLeft = kTriesPerRestart;
      Restart();
    } else {
      SendTargetUpdates();
    }
  }
  // The rows the streams added since the last period go out before the link closes.
  if (Status == kOpen) SendTargetUpdates();
  Quit();
}

void TvxClient::Restart() {
  if (NbTriesLeft <= 0) return;
  LogManager::Global << "Restarting Socket Connection";
  Quit();
  RewindUnconfirmed();
  // Reset however Init ends, so a later pass initialises its streams again.
  struct RestartFlag {
    RestartFlag() { IsRestart = true; }
    ~RestartFlag() { IsRestart = false; }
  } flag;
  // A failed attempt leaves the link failed or closed: the next one comes after the gap.
  RestartTimer = std::chrono::steady_clock::now();
  Init(address, port);
  --NbTriesLeft;
}
