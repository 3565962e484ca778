// The client's link: endpoints, connecting, closing, the network thread, the connection
// handlers and the frame sink through which every message is sent.

#include "service/TvxClientLink.h"

#include <cstring>
#include <exception>
#include <type_traits>

#include "foundation/LogManager.h"
#include "service/StreamBase.h"

namespace {

typedef TvxClient::Link::PlainEndpoint PlainEndpoint;
typedef TvxClient::Link::TlsEndpoint TlsEndpoint;
typedef websocketpp::lib::shared_ptr<websocketpp::lib::asio::ssl::context> TlsContextPtr;

// Incoming messages up to this size are accepted.
constexpr uint64_t kMaxMessageSize = 4000000000ULL;
constexpr int32_t kTriesPerLink = 5;
constexpr char kCertificateBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// TLS context of the secure endpoint: any TLS version, peer and host name verified
// against the system's certificate bundle. A failure is printed and the context returned
// as far as it was set up.
TlsContextPtr MakeTlsContext(const std::string& host) {
  namespace ssl = websocketpp::lib::asio::ssl;
  auto context = websocketpp::lib::make_shared<ssl::context>(ssl::context::sslv23);
  try {
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::single_dh_use);
    context->set_verify_mode(ssl::verify_peer);
    context->set_verify_callback(ssl::rfc2818_verification(host));
    context->load_verify_file(kCertificateBundle);
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
  }
  return context;
}

// The network thread's body: the endpoint's event loop. Nothing escapes it: an exception
// ends the loop, is logged and leaves the link failed, so the update cycle reconnects.
template <class Endpoint>
void RunLoop(TvxClient::Link* link, Endpoint* endpoint) {
  try {
    endpoint->run();
  } catch (const std::exception& e) {
    LogManager::Global << std::string("Network thread stopped by an exception: ") + e.what();
    TvxClient::Status = TvxClient::kFailed;
  } catch (...) {
    LogManager::Global << "Network thread stopped by an unknown exception";
    TvxClient::Status = TvxClient::kFailed;
  }
  link->LoopEnded();
}

// Network thread: the server of `handle` has just shown it is alive.
void Heard(TvxClient::Link* link, const websocketpp::connection_hdl& handle) {
  if (link->IsCurrent(handle)) link->lastHeard = std::chrono::steady_clock::now();
}

// Network thread: measures the connection's send queue for the senders' next look.
template <class ConnectionPtr>
void MeasureUnsent(TvxClient::Link* link, const ConnectionPtr& con) {
  std::lock_guard<std::mutex> lock(link->sendMutex);
  link->unsent = con->get_buffered_amount();
}

template <class Endpoint>
void CheckLiveness(TvxClient* client, Endpoint* endpoint, websocketpp::connection_hdl handle);

// Runs CheckLiveness once pingPeriod has passed.
template <class Endpoint>
void ArmLivenessCheck(TvxClient* client, Endpoint* endpoint, websocketpp::connection_hdl handle) {
  const long period = static_cast<long>(client->pingPeriod.count());
  client->link->pingTimer =
      endpoint->set_timer(period, [client, endpoint, handle](const websocketpp::lib::error_code& ec) {
        if (!ec) CheckLiveness(client, endpoint, handle);  // an error: cancelled by the close
      });
}

// Network thread, every pingPeriod while the connection is open. A server that stopped
// (a frozen process keeps its TCP connection open and answers nothing) would take every
// frame into its socket and lose them: once it has said nothing for silenceLimit, the link
// is given up at once, without a closing handshake it would never answer, and the update
// cycle reopens it while the rows wait in their targets. Otherwise it is pinged.
template <class Endpoint>
void CheckLiveness(TvxClient* client, Endpoint* endpoint, websocketpp::connection_hdl handle) {
  TvxClient::Link* link = client->link.get();
  if (!link->IsCurrent(handle)) return;
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
  if (!con || con->get_state() != websocketpp::session::state::open) return;
  MeasureUnsent(link, con);
  const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - link->lastHeard);
  if (silent > client->silenceLimit) {
    LogManager::Global << "No answer from the server for " + std::to_string(silent.count()) +
                              " ms, giving the connection up";
    TvxClient::Status = TvxClient::kClosed;
    con->terminate(websocketpp::transport::error::make_error_code(websocketpp::transport::error::timeout));
    return;
  }
  con->ping("", ec);  // refused only once the connection is closing, which its handler sees
  ArmLivenessCheck(client, endpoint, handle);
}

// Network thread: a pending check would keep the event loop running after the close.
void StopLivenessChecks(TvxClient::Link* link) {
  if (!link->pingTimer) return;
  link->pingTimer->cancel();
  link->pingTimer.reset();
}

