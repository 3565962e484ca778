#pragma once

// The client's link to the data server: its two WebSocket endpoints, the handle of the
// current connection and the state of the network thread's event loop.
//
// This header pulls in the whole WebSocket library (~20 s per translation unit): only the
// link's own .cpp and the tests that drive endpoints directly include it.
//
// Threading: the endpoints are set up and started by the main thread; their event loop
// runs on the network thread. The handle is replaced by the main thread (Init) and copied
// by every sending thread, under handleMutex. loopRunning is set by the main thread before
// it starts the network thread and cleared by that thread when its loop returns. The
// liveness fields below belong to the network thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <websocketpp/client.hpp>

#include "service/TvxClient.h"
#include "service/TvxWsConfig.h"

struct TvxClient::Link {
  typedef websocketpp::client<TvxAsioConfig> PlainEndpoint;
  typedef websocketpp::client<TvxTlsConfig> TlsEndpoint;

  PlainEndpoint plain;
  TlsEndpoint tls;  // built and configured, never connected by the service

  // A copy of the current connection's handle (empty before the first connection).
  websocketpp::connection_hdl Handle();
  void SetHandle(websocketpp::connection_hdl handle);
  // Whether `handle` names the current connection: events of an older one are stale.
  bool IsCurrent(const websocketpp::connection_hdl& handle);

  // Marks the event loop as running; the network thread calls LoopEnded when it returns.
  void LoopStarted();
  void LoopEnded();
  // Waits up to `timeout` for the loop to return; true when it has.
  bool WaitLoopEnd(std::chrono::milliseconds timeout);

  // Held around every send on a connection (frames, pings, pongs, the close) and around
  // every reading of its send queue: the library keeps the queue's size in a counter it does
  // not guard for readers, so the queue is measured on the network thread (whose own writes
  // cannot overlap the measure) while no other thread sends. Pings take their numbers
  // (TvxClient::pings) under it, so numbers follow the order of the queue.
  std::mutex sendMutex;
  // Bytes of frames queued on the current connection that have not yet reached the server's
  // side of the socket (the library's queue and the socket's send queue), as last measured
  // on the network thread; any thread reads it.
  std::atomic<uint64_t> unsent{0};
  // When the last ping went out while every earlier one had been answered (steady clock,
  // in its ticks): the server's silence counts from then. Written under sendMutex.
  std::atomic<int64_t> askedAt{0};

  // Network thread only, reset for each connection:
  // when the server was last heard from (opening, an answer to one of our pings, or room it
  // made in a full socket), the last liveness check, the socket's acknowledged bytes and whether it was
  // full at that check, the timer of the next one, and the latest ping still owed a pong.
  std::chrono::steady_clock::time_point lastHeard;
  std::chrono::steady_clock::time_point lastCheck;
  uint64_t ackedAtCheck = 0;
  bool fullAtCheck = false;
  websocketpp::lib::shared_ptr<websocketpp::lib::asio::steady_timer> pingTimer;
  std::string owedPong;
  bool pongOwed = false;
  bool pongQueued = false;  // a pong went into the library's queue since it was last empty

 private:
  std::mutex handleMutex_;
  websocketpp::connection_hdl handle_;
  std::mutex loopMutex_;
  std::condition_variable loopSignal_;
  bool loopRunning_ = false;
};
