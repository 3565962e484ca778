#pragma once

// The stand-in data server: a WebSocket server on 127.0.0.1 that accepts the service's
// link the way the real data server does (permessage-deflate offered by the client is
// accepted), decodes every message it receives with the independent wire decoder, and can
// be told to misbehave: decline compression, close, drop the TCP connection, refuse or
// stall new connections, answer with replies or broken frames, and fool the client's
// liveness pings: stop reading, send pongs nobody asked for, answer pings wrongly.
//
// The server runs its own network thread from Start to Stop. Every public method is
// thread-safe; the actions (Close, Drop, Send...) run on the network thread and return
// once done. The WebSocket library stays inside StandInServer.cpp.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/WireDecoder.h"

namespace standin {

// One opening handshake as the server saw it.
struct Handshake {
  uint64_t connection = 0;        // 1, 2, ... in arrival order
  std::string path;               // the request target, e.g. "/?login=api"
  std::string offeredExtensions;  // the client's Sec-WebSocket-Extensions, as sent
  bool deflate = false;           // the server accepted permessage-deflate
};

// One received data message.
struct Received {
  uint64_t connection = 0;
  uint64_t seq = 0;          // 1, 2, ... across the server's life
  bool compressed = false;   // the frame had RSV1 set
  bool binary = false;
  std::string payload;       // as delivered, after decompression
  bool decoded = false;      // the payload decoded as "BS=" + a container image
  std::string error;         // why it did not, or why its table did not
  testsupport::WireContainer message;
  bool hasTable = false;     // its "Data" record decoded as a table
  testsupport::WireTable table;
};

// The end of one connection.
struct Closed {
  uint64_t connection = 0;
  int remoteCode = 0;        // close code the client sent, 1006 when none (dropped)
  std::string remoteReason;
};

// What happens to new connections.
enum class Admission {
  kAccept,  // normal
  kRefuse,  // nothing listens: connecting fails at once
  kStall,   // TCP is accepted but the handshake is never answered
  kReject,  // the handshake is answered with HTTP 503
};

class StandInServer {
 public:
  // Receives one report line (JSON, no newline) per event, on the network thread.
  using ReportSink = std::function<void(const std::string& line)>;

  StandInServer();
  ~StandInServer();  // Stop()
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  // Before Start: where report lines go (none by default). The sink is called until Stop
  // returns, so it must outlive the server's run.
  void SetReportSink(ReportSink sink);

  // Before Start: also append every received frame to the file at `path` (created or
  // truncated; format in StandInRecord.h). False when it cannot be created.
  bool SetRecordFile(const std::string& path);

  // Listens on 127.0.0.1:port (0 picks a free port) and starts the network thread.
  // False with `error` set when the port cannot be bound.
  bool Start(uint16_t port, std::string* error = nullptr);
  // The bound port (0 before Start).
  uint16_t Port() const;
  // Closes every connection abruptly and joins the network thread. Idempotent.
  void Stop();

  // Behaviour for later handshakes / connections.
  void SetDeclineCompression(bool decline);
  void SetAdmission(Admission admission);

  // Actions on every open connection; each returns how many connections it acted on.
  int CloseAll(uint16_t code, const std::string& reason);
  int DropAll();  // TCP reset, no closing handshake
  // Sends one frame; binary frames are compressed when the connection negotiated it.
  int SendToAll(const std::string& payload, bool binary = true);
  int SendReply(const std::string& func, const std::string& msid);
  int SendFailure(const std::string& msid, const std::string& detail);
  // Stops (or resumes) reading: a paused connection takes no bytes at all, so its
  // messages and pings stay unread in the kernel (and its client's sends back up) while
  // the server still writes to it. Connections opened later read normally.
  int PauseReading(bool paused);

  // While running: every `period`, sends each open connection an unsolicited pong whose
  // payload is a decimal count, `first` and on, counted per connection. Every open
  // connection restarts at `first`, a later one starts there. A zero period stops them.
  void SetHeartbeat(std::chrono::milliseconds period, uint64_t first);
  // While running: answers each ping with `payload` instead of the ping's own (at most
  // 125 bytes, the limit of a control frame; a longer one leaves pings unanswered).
  // nullopt, the default, echoes again.
  void SetPongPayload(std::optional<std::string> payload);

  // What was seen so far (copies).
  std::vector<Handshake> Handshakes() const;
  std::vector<Received> Messages() const;
  std::vector<Closed> Closes() const;
  size_t OpenConnections() const;
  size_t OpenedTotal() const;  // connections that completed the handshake
  // Rows of every decoded table update for `tableName`, in arrival order, as texts.
  std::vector<std::vector<std::string>> RowsOf(const std::string& tableName) const;

  // Waits until `done` (called under the server's lock, so it must not call the server)
  // holds or the time-out passes; true when it held. Re-checked after every event.
  struct View {
    const std::vector<Handshake>& handshakes;
    const std::vector<Received>& messages;
    const std::vector<Closed>& closes;
    size_t open;
    size_t opened;
  };
  bool WaitUntil(const std::function<bool(const View&)>& done, std::chrono::milliseconds timeout) const;
  bool WaitForMessages(size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForOpened(size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForCloses(size_t count, std::chrono::milliseconds timeout) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin
