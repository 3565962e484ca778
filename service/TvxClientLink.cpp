// The client's link: endpoints, connecting, closing, the network thread, the connection
// handlers and the frame sink through which every message is sent.

#include "service/TvxClientLink.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <type_traits>

#include "foundation/LogManager.h"
#include "service/SocketCounters.h"
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

int64_t Ticks(std::chrono::steady_clock::time_point t) { return t.time_since_epoch().count(); }

// Network thread: measures the connection's send queue (the library's and the socket's)
// for the senders' next look. Frames the library is writing at that moment are in neither
// queue: the figure misses at most one write's worth. Returns the socket's counters.
template <class ConnectionPtr>
SocketCounters MeasureUnsent(TvxClient::Link* link, const ConnectionPtr& con) {
  SocketCounters socket;
  ReadSocketCounters(con->get_raw_socket().native_handle(), &socket);
  std::lock_guard<std::mutex> lock(link->sendMutex);
  link->unsent = con->get_buffered_amount() + socket.queued;
  return socket;
}

// Queues the next ping behind every frame queued so far; false once the connection is
// closing. Any thread.
template <class ConnectionPtr>
bool Ping(TvxClient* client, const ConnectionPtr& con) {
  TvxClient::Link* link = client->link.get();
  std::lock_guard<std::mutex> lock(link->sendMutex);  // numbers follow the queue's order
  uint64_t number = 0;
  const std::string payload = client->pings.Next(&number);
  // The server's silence counts from the first question after its last answer.
  if (client->pings.confirmed + 1 >= number) link->askedAt = Ticks(std::chrono::steady_clock::now());
  websocketpp::lib::error_code ec;
  con->ping(payload, ec);
  return !ec;
}

// Network thread: the answer to one of our pings confirms every frame queued before it and
// shows that the server reads. Any other pong is ignored (PingLedger).
void Answered(TvxClient* client, const websocketpp::connection_hdl& handle, const std::string& payload) {
  if (client->link->IsCurrent(handle) && client->pings.Answer(payload)) {
    client->link->lastHeard = std::chrono::steady_clock::now();
  }
}

