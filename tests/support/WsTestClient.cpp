#include "support/WsTestClient.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>
#include <websocketpp/extensions/permessage_deflate/enabled.hpp>

namespace testsupport {

namespace {

struct DeflateClientConfig : websocketpp::config::asio_client {
  typedef DeflateClientConfig type;
  typedef websocketpp::config::asio_client base;
  struct permessage_deflate_config {};
  typedef websocketpp::extensions::permessage_deflate::enabled<permessage_deflate_config> permessage_deflate_type;
};

using DeflateClient = websocketpp::client<DeflateClientConfig>;
using PlainClient = websocketpp::client<websocketpp::config::asio_client>;
using Hdl = websocketpp::connection_hdl;

enum class State { kIdle, kConnecting, kOpen, kEnded };

// The shared part of both endpoint kinds: state, received payloads and pongs, waiting.
struct Shared {
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  State state = State::kIdle;
  bool compressed = false;
  int remoteCode = 1006;
  std::string error;
  std::vector<std::string> received;
  std::vector<std::string> pongs;

  template <typename F>
  void Update(F f) {
    {
      std::lock_guard<std::mutex> lock(mu);
      f();
    }
    changed.notify_all();
  }
  template <typename P>
  bool Wait(std::chrono::milliseconds timeout, P done) const {
    std::unique_lock<std::mutex> lock(mu);
    return changed.wait_for(lock, timeout, [&] { return done(); });
  }
};

class Link {
 public:
  virtual ~Link() = default;
  virtual bool Start(uint16_t port, const std::string& path, std::string* error) = 0;
  virtual bool Send(const std::string& payload, bool binary) = 0;
  virtual bool Ping(const std::string& payload) = 0;
  virtual void Close(uint16_t code, const std::string& reason) = 0;
  virtual void Shutdown() = 0;
};

// One websocketpp client endpoint of either configuration.
template <typename Client>
class EndpointLink : public Link {
 public:
  explicit EndpointLink(Shared* shared) : shared_(shared) {
    client_.clear_access_channels(websocketpp::log::alevel::all);
    client_.clear_error_channels(websocketpp::log::elevel::all);
    client_.init_asio();
    client_.set_open_handler([this](Hdl h) {
      auto con = client_.get_con_from_hdl(h);
      bool deflate = !con->get_response_header("Sec-WebSocket-Extensions").empty();
      shared_->Update([&] {
        shared_->state = State::kOpen;
        shared_->compressed = deflate;
      });
    });
    client_.set_fail_handler([this](Hdl h) {
      std::string why = client_.get_con_from_hdl(h)->get_ec().message();
      shared_->Update([&] {
        shared_->state = State::kEnded;
        shared_->error = why;
      });
    });
    client_.set_close_handler([this](Hdl h) {
      int code = client_.get_con_from_hdl(h)->get_remote_close_code();
      shared_->Update([&] {
        shared_->state = State::kEnded;
        shared_->remoteCode = code;
      });
    });
    client_.set_message_handler([this](Hdl, typename Client::message_ptr msg) {
      shared_->Update([&] { shared_->received.push_back(msg->get_payload()); });
    });
    client_.set_pong_handler([this](Hdl, std::string payload) {
      shared_->Update([&] { shared_->pongs.push_back(std::move(payload)); });
    });
  }

  bool Start(uint16_t port, const std::string& path, std::string* error) override {
    websocketpp::lib::error_code ec;
    auto con = client_.get_connection("ws://127.0.0.1:" + std::to_string(port) + path, ec);
    if (ec) {
      if (error) *error = ec.message();
      return false;
    }
    hdl_ = con->get_handle();
    client_.connect(con);
    thread_ = std::thread([this] {
      try {
        client_.run();
      } catch (...) {
        shared_->Update([&] { shared_->state = State::kEnded; });
      }
    });
    return true;
  }

  bool Send(const std::string& payload, bool binary) override {
    websocketpp::lib::error_code ec;
    client_.send(hdl_, payload, binary ? websocketpp::frame::opcode::binary : websocketpp::frame::opcode::text, ec);
    return !ec;
  }

  bool Ping(const std::string& payload) override {
    websocketpp::lib::error_code ec;
    client_.ping(hdl_, payload, ec);
    return !ec;
  }

  void Close(uint16_t code, const std::string& reason) override {
    websocketpp::lib::error_code ec;
    client_.close(hdl_, code, reason, ec);
  }

  void Shutdown() override {
    if (!thread_.joinable()) return;
    client_.stop();
    thread_.join();
  }

 private:
  Shared* shared_;
  Client client_;
  Hdl hdl_;
  std::thread thread_;
};

}  // namespace

struct WsTestClient::Impl {
  Options options;
  Shared shared;
  std::unique_ptr<Link> link;

  bool IsOpen() const {
    std::lock_guard<std::mutex> lock(shared.mu);
    return shared.state == State::kOpen;
  }
};

WsTestClient::WsTestClient() : WsTestClient(Options{}) {}

WsTestClient::WsTestClient(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  if (impl_->options.deflate) impl_->link = std::make_unique<EndpointLink<DeflateClient>>(&impl_->shared);
  else impl_->link = std::make_unique<EndpointLink<PlainClient>>(&impl_->shared);
}

WsTestClient::~WsTestClient() { impl_->link->Shutdown(); }

bool WsTestClient::Connect(uint16_t port, std::chrono::milliseconds timeout, std::string* error) {
  Shared& s = impl_->shared;
  s.Update([&] { s.state = State::kConnecting; });
  if (!impl_->link->Start(port, impl_->options.path, error)) return false;
  s.Wait(timeout, [&] { return s.state != State::kConnecting; });
  std::lock_guard<std::mutex> lock(s.mu);
  if (s.state == State::kOpen) return true;
  if (error) *error = s.state == State::kConnecting ? "handshake timed out" : s.error;
  return false;
}

bool WsTestClient::Compressed() const {
  std::lock_guard<std::mutex> lock(impl_->shared.mu);
  return impl_->shared.compressed;
}

bool WsTestClient::Send(const std::string& payload, bool binary) {
  return impl_->IsOpen() && impl_->link->Send(payload, binary);
}

bool WsTestClient::Ping(const std::string& payload) { return impl_->IsOpen() && impl_->link->Ping(payload); }

bool WsTestClient::Close(uint16_t code, const std::string& reason, std::chrono::milliseconds timeout) {
  impl_->link->Close(code, reason);
  return WaitForEnd(timeout);
}

std::vector<std::string> WsTestClient::Received() const {
  std::lock_guard<std::mutex> lock(impl_->shared.mu);
  return impl_->shared.received;
}

bool WsTestClient::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
  const Shared& s = impl_->shared;
  return s.Wait(timeout, [&] { return s.received.size() >= count; });
}

std::vector<std::string> WsTestClient::Pongs() const {
  std::lock_guard<std::mutex> lock(impl_->shared.mu);
  return impl_->shared.pongs;
}

bool WsTestClient::WaitForPongs(size_t count, std::chrono::milliseconds timeout) const {
  const Shared& s = impl_->shared;
  return s.Wait(timeout, [&] { return s.pongs.size() >= count; });
}

bool WsTestClient::WaitForEnd(std::chrono::milliseconds timeout) const {
  const Shared& s = impl_->shared;
  return s.Wait(timeout, [&] { return s.state == State::kEnded; });
}

int WsTestClient::RemoteCloseCode() const {
  std::lock_guard<std::mutex> lock(impl_->shared.mu);
  return impl_->shared.remoteCode;
}

}  // namespace testsupport