template <class Endpoint>
void SetUpEndpoint(TvxClient* client, Endpoint* endpoint) {
  using websocketpp::connection_hdl;
  endpoint->init_asio();
  // Also the line per control frame: the liveness pings would print two every second.
  endpoint->clear_access_channels(websocketpp::log::alevel::frame_header |
                                  websocketpp::log::alevel::frame_payload |
                                  websocketpp::log::alevel::control);
  endpoint->set_open_handler([client, endpoint](connection_hdl h) { client->on_open(endpoint, h); });
  endpoint->set_fail_handler([client, endpoint](connection_hdl h) { client->on_fail(endpoint, h); });
  endpoint->set_close_handler([client, endpoint](connection_hdl h) { client->on_close(endpoint, h); });
  endpoint->set_message_handler([client, endpoint](connection_hdl h, typename Endpoint::message_ptr m) {
    client->on_message(endpoint, h, m);
  });
  endpoint->set_pong_handler([client](connection_hdl h, std::string) { Heard(client->link.get(), h); });
  if constexpr (std::is_same_v<Endpoint, TlsEndpoint>) {
    endpoint->set_tls_init_handler([client](connection_hdl) { return MakeTlsContext(client->address); });
  }
}

// Starts the event loop on a new network thread and a connection to client->uri on it.
template <class Endpoint>
bool Connect(TvxClient* client, Endpoint* endpoint) {
  TvxClient::Link* link = client->link.get();
  endpoint->start_perpetual();
  link->LoopStarted();
  client->networkThread = std::make_shared<std::thread>(RunLoop<Endpoint>, link, endpoint);

  TvxClient::Status = TvxClient::kConnecting;
  LogManager::Global << "Connecting to: " + client->uri;
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_connection(client->uri, ec);
  if (ec) {
    LogManager::Global <<= "> Connect initialization error: " + ec.message();
    TvxClient::Status = TvxClient::kFailed;
    client->Quit();
    return false;
  }
  link->SetHandle(con->get_handle());
  link->unsent = 0;
  con->set_max_message_size(kMaxMessageSize);
  endpoint->connect(con);
  return true;
}

template <class Endpoint>
void Close(TvxClient* client, Endpoint* endpoint) {
  TvxClient::Link* link = client->link.get();
  endpoint->stop_perpetual();
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(link->Handle(), ec);
  typename Endpoint::connection_ptr abandoned;
  if (con && con->get_state() == websocketpp::session::state::open) {
    std::lock_guard<std::mutex> lock(link->sendMutex);  // the close frame joins the send queue
    con->close(websocketpp::close::status::going_away, "", ec);  // an error changes nothing
  } else if (con && con->get_state() == websocketpp::session::state::connecting) {
    // An attempt still waiting for the server keeps the loop busy until the library's own
    // time-outs: stop the loop and abandon the attempt once no other thread runs it.
    abandoned = con;
    endpoint->stop();
  }
  if (client->networkThread && client->networkThread->joinable()) {
    if (!link->WaitLoopEnd(client->closeGrace)) endpoint->stop();
    client->networkThread->join();
  }
  if (abandoned) {
    abandoned->terminate(websocketpp::error::make_error_code(websocketpp::error::operation_canceled));
  }
  endpoint->reset();
}

// One frame on the current connection of `endpoint`, its payload filled in place.
template <class Endpoint>
TvxClient::FrameResult SendFrame(TvxClient::Link* link, Endpoint* endpoint, bool binary, uint64_t size,
                                 const TvxClient::FrameFill& fill, std::string* error) {
  websocketpp::connection_hdl handle = link->Handle();
  if (handle.expired()) return TvxClient::FrameResult::kNoConnection;
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
  if (!ec) {
    namespace op = websocketpp::frame::opcode;
    typename Endpoint::message_ptr msg = con->get_message(binary ? op::binary : op::text, size);
    std::string& payload = msg->get_raw_payload();
    payload.resize(size);
    fill(&payload[0]);
    msg->set_compressed(true);
    std::lock_guard<std::mutex> lock(link->sendMutex);
    ec = con->send(msg);
  }
  if (!ec) return TvxClient::FrameResult::kSent;
  *error = ec.message();
  return TvxClient::FrameResult::kError;
}