// Network thread: answers the latest ping of the server unless the previous answer still
// waits in the library's queue, so that a flood of pings leaves at most one pong waiting.
template <class ConnectionPtr>
void FlushPong(TvxClient::Link* link, const ConnectionPtr& con) {
  if (!link->pongOwed) return;
  std::lock_guard<std::mutex> lock(link->sendMutex);
  if (link->pongQueued && con->get_buffered_amount() > 0) return;
  websocketpp::lib::error_code ec;
  con->pong(link->owedPong, ec);
  link->pongOwed = false;
  link->pongQueued = !ec;
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
// reading (a frozen process keeps its TCP connection open; a stuck one may still send
// messages and pongs of its own) is given up once it has left our pings unanswered for
// silenceLimit, without a closing handshake it would never answer; the update cycle
// reopens the link and sends again what it did not confirm. A server that reads, however
// slowly, is kept: it answers the pings between the frames as it reaches them, and
// meanwhile a full socket shows it taking bytes.
template <class Endpoint>
void CheckLiveness(TvxClient* client, Endpoint* endpoint, websocketpp::connection_hdl handle) {
  TvxClient::Link* link = client->link.get();
  if (!link->IsCurrent(handle)) return;
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
  if (!con || con->get_state() != websocketpp::session::state::open) return;
  const auto now = std::chrono::steady_clock::now();
  const SocketCounters socket = MeasureUnsent(link, con);
  // While the server's side has no room, our pings may still wait in our own socket: its
  // silence counts only from when they can have reached it. A socket that was full and
  // has drained since shows a server that reads. (A server whose kernel still takes every
  // byte shows nothing here, whether it reads or not: its answers tell.)
  if (socket.PeerFull() || (link->fullAtCheck && socket.acked > link->ackedAtCheck)) link->lastHeard = now;
  link->ackedAtCheck = socket.acked;
  link->fullAtCheck = socket.PeerFull();
  // A check this late means that this process was stopped or starved, not the server: it
  // gets its time to answer again. (Ordinary timer delays stay well below the margin.)
  const bool late = now - link->lastCheck > client->pingPeriod + client->silenceLimit / 2;
  link->lastCheck = now;
  if (late) link->lastHeard = now;
  FlushPong(link, con);

  const bool asked = client->pings.Asked();
  const auto since = std::max(link->lastHeard, std::chrono::steady_clock::time_point(
                                                   std::chrono::steady_clock::duration(link->askedAt.load())));
  const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
  if (asked && silent > client->silenceLimit) {
    LogManager::Global << "No answer from the server for " + std::to_string(silent.count()) +
                              " ms, giving the connection up";
    TvxClient::Status = TvxClient::kClosed;
    con->terminate(websocketpp::transport::error::make_error_code(websocketpp::transport::error::timeout));
    return;
  }
  if (!asked || late) Ping(client, con);
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
  endpoint->set_pong_handler([client](connection_hdl h, std::string payload) { Answered(client, h, payload); });
  endpoint->set_ping_handler([client, endpoint](connection_hdl h, std::string payload) {
    TvxClient::Link* link = client->link.get();
    if (!link->IsCurrent(h)) return false;
    link->owedPong = std::move(payload);
    link->pongOwed = true;
    websocketpp::lib::error_code ec;
    typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(h, ec);
    if (con) FlushPong(link, con);
    return false;  // answered here rather than by the library, which queues one per ping
  });
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
  client->pings.NewConnection();
  con->set_max_message_size(kMaxMessageSize);
  endpoint->connect(con);
  return true;
}

template <class Endpoint>
void Close(TvxClient* client, Endpoint* endpoint) {
  TvxClient::Link* link = client->link.get();
  endpoint->stop_perpetual();
  // The connection's state belongs to the network thread: it is read and acted on there.
  auto abandoned = std::make_shared<typename Endpoint::connection_ptr>();
  websocketpp::lib::asio::post(endpoint->get_io_service(), [link, endpoint, abandoned, handle = link->Handle()] {
    websocketpp::lib::error_code ec;
    typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(handle, ec);
    if (con && con->get_state() == websocketpp::session::state::open) {
      std::lock_guard<std::mutex> lock(link->sendMutex);  // the close frame joins the send queue
      con->close(websocketpp::close::status::going_away, "", ec);  // an error changes nothing
    } else if (con && con->get_state() == websocketpp::session::state::connecting) {
      // An attempt still waiting for the server keeps the loop busy until the library's own
      // time-outs: stop the loop and abandon the attempt once no thread runs it.
      *abandoned = con;
      endpoint->stop();
    }
  });
  if (client->networkThread && client->networkThread->joinable()) {
    if (!link->WaitLoopEnd(client->closeGrace)) endpoint->stop();
    client->networkThread->join();
  }
  if (*abandoned) {
    (*abandoned)->terminate(websocketpp::error::make_error_code(websocketpp::error::operation_canceled));
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

// A ping on the current connection of `endpoint`, behind every frame queued so far.
template <class Endpoint>
bool PingNow(TvxClient* client, Endpoint* endpoint) {
  websocketpp::lib::error_code ec;
  typename Endpoint::connection_ptr con = endpoint->get_con_from_hdl(client->link->Handle(), ec);
  return con && Ping(client, con);
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
    pingSink = [this] { return secure ? PingNow(this, &link->tls) : PingNow(this, &link->plain); };
    pings.Start();  // from now on frames wait for the server's answer
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
  link->lastHeard = link->lastCheck = std::chrono::steady_clock::now();
  link->askedAt = 0;
  link->ackedAtCheck = 0;
  link->fullAtCheck = false;
  link->pongOwed = link->pongQueued = false;
  Status = kOpen;
  NbTriesLeft = kTriesPerLink;
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
  ReceiveFrame(message->get_payload());
}
