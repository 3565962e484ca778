// Peers that misbehave below the WebSocket library: a relay that reads slowly and a server
// that floods the link with pings.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <websocketpp/base64/base64.hpp>
#include <websocketpp/sha1/sha1.hpp>

#include "link_test_util.h"

namespace linktest {

namespace {

// A socket listening on 127.0.0.1 at a free port; -1 on failure.
int Listen(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

int ConnectTo(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Waits up to 50 ms for `fd` to be ready; false on a time-out.
bool Ready(int fd, short events) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, 50) > 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Takes the complete frames off the front of `input` (client frames: masked, payloads of at
// most 125 bytes, as control frames are) and answers each ping with a pong. False when
// a frame is not of that form.
bool AnswerPings(int fd, std::string* input) {
  while (input->size() >= 2) {
    const uint8_t opcode = static_cast<uint8_t>((*input)[0]) & 0x0F;
    const size_t length = static_cast<uint8_t>((*input)[1]) & 0x7F;
    if (length > 125) return false;
    if (input->size() < 6 + length) return true;
    if (opcode == 0x9) {
      std::string pong = {'\x8A', static_cast<char>(length)};
      for (size_t i = 0; i < length; ++i) pong += static_cast<char>((*input)[6 + i] ^ (*input)[2 + i % 4]);
      if (!WriteAll(fd, pong.data(), pong.size())) return false;
    }
    input->erase(0, 6 + length);
  }
  return true;
}

}  // namespace

SlowReaderProxy::SlowReaderProxy(uint16_t targetPort) : targetPort_(targetPort) {
  listener_ = Listen(&port_);
  if (listener_ >= 0) acceptor_ = std::thread([this] { Accept(); });
}

SlowReaderProxy::~SlowReaderProxy() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();  // no pump starts after this
  for (std::thread& t : threads_) t.join();
  for (int fd : sockets_) close(fd);
  if (listener_ >= 0) close(listener_);
}

void SlowReaderProxy::Accept() {
  while (!stop_) {
    if (!Ready(listener_, POLLIN)) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = client < 0 ? -1 : ConnectTo(targetPort_);
    if (server < 0) {
      if (client >= 0) close(client);
      continue;
    }
    sockets_.push_back(client);
    sockets_.push_back(server);
    threads_.emplace_back([this, client, server] { Pump(client, server, true); });
    threads_.emplace_back([this, client, server] { Pump(server, client, false); });
  }
}

void SlowReaderProxy::Pump(int from, int to, bool throttled) {
  char buffer[4096];
  while (!stop_) {
    const uint64_t rate = throttled ? rate_.load() : 0;
    // A slow reader takes a twentieth of its second's worth every 50 ms.
    const size_t want = rate == 0 ? sizeof buffer : std::max<size_t>(1, std::min<size_t>(rate / 20, sizeof buffer));
    if (!Ready(from, POLLIN)) continue;
    const ssize_t n = recv(from, buffer, want, 0);
    if (n <= 0 || !WriteAll(to, buffer, static_cast<size_t>(n))) {
      shutdown(to, SHUT_RDWR);
      return;
    }
    if (rate != 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PingFlooder::PingFlooder(std::chrono::milliseconds duration, size_t payload) {
  listener_ = Listen(&port_);
  if (listener_ >= 0) thread_ = std::thread([this, duration, payload] { Serve(duration, payload); });
}

PingFlooder::~PingFlooder() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

void PingFlooder::Serve(std::chrono::milliseconds duration, size_t payload) {
  const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
  }
  const std::string keyField = "Sec-WebSocket-Key: ";
  const size_t at = request.find(keyField);
  const size_t end = at == std::string::npos ? at : request.find("\r\n", at);
  if (end != std::string::npos) {
    const std::string key = request.substr(at + keyField.size(), end - at - keyField.size()) +
                            "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[20];
    websocketpp::sha1::calc(key.data(), key.size(), digest);
    const std::string answer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Accept: " + websocketpp::base64_encode(digest, 20) + "\r\n\r\n";
    std::string ping = {'\x89', static_cast<char>(std::min<size_t>(payload, 125))};
    ping.append(std::min<size_t>(payload, 125), 'p');
    std::string batch;
    for (int i = 0; i < 64; ++i) batch += ping;
    std::string input;
    if (WriteAll(fd, answer.data(), answer.size())) {
      for (auto until = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < until;) {
        if (!Ready(fd, POLLOUT)) continue;
        if (!WriteAll(fd, batch.data(), batch.size())) break;
        sent_ += 64;
        // Reads a little after each batch, and answers the client's pings found there.
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) input.append(buffer, static_cast<size_t>(n));
        if (!AnswerPings(fd, &input)) break;
      }
    }
  }
  close(fd);
}

}  // namespace linktest