// The last measure of the current connection's send queue; asks for a new one, which the
// next call sees (the queue is only measured on the network thread).
template <class Endpoint>
uint64_t UnsentBytes(TvxClient::Link* link, Endpoint* endpoint) {
  websocketpp::connection_hdl handle = link->Handle();
  websocketpp::lib::asio::post(endpoint->get_io_service(), [link, endpoint, handle] {
    websocketpp::lib::error_code ec;
    typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
    if (con && link->IsCurrent(handle)) MeasureUnsent(link, con);
  });
  return link->unsent;
}

}  // namespace

TvxClient::Link* TvxClient::NewLink() { return new Link; }

void TvxClient::LinkDeleter::operator()(Link* link) const { delete link; }

websocketpp::connection_hdl TvxClient::Link::Handle() {
  std::lock_guard<std::mutex> lock(handleMutex_);
  return handle_;
}

void TvxClient::Link::SetHandle(websocketpp::connection_hdl handle) {
  std::lock_guard<std::mutex> lock(handleMutex_);
  handle_ = std::move(handle);
}

bool TvxClient::Link::IsCurrent(const websocketpp::connection_hdl& handle) {
  std::lock_guard<std::mutex> lock(handleMutex_);
  return !handle.owner_before(handle_) && !handle_.owner_before(handle);
}

void TvxClient::Link::LoopStarted() {
  std::lock_guard<std::mutex> lock(loopMutex_);
  loopRunning_ = true;
}

void TvxClient::Link::LoopEnded() {
  {
    std::lock_guard<std::mutex> lock(loopMutex_);
    loopRunning_ = false;
  }
  loopSignal_.notify_all();
}

bool TvxClient::Link::WaitLoopEnd(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(loopMutex_);
  return loopSignal_.wait_for(lock, timeout, [this] { return !loopRunning_; });
}

bool TvxClient::Init(const std::string& address, int32_t port) {
  this->address = address;
  this->port = port;
  uri = std::string(secure ? "wss://" : "ws://") + address + ":" + std::to_string(port) +
        FixedPaths::kServerPath;
  if (networkThread && networkThread->joinable()) Quit();  // one network thread at a time
  if (firstStart) {
    if (secure) {
      SetUpEndpoint(this, &link->tls);
    } else {
      SetUpEndpoint(this, &link->plain);
    }
    frameSink = [this](bool binary, uint64_t size, const FrameFill& fill, std::string* error) {
      return secure ? SendFrame(link.get(), &link->tls, binary, size, fill, error)
                    : SendFrame(link.get(), &link->plain, binary, size, fill, error);
    };
    unsentBytes = [this] {
      return secure ? UnsentBytes(link.get(), &link->tls) : UnsentBytes(link.get(), &link->plain);
    };
    firstStart = false;
  }
  if (!(secure ? Connect(this, &link->tls) : Connect(this, &link->plain))) return false;
  if (IsRestart) return true;
  for (StreamBase* stream : streams) {
    if (!stream->Init()) {
      LogManager::Global << "Failed to initialize stream: " + stream->name;
      Quit();
      return false;
    }
  }
  return true;
}

void TvxClient::Quit() {
  if (!firstStart) {
    if (secure) {
      Close(this, &link->tls);
    } else {
      Close(this, &link->plain);
    }
  }
  Status = kClosed;
}

template <class Endpoint>
void TvxClient::on_open(Endpoint* endpoint, std::weak_ptr<void> handle) {
  if (!link->IsCurrent(handle)) return;
  LogManager::Global << "Connection Opened";
  Status = kOpen;
  NbTriesLeft = kTriesPerLink;
  link->lastHeard = std::chrono::steady_clock::now();
  ArmLivenessCheck(this, endpoint, handle);
}

template <class Endpoint>
void TvxClient::on_fail(Endpoint* endpoint, std::weak_ptr<void> handle) {
  if (!link->IsCurrent(handle)) return;
  Status = kFailed;
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
  LogManager::Global << "Connection Failed, Error: " + (con ? con->get_ec() : ec).message();
}

template <class Endpoint>
void TvxClient::on_close(Endpoint* endpoint, std::weak_ptr<void> handle) {
  if (!link->IsCurrent(handle)) return;
  Status = kClosed;
  StopLivenessChecks(link.get());
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
  if (!con) return;
  const websocketpp::close::status::value code = con->get_local_close_code();
  LogManager::Global << "Connection Closed, Reason: close code: " + std::to_string(code) + " (" +
                            websocketpp::close::status::get_string(code) +
                            "), close reason: " + LogManager::Escaped(con->get_local_close_reason());
}

template <class Endpoint, class MessagePtr>
void TvxClient::on_message(Endpoint*, std::weak_ptr<void> handle, MessagePtr message) {
  if (!link->IsCurrent(handle)) return;
  Heard(link.get(), handle);
  ReceiveFrame(message->get_payload());
}
