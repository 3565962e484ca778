#pragma once

// TvxClient: the service's one client object per start-up pass, reached through WSOCK. It
// owns the stream objects (deleted through their virtual destructor), their threads
// (joined), and the link to the data server with its network thread.
//
// This header stays free of the WebSocket library: the endpoints live behind the client's
// own implementation so that every file that reaches the client through WSOCK compiles
// quickly.
//
// Process-wide state: Status and NbTriesLeft are written by the main thread and by the
// network thread's connection handlers, so they are atomic; IsRestart and RestartTimer
// belong to the main thread. They keep their values across start-up passes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/FixedPaths.h"

class StreamBase;

class TvxClient {
 public:
  // Values of Status.
  static constexpr int32_t kNotStarted = 0;  // before the first connection attempt
  static constexpr int32_t kConnecting = 1;
  static constexpr int32_t kOpen = 3;
  static constexpr int32_t kFailed = 4;
  static constexpr int32_t kClosed = 5;

  static std::atomic<int32_t> Status;
  // Reconnection attempts left: 5 when the link opens and before each reconnection.
  static std::atomic<int32_t> NbTriesLeft;
  // True while a reconnection runs Init, so that the streams are not initialised again.
  static bool IsRestart;
  // Time of the last reconnection attempt; the process start time before the first.
  static std::chrono::system_clock::time_point RestartTimer;
  // The bytes in front of every binary message, in both directions.
  static const std::string BSPrefix;

  TvxClient() = default;
  // Asks the streams to quit unless that was done, joins the stream threads, then deletes
  // the streams.
  ~TvxClient();
  TvxClient(const TvxClient&) = delete;
  TvxClient& operator=(const TvxClient&) = delete;

  // Asks every stream to quit (its virtual Quit, in order), then sets done and wakes the
  // update cycle. Any thread may call it any number of times while the client lives: a
  // later call changes nothing and returns once the first one has finished, so a caller
  // that sees it return knows that no stream is still being touched on its behalf. It
  // never takes the update mutex, so it may be called while that mutex is held.
  void SignalDone();

  std::string programPath;
  std::string dataDir;  // the traffic simulation reads its road map relative to it
  bool initialised = false;
  std::atomic<bool> done{false};  // set by SignalDone; ends the update cycle
  bool secure = false;            // selects the TLS endpoint; nothing sets it
  std::string address;
  int32_t port = FixedPaths::kServerPort;
  std::string uri;  // of the last connection made
  std::shared_ptr<std::thread> networkThread;
  bool firstStart = true;  // until the event loop and handlers are set up once
  std::mutex updateMutex;  // held by the update cycle for each period's work
  std::condition_variable updateSignal;
  std::vector<StreamBase*> streams;  // in creation order; owned
  std::vector<std::thread> streamThreads;

 private:
  std::mutex signalMutex;  // serialises SignalDone callers
};

// The process-wide client; null until start-up publishes the client of its pass.
extern TvxClient* WSOCK;
