#pragma once

// A small WebSocket client for tests and tools: one connection to 127.0.0.1, offering
// permessage-deflate (client_no_context_takeover, client_max_window_bits) unless told
// not to, sending frames and collecting what the server sends. It runs its own network
// thread; every method is thread-safe. The WebSocket library stays in the .cpp file.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class WsTestClient {
 public:
  struct Options {
    bool deflate = true;              // offer permessage-deflate
    std::string path = "/?login=api";
  };
  WsTestClient();
  explicit WsTestClient(Options options);
  ~WsTestClient();  // closes abruptly if still open, joins the thread
  WsTestClient(const WsTestClient&) = delete;
  WsTestClient& operator=(const WsTestClient&) = delete;

  // Connects and waits for the handshake to end; false with `error` set on failure.
  // Call once per object.
  bool Connect(uint16_t port, std::chrono::milliseconds timeout, std::string* error = nullptr);
  // The server accepted permessage-deflate.
  bool Compressed() const;
  // Queues one frame (binary frames are compressed when negotiated); false when not open.
  bool Send(const std::string& payload, bool binary = true);
  // Sends a ping; false when not open.
  bool Ping(const std::string& payload);
  // Starts the closing handshake with `code`; true when the link ended within `timeout`.
  bool Close(uint16_t code, const std::string& reason, std::chrono::milliseconds timeout);

  // Payloads received so far (after decompression), in order.
  std::vector<std::string> Received() const;
  bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
  // Payloads of the pongs received so far, answers and unsolicited ones, in order.
  std::vector<std::string> Pongs() const;
  bool WaitForPongs(size_t count, std::chrono::milliseconds timeout) const;
  // Waits for the link to end (closed by either side or broken); true when it has.
  bool WaitForEnd(std::chrono::milliseconds timeout) const;
  // After the end: the close code the server sent (1006 when none came).
  int RemoteCloseCode() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace testsupport
