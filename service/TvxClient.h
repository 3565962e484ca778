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
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "foundation/LogThrottle.h"
#include "service/FixedPaths.h"
#include "service/PingLedger.h"

class ByteStream;
class MiniFrad;
class StreamBase;
struct AppMessage;
struct TargetData;
class UpdateImage;

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
  // On the monotonic clock, so that a step of the wall clock neither delays nor hurries a
  // reconnection.
  static std::chrono::steady_clock::time_point RestartTimer;
  // The bytes in front of every binary message, in both directions.
  static const std::string BSPrefix;

  // The link's endpoints (plain and TLS, both built), connection handle and network-thread
  // state, defined in TvxClientLink.h, which alone includes the WebSocket library.
  struct Link;
  struct LinkDeleter {
    void operator()(Link* link) const;
  };
  static Link* NewLink();

  TvxClient() = default;
  // Stores the paths, scans the configuration file into ConfigParser::Global and creates
  // one stream per definition whose STATUS is "ON" and whose TYPE is registered in
  // StreamRegistry, in the byte order of the stream names; other definitions are skipped
  // without a message. `initialised` tells whether the configuration was usable (then
  // also when no stream was created); without it nothing is created.
  TvxClient(const std::string& configPath, const std::string& dataDir,
            const std::string& programPath);
  // Asks the streams to quit unless that was done, joins the stream threads and then every
  // stream's console, and only then deletes the targets and the streams: no console can
  // still reach a stream or a target that is gone.
  ~TvxClient();
  TvxClient(const TvxClient&) = delete;
  TvxClient& operator=(const TvxClient&) = delete;

  // Asks every stream to quit (its virtual Quit, in order), then sets done and wakes the
  // update cycle. Any thread may call it any number of times while the client lives: a
  // later call changes nothing and returns once the first one has finished, so a caller
  // that sees it return knows that no stream is still being touched on its behalf. It
  // never takes the update mutex, so it may be called while that mutex is held.
  void SignalDone();

  // ---- Connection and update cycle (TvxClientLink.cpp, TvxClientRun.cpp) ----
  // Main thread only, all of them.

  // Connects to ws://address:port/?login=api: starts the network thread and the connection
  // (which opens later, on the network thread) and, unless IsRestart is set, initialises
  // every stream in order. False after "> Connect initialization error" or "Failed to
  // initialize stream: <name>"; the link is then closed and the network thread joined.
  // A refused connection is no failure here: it arrives later through on_fail.
  bool Init(const std::string& address, int32_t port);
  // Starts one thread per ready stream and runs the update cycle until done: every update
  // period it reconnects a failed or closed link (at most once per reconnectGap) or sends
  // every pending target. Rows stay pending while the link is not open. Once done, sends
  // what is pending one last time when the link is open, then closes the link.
  void Run();
  // Closes the link and connects again without initialising the streams; the rows the old
  // link did not confirm go out first on the new one.
  void Restart();
  // Closes the link (close code 1001 when it is open, an attempt still connecting is
  // abandoned), waits for the network thread (at most closeGrace, then its event loop is
  // stopped), joins it and sets Status to kClosed. Safe when no link was ever started.
  void Quit();

  // Connection handlers, run on the network thread; Endpoint is the plain or the TLS
  // client endpoint. Events of a connection other than the current one are ignored.
  template <class Endpoint>
  void on_open(Endpoint* endpoint, std::weak_ptr<void> handle);
  template <class Endpoint>
  void on_fail(Endpoint* endpoint, std::weak_ptr<void> handle);
  template <class Endpoint>
  void on_close(Endpoint* endpoint, std::weak_ptr<void> handle);
  template <class Endpoint, class MessagePtr>
  void on_message(Endpoint* endpoint, std::weak_ptr<void> handle, MessagePtr message);

  // Shortest time between two reconnection attempts (and from the process start to the
  // first); the service keeps 5 s, tests shorten it.
  std::chrono::milliseconds reconnectGap{5000};
  // How long Quit waits for the closing handshake before it stops the event loop.
  std::chrono::milliseconds closeGrace{2000};
  // Rows a target keeps, sent or not, whatever the link's state; past it the oldest are
  // dropped.
  int64_t maxBacklogRows = 500000;
  // How often the open link is checked and pinged, and how long the server may stay silent
  // after a ping (no answer to any of our pings, and the link's send queue not draining)
  // before the link is given up and reopened as a lost one: a stopped server is noticed
  // within pingPeriod + silenceLimit. A check that comes late (the process itself was stopped)
  // pings and waits silenceLimit again. Tests shorten both.
  std::chrono::milliseconds pingPeriod{1000};
  std::chrono::milliseconds silenceLimit{4000};
  // While the link holds more than this many bytes of earlier frames unsent (a server that
  // reads slowly or not at all), no update message is built: the rows wait in their targets.
  uint64_t maxUnsentBytes = 1 << 20;

  // ---- Targets (TvxClientTargets.cpp) ----
  // Targets are registered during start-up, before any stream thread runs; the map is not
  // changed afterwards and has no lock. Each target's table and flags are guarded by its
  // own mutex (service/TargetData.h).

  // Registers a target whose schema comes from the data server's table file
  // tableRoot/"OSTREL." + alias/database/table + ".ostrel": its columns, no rows. True
  // when registered or already registered (the first registration stays); false, with
  // nothing registered, for a missing or unreadable file, one without a valid table of at
  // least one column, and a name that would lead outside tableRoot (empty, ".", "..", or
  // holding a separator or a NUL byte; also logged). The key column is the first column
  // named `key` exactly; keyIndex -1 when none.
  bool NewTarget(const std::string& alias, const std::string& database, const std::string& table,
                 const std::string& action, const std::string& key);
  // Registers a target around the supplied table (taken over). keyIndex stays -1; the
  // producer sets keepRows afterwards through GetTarget. True also when already registered
  // (the supplied table is then dropped).
  bool NewTarget(const std::string& alias, const std::string& database, const std::string& table,
                 const std::string& action, const std::string& key, MiniFrad frad);
  // The registered target, or null. It lives as long as the client.
  TargetData* GetTarget(const std::string& alias, const std::string& database,
                        const std::string& table);
  // The target's table (for its schema), or an empty table for an unknown target. Read
  // the schema only: the rows belong to the target's mutex.
  MiniFrad& GetTargetFrad(const std::string& alias, const std::string& database,
                          const std::string& table);
  // Appends one row of texts (each converted to its column's type) under the target's
  // lock and marks it pending. An unknown target is ignored.
  void UpdateTarget(const std::string& alias, const std::string& database,
                    const std::string& table, const std::vector<std::string>& row);
  // UpdateTarget for a batch of rows from a producer that holds its target: appends
  // rows[0..count) in order under one hold of the target's lock. A null target is ignored.
  static void UpdateTargetRows(TargetData* target, const std::vector<std::string>* rows,
                               size_t count);
  // The update cycle's send: one update message per pending target with unsent rows, in
  // key order, written into its frame under the target's lock and compressed and sent after
  // it is released (producers never wait for the link; a reset of the target waits for the
  // send, so no message carries rows a reset has cleared). A clear still owed goes out
  // first. A ping follows the messages; the rows they carried leave their table (unless it
  // keeps them) once its answer, or a later one, shows the server read them. A backlog of
  // more than maxUnsentBytes goes out in several messages, a ping after each. While the
  // link is not open or holds more than maxUnsentBytes unsent, nothing is built and the
  // rows stay pending. Whatever the link's state, each target keeps at most maxBacklogRows
  // rows, sent or not (TrimBacklog).
  void SendTargetUpdates();
  // Empties the target (unless it keeps its rows), clears pending, sends its clear message
  // and asks the server to confirm it. The clear stays owed, one per target, until the
  // server answers a ping sent after it: one the link refuses, or sent on a link lost before
  // that answer, goes out again before any later row of the target. An unknown target is
  // ignored.
  void ResetTarget(const std::string& alias, const std::string& database,
                   const std::string& table);
  // After the link was lost (main thread, no network thread running): an unconfirmed clear
  // is owed again and the rows sent and not confirmed count as unsent again, so that they go
  // out first, in that order, on the next link. Each target keeps at most maxBacklogRows.
  void RewindUnconfirmed();

  // One target's part of SendTargetUpdates; true when update messages went out that no
  // ping follows yet.
  bool SendTarget(TargetData& target, ByteStream& msg);
  // The end of the rows from `first` that one update message carries: as many as fit in
  // about maxUnsentBytes, at least one.
  int64_t MessageEnd(const MiniFrad& table, int64_t first) const;
  // Drops the rows of the target's messages the server has confirmed. The caller holds the
  // target's mutex.
  void ReleaseConfirmed(TargetData& target);
  // Drops the oldest rows of a target over maxBacklogRows (none from a keep-rows target),
  // `why` naming the link's state, and says so in at most one line per second for the
  // target, giving the rows dropped since its previous line. The caller holds the target's
  // mutex; update cycle only.
  void TrimBacklog(const std::string& key, TargetData& target, const char* why);
  // Sends the target's clear message (built in `msg`); it stays owed when the link refuses
  // it, else until the answer to the ping after it. The caller holds the target's sendMutex.
  bool SendClear(TargetData& target, ByteStream& msg);

  std::string tableRoot = FixedPaths::kLiveDir;  // root of the target table files
  std::map<std::string, TargetData*> targets;   // by alias/database/table; owned

  // ---- Sending (TvxClientMessages.cpp) ----
  // The link's side of a send. The link sets frameSink; ImplSendMsg asks it for one frame
  // of `size` payload bytes, which the sink fills in place by calling `fill` with the
  // payload's first byte (so the image is written straight into the frame), then sends.
  // The sink calls `fill` at most once and takes no target's lock before it: an update
  // holds its target's lock until its fill returns. kNoConnection: no live connection
  // (nothing printed); kError: the library failed, with its text in *error.
  enum class FrameResult { kSent, kNoConnection, kError };
  using FrameFill = std::function<void(char* payload)>;
  using FrameSink = std::function<FrameResult(bool binary, uint64_t size, const FrameFill& fill,
                                              std::string* error)>;
  FrameSink frameSink;  // empty: no link, every send is refused silently
  // The bytes of earlier frames the link still holds unsent, in its own queue and in the
  // socket's, as last measured (a little behind: the measure is taken on the network
  // thread). Empty: no link, nothing held.
  std::function<uint64_t()> unsentBytes;
  // Delivery confirmation: the link numbers its pings and takes their answers here. A frame
  // queued before pings.ticket is read is confirmed once pings.confirmed reaches it. The link
  // also sets pingSink, which queues a ping behind every frame queued so far (false without
  // a live connection). Without a link both numbers stay 0: a frame then counts as read once
  // the link took it.
  PingLedger pings;
  std::function<bool()> pingSink;

  // Sends "BS=" + the image of `bs` as one binary frame. False without a message when the
  // link is not open (Status is not kOpen) or has no live connection. A library error
  // prints "> Error sending message: <text>" on standard output, removes the reply
  // callbacks of the container's "MSID" (its reply will never come) and gives false.
  // Any thread; the link serialises the writes.
  bool ImplSendMsg(const ByteStream& bs);
  // Sends "BS=" + the prepared update image as one binary frame, under the same conditions
  // and with the same results. The image is written into the frame's payload while
  // `tableLock` (the target's, held by the caller) is still held; the lock is released
  // once the payload is written, before the frame is compressed and sent, or on return
  // when no frame was made.
  bool ImplSendMsg(const UpdateImage& image, std::unique_lock<std::mutex>& tableLock);
  // ImplSendMsg over the selected endpoint (the link's sink chooses it by `secure`).
  bool SendMsg(const ByteStream& bs);
  // The text as one text frame, under the same conditions; no callback is removed.
  bool SendMsg(const std::string& text);

  // ---- Incoming messages and reply callbacks (TvxClientMessages.cpp) ----
  struct SuccessFunctionData {
    std::function<void(ByteStream&, std::shared_ptr<void>)> callback;
    std::shared_ptr<void> data;
  };
  struct FailureFunctionData {
    std::function<void(std::string, std::shared_ptr<void>)> callback;
    std::shared_ptr<void> data;
  };

  // Decodes one incoming frame payload (the message handler passes it on the network
  // thread) and, for a reply carrying "Func" and "MSID", queues its callback on TPOOL: a
  // failure callback when "Func" is "ERR" (with "Detail", empty when absent), else a
  // success callback. A frame that is too short, has another prefix or an image that
  // does not load is logged (its length, never its bytes; at most one such line per
  // second, counting the ones folded into it) and dropped; a reply without "Func" or
  // "MSID", and every frame when there is no running pool, is dropped silently.
  void ReceiveFrame(std::string_view payload);
  LogThrottle malformedFrameLog{std::chrono::seconds(1)};  // network thread only

  // Stores the callback under msid, replacing an entry already there. Any thread.
  void AddSuccessCallback(const std::string& msid,
                          std::function<void(ByteStream&, std::shared_ptr<void>)> callback,
                          std::shared_ptr<void> data);
  void AddFailureCallback(const std::string& msid,
                          std::function<void(std::string, std::shared_ptr<void>)> callback,
                          std::shared_ptr<void> data);
  // Erases msid from both maps (where present).
  void RemoveCallback(const std::string& msid);
  // Pool jobs, reaching the maps through WSOCK: take the entry of the message's MSID out
  // of its map and run it, so each registration runs at most once even when two replies
  // carry its identifier. An identifier without an entry is dropped. A callback that
  // throws is not retried (the exception stays in the job's unread future).
  static void SuccessCallback(AppMessage message);
  static void FailureCallback(std::string msid, std::string detail);

  std::string programPath;
  std::string dataDir;  // the traffic simulation reads its road map relative to it
  bool initialised = false;
  std::atomic<bool> done{false};  // set by SignalDone; ends the update cycle
  bool secure = false;            // selects the TLS endpoint; nothing sets it
  std::string address;
  int32_t port = FixedPaths::kServerPort;
  std::string uri;  // of the last connection made
  std::shared_ptr<std::thread> networkThread;
  std::unique_ptr<Link, LinkDeleter> link{NewLink()};
  bool firstStart = true;  // until the event loop and handlers are set up once
  std::mutex updateMutex;  // held by the update cycle for each period's work
  std::condition_variable updateSignal;
  std::vector<StreamBase*> streams;  // in creation order; owned
  std::vector<std::thread> streamThreads;
  std::mutex callbackMutex;  // guards the two callback maps
  std::unordered_map<std::string, SuccessFunctionData> successCallbacks;
  std::unordered_map<std::string, FailureFunctionData> failureCallbacks;

 private:
  std::mutex signalMutex;  // serialises SignalDone callers
};

// The process-wide client; null until start-up publishes the client of its pass.
extern TvxClient* WSOCK;
