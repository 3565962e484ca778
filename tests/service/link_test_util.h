#pragma once

// Helpers for the tests of the client's link, update cycle and start-up: a producer of
// numbered rows, producer kinds for the start-up passes, and a client wired to an
// in-process stand-in data server.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/TvxClient.h"
#include "tools/standin/StandInServer.h"

namespace linktest {

// A producer that appends numbered rows ("n" BIG INT = 0, 1, 2, ..., "text") to its own
// target (alias "api", database "live", table = the stream's name), one row every `period`
// until it quits. The target is registered around a table the stream supplies. The text is
// "row" kept to the column's size 0, or `textBytes` random letters (which compress poorly)
// when set before Init.
class NumberedStream : public StreamBase {
 public:
  NumberedStream(std::string name, StreamDef* def, std::chrono::milliseconds period);
  bool Init() override;
  void Run() override;

  std::chrono::milliseconds period;
  size_t textBytes = 0;
  std::atomic<int64_t> produced{0};  // rows appended so far
  std::atomic<bool> stopAppending{false};
};

// Registers the producer kinds the start-up tests configure:
//   "NUMBERED"  NumberedStream with a 10 ms period, which asks the service to quit once its
//               METADATA "QUIT_AFTER" rows went out (never when absent);
//   "FAILING"   a stream whose Init fails;
//   "THROWING"  a stream whose Init throws the WebSocket library's exception on its first
//               call in this process (later calls behave as NUMBERED with QUIT_AFTER 3).
void RegisterTestKinds();

// A configuration file text: the global section (UPDATE_RATE `rate`) and one stream per
// (name, type) pair, each with one route; `metadata` is the METADATA object's members.
std::string ConfigText(const std::vector<std::pair<std::string, std::string>>& streams,
                       const std::string& rate = "20", const std::string& metadata = "");

// A client connected to an in-process stand-in (started on a free port) with short
// reconnection gaps; published in WSOCK. Its streams are added by the test before Connect.
struct LinkedClient {
  LinkedClient();
  ~LinkedClient();  // ends the update cycle if it runs, destroys the client, clears WSOCK

  bool Connect();  // client->Init with the stand-in's port
  void StartRun(); // client->Run on a thread of its own
  void StopRun();  // SignalDone, then waits for Run to return

  standin::StandInServer server;
  std::unique_ptr<TvxClient> client;
  std::vector<std::unique_ptr<StreamDef>> defs;
  std::thread runner;
};

// A stream definition named `name` (owned by `owner`).
StreamDef* NewDef(std::vector<std::unique_ptr<StreamDef>>& owner, const std::string& name);

// The numbers of the "n" column of every row the stand-in decoded for `table`, in order.
std::vector<int64_t> ReceivedNumbers(const standin::StandInServer& server, const std::string& table);

}  // namespace linktest

namespace linktest {

// A TCP relay on 127.0.0.1 (a free port) in front of a server on `targetPort`, for a server
// that reads slowly: it takes the client's bytes at most `rate` bytes a second (0: as fast
// as they come) and passes the server's bytes back at once. One thread per direction and
// connection; the destructor ends them.
class SlowReaderProxy {
 public:
  explicit SlowReaderProxy(uint16_t targetPort);
  ~SlowReaderProxy();
  uint16_t Port() const { return port_; }
  void SetRate(uint64_t bytesPerSecond) { rate_ = bytesPerSecond; }

 private:
  void Accept();
  void Pump(int from, int to, bool throttled);

  uint16_t targetPort_;
  uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<uint64_t> rate_{0};
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> threads_;  // pumps, added by the acceptor
  std::vector<int> sockets_;
};

// A WebSocket server on 127.0.0.1 (a free port) that answers one opening handshake, then
// for `duration` sends pings with `payload` bytes as fast as it can, reading 1 KB after
// every 64 of them and answering the pings it finds there: slower than a pong per ping.
class PingFlooder {
 public:
  PingFlooder(std::chrono::milliseconds duration, size_t payload);
  ~PingFlooder();
  uint16_t Port() const { return port_; }
  uint64_t PingsSent() const { return sent_; }

 private:
  void Serve(std::chrono::milliseconds duration, size_t payload);

  uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

}  // namespace linktest
