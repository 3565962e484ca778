#include "tools/standin/StandInServer.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/extensions/permessage_deflate/enabled.hpp>
#include <websocketpp/server.hpp>

#include "support/WireEncoder.h"
#include "tools/standin/StandInRecord.h"
#include "tools/standin/StandInReport.h"

namespace standin {

namespace {

namespace pmd = websocketpp::extensions::permessage_deflate;
namespace asio = websocketpp::lib::asio;

// The deflate extension is negotiated on the server's network thread; this points at the
// decline switch of the server that owns the thread, so several servers in one process
// keep their own setting.
thread_local const std::atomic<bool>* tDeclineDeflate = nullptr;

// permessage-deflate as the library ships it, except that it can refuse every offer.
template <typename Config>
class DeclinableDeflate : public pmd::enabled<Config> {
 public:
  std::pair<websocketpp::lib::error_code, std::string> negotiate(websocketpp::http::attribute_list const& offer) {
    if (tDeclineDeflate != nullptr && tDeclineDeflate->load()) {
      return {pmd::error::make_error_code(pmd::error::invalid_attributes), std::string()};
    }
    return pmd::enabled<Config>::negotiate(offer);
  }
};

// A connection's socket as the library reads and writes it, with reads that can be held.
// A read first waits for bytes and, while held, leaves them in the kernel: the server
// takes nothing, not even the rest of a frame, and the peer's sends back up. (The
// library's own pause_reading stops only after the read already under way, which takes
// the next bytes that come; resuming before they came would start a second read.)
class HoldableSocket {
 public:
  using executor_type = asio::ip::tcp::socket::executor_type;

  explicit HoldableSocket(asio::ip::tcp::socket& socket) : socket_(socket), release_(socket.get_executor()) {}

  executor_type get_executor() { return socket_.get_executor(); }

  // While held, reads take no bytes; a read already waiting goes on once released.
  void Hold(bool hold) {
    held_ = hold;
    if (!hold) release_.cancel();
  }

  template <typename Buffers, typename Handler>
  void async_read_some(const Buffers& buffers, Handler&& handler) {
    auto readable = [this, buffers, handler = std::forward<Handler>(handler)](const asio::error_code& ec) mutable {
      if (ec) {
        handler(ec, size_t{0});
      } else if (held_) {
        WaitForRelease(buffers, std::move(handler));
      } else {
        socket_.async_read_some(buffers, std::move(handler));
      }
    };
    socket_.async_wait(asio::socket_base::wait_read, std::move(readable));
  }

  template <typename Buffers, typename Handler>
  void async_write_some(const Buffers& buffers, Handler&& handler) {
    socket_.async_write_some(buffers, std::forward<Handler>(handler));
  }

 private:
  template <typename Buffers, typename Handler>
  void WaitForRelease(const Buffers& buffers, Handler handler) {
    release_.expires_at(asio::steady_timer::time_point::max());
    release_.async_wait([this, buffers, handler = std::move(handler)](const asio::error_code&) mutable {
      async_read_some(buffers, std::move(handler));
    });
  }

  asio::ip::tcp::socket& socket_;
  asio::steady_timer release_;  // a held read waits on it; Hold(false) cancels it
  bool held_ = false;
};

namespace basic_socket = websocketpp::transport::asio::basic_socket;

// The library's plain socket policy, reading and writing through a HoldableSocket.
class HoldableConnection : public basic_socket::connection {
 public:
  HoldableSocket& get_socket() { return *holdable_; }
  void HoldReading(bool hold) { holdable_->Hold(hold); }

 protected:
  websocketpp::lib::error_code init_asio(io_service_ptr service, strand_ptr strand, bool isServer) {
    websocketpp::lib::error_code ec = basic_socket::connection::init_asio(service, strand, isServer);
    if (!ec) holdable_ = std::make_unique<HoldableSocket>(get_raw_socket());
    return ec;
  }

 private:
  std::unique_ptr<HoldableSocket> holdable_;
};

struct HoldableEndpoint : basic_socket::endpoint {
  typedef HoldableConnection socket_con_type;
};

struct StandInConfig : websocketpp::config::asio {
  typedef StandInConfig type;
  typedef websocketpp::config::asio base;
  struct permessage_deflate_config {};
  typedef DeclinableDeflate<permessage_deflate_config> permessage_deflate_type;
  struct transport_config : base::transport_config {
    typedef HoldableEndpoint socket_type;
  };
  typedef websocketpp::transport::asio::endpoint<transport_config> transport_type;
};

using Server = websocketpp::server<StandInConfig>;
using Hdl = websocketpp::connection_hdl;

constexpr size_t kMaxMessageSize = size_t(1) << 31;
// Bytes a connection may hold unsent before heartbeats skip it.
constexpr size_t kMaxQueuedBeats = 64 * 1024;

}  // namespace

struct StandInServer::Impl {
  Server server;
  std::thread thread;
  std::atomic<bool> decline{false};
  ReportSink sink;
  std::FILE* record = nullptr;
  uint16_t port = 0;

  // Owned by the network thread.
  Admission admission = Admission::kAccept;
  std::unique_ptr<asio::ip::tcp::acceptor> stallAcceptor;
  std::vector<std::unique_ptr<asio::ip::tcp::socket>> stalled;
  std::map<Hdl, uint64_t, std::owner_less<Hdl>> ids;
  std::map<Hdl, uint64_t, std::owner_less<Hdl>> open;  // -> the number of its next heartbeat
  std::unique_ptr<asio::steady_timer> heartbeat;
  std::chrono::milliseconds beatPeriod{0};
  uint64_t beatFirst = 0;
  uint64_t beatRound = 0;  // counts heartbeat changes, so that a tick already due then stops
  std::optional<std::string> pongPayload;

  // What was seen, for the test threads.
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  bool running = false;
  std::vector<Handshake> handshakes;
  std::vector<Received> messages;
  std::vector<Closed> closes;
  size_t opened = 0;
  uint64_t nextConnection = 1;
  uint64_t nextSeq = 1;

  void Report(const std::string& line) {
    if (sink) sink(line);
  }

  // Records an event under the lock and wakes the waiters.
  template <typename F>
  void Record(F update) {
    {
      std::lock_guard<std::mutex> lock(mu);
      update();
    }
    changed.notify_all();
  }

  // Runs `f` on the network thread and returns its result; `fallback` when not running.
  template <typename T, typename F>
  T OnLoop(T fallback, F f) {
    {
      std::lock_guard<std::mutex> lock(mu);
      if (!running) return fallback;
    }
    std::packaged_task<T()> task(f);
    std::future<T> result = task.get_future();
    asio::post(server.get_io_service(), [&task] { task(); });
    return result.get();
  }

  uint64_t IdOf(Hdl hdl) {
    auto it = ids.find(hdl);
    return it == ids.end() ? 0 : it->second;
  }

  bool OnValidate(Hdl hdl);
  void OnOpen(Hdl hdl);
  void OnMessage(Hdl hdl, Server::message_ptr msg);
  bool OnPing(Hdl hdl);
  void OnClose(Hdl hdl);
  void OnFail(Hdl hdl);
  bool Listen(std::string* error);
  void StopListening();
  void StartStall();
  void AcceptStalled();
  void EndStall();
  void Admit(Admission next);
  int ForEachOpen(const std::function<void(Server::connection_ptr)>& act);
  void DropAllNow();
  void Heartbeat(std::chrono::milliseconds period, uint64_t first);
  void ArmHeartbeat();
  void SendBeats();
};

bool StandInServer::Impl::OnValidate(Hdl hdl) {
  Server::connection_ptr con = server.get_con_from_hdl(hdl);
  Handshake h;
  {
    std::lock_guard<std::mutex> lock(mu);
    h.connection = nextConnection++;
  }
  ids[hdl] = h.connection;
  h.path = con->get_resource();
  h.offeredExtensions = con->get_request_header("Sec-WebSocket-Extensions");
  h.deflate = !con->get_response_header("Sec-WebSocket-Extensions").empty();
  Report(HandshakeLine(h));
  Record([&] { handshakes.push_back(h); });
  if (admission == Admission::kReject) {
    con->set_status(websocketpp::http::status_code::service_unavailable);
    return false;
  }
  return true;
}

void StandInServer::Impl::OnOpen(Hdl hdl) {
  uint64_t id = IdOf(hdl);
  open[hdl] = beatFirst;
  Report(EventLine("open", ",\"conn\":" + std::to_string(id)));
  Record([&] { ++opened; });
}

void StandInServer::Impl::OnMessage(Hdl hdl, Server::message_ptr msg) {
  Received r;
  r.connection = IdOf(hdl);
  r.compressed = msg->get_compressed();
  r.binary = msg->get_opcode() == websocketpp::frame::opcode::binary;
  r.payload = msg->get_payload();
  DecodeReceived(&r);
  if (record != nullptr && !AppendRecord(record, r))
    Report(EventLine("error", ",\"error\":\"cannot write the record file\""));
  {
    std::lock_guard<std::mutex> lock(mu);
    r.seq = nextSeq++;
  }
  Report(MessageLine(r));
  Record([&] { messages.push_back(std::move(r)); });
}

// True lets the library echo the ping; a fixed answer replaces the echo.
bool StandInServer::Impl::OnPing(Hdl hdl) {
  if (!pongPayload) return true;
  websocketpp::lib::error_code ec;
  server.get_con_from_hdl(hdl)->pong(*pongPayload, ec);
  return false;
}

void StandInServer::Impl::OnClose(Hdl hdl) {
  Server::connection_ptr con = server.get_con_from_hdl(hdl);
  Closed c;
  c.connection = IdOf(hdl);
  c.remoteCode = con->get_remote_close_code();
  c.remoteReason = con->get_remote_close_reason();
  con->HoldReading(false);  // a held read would keep the ended connection alive
  open.erase(hdl);
  ids.erase(hdl);
  Report(CloseLine(c));
  Record([&] { closes.push_back(c); });
}

void StandInServer::Impl::OnFail(Hdl hdl) {
  Server::connection_ptr con = server.get_con_from_hdl(hdl);
  uint64_t id = IdOf(hdl);
  ids.erase(hdl);
  Report(EventLine("fail", ",\"conn\":" + std::to_string(id) + ",\"error\":" + JsonString(con->get_ec().message())));
}

bool StandInServer::Impl::Listen(std::string* error) {
  websocketpp::lib::error_code ec;
  server.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
  if (!ec) server.start_accept(ec);
  if (ec) {
    if (error) *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
    if (server.is_listening()) StopListening();
    return false;
  }
  asio::error_code aec;
  port = server.get_local_endpoint(aec).port();
  return true;
}

void StandInServer::Impl::StopListening() {
  websocketpp::lib::error_code ec;
  if (server.is_listening()) server.stop_listening(ec);
}

// A plain acceptor on the server's port that takes connections and never answers them.
void StandInServer::Impl::StartStall() {
  asio::error_code ec;
  stallAcceptor = std::make_unique<asio::ip::tcp::acceptor>(server.get_io_service());
  asio::ip::tcp::endpoint at(asio::ip::make_address("127.0.0.1"), port);
  stallAcceptor->open(at.protocol(), ec);
  stallAcceptor->set_option(asio::socket_base::reuse_address(true), ec);
  stallAcceptor->bind(at, ec);
  if (!ec) stallAcceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    Report(EventLine("error", ",\"error\":" + JsonString("cannot stall: " + ec.message())));
    stallAcceptor.reset();
    return;
  }
  AcceptStalled();
}

void StandInServer::Impl::AcceptStalled() {
  auto socket = std::make_shared<asio::ip::tcp::socket>(server.get_io_service());
  stallAcceptor->async_accept(*socket, [this, socket](const asio::error_code& ec) {
    if (ec || !stallAcceptor) return;
    stalled.push_back(std::make_unique<asio::ip::tcp::socket>(std::move(*socket)));
    Report(EventLine("stalled", ",\"held\":" + std::to_string(stalled.size())));
    AcceptStalled();
  });
}

void StandInServer::Impl::EndStall() {
  asio::error_code ec;
  if (stallAcceptor) stallAcceptor->close(ec);
  stallAcceptor.reset();
  for (auto& s : stalled) s->close(ec);
  stalled.clear();
}

void StandInServer::Impl::Admit(Admission next) {
  admission = next;
  EndStall();
  if (next == Admission::kAccept || next == Admission::kReject) {
    if (!server.is_listening()) Listen(nullptr);
  } else {
    StopListening();
    if (next == Admission::kStall) StartStall();
  }
}

int StandInServer::Impl::ForEachOpen(const std::function<void(Server::connection_ptr)>& act) {
  int count = 0;
  auto snapshot = open;  // `act` may end a connection, which edits `open`
  for (auto& entry : snapshot) {
    const Hdl& hdl = entry.first;
    websocketpp::lib::error_code ec;
    Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (ec || !con) continue;
    act(con);
    ++count;
  }
  return count;
}

// Resets every open connection: linger 0 and close, so the peer gets a TCP reset.
void StandInServer::Impl::DropAllNow() {
  ForEachOpen([](Server::connection_ptr con) {
    asio::error_code ec;
    auto& socket = con->get_raw_socket();
    socket.set_option(asio::socket_base::linger(true, 0), ec);
    socket.close(ec);
    con->HoldReading(false);  // else a held read never learns of the close
  });
}

void StandInServer::Impl::Heartbeat(std::chrono::milliseconds period, uint64_t first) {
  beatPeriod = period;
  beatFirst = first;
  ++beatRound;
  for (auto& entry : open) entry.second = first;
  heartbeat->cancel();
  if (period.count() > 0) ArmHeartbeat();
}

void StandInServer::Impl::ArmHeartbeat() {
  heartbeat->expires_after(beatPeriod);
  heartbeat->async_wait([this, round = beatRound](const asio::error_code& ec) {
    if (ec || round != beatRound) return;
    SendBeats();
    ArmHeartbeat();
  });
}

void StandInServer::Impl::SendBeats() {
  for (auto& [hdl, next] : open) {
    websocketpp::lib::error_code ec;
    Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    // A client that reads nothing gets no more: its queue stays bounded. A connection
    // already closing refuses.
    if (!ec && con->get_buffered_amount() < kMaxQueuedBeats) con->pong(std::to_string(next++), ec);
  }
}

StandInServer::StandInServer() : impl_(std::make_unique<Impl>()) {}

StandInServer::~StandInServer() {
  Stop();
  if (impl_->record != nullptr) std::fclose(impl_->record);
}

void StandInServer::SetReportSink(ReportSink sink) { impl_->sink = std::move(sink); }

bool StandInServer::SetRecordFile(const std::string& path) {
  impl_->record = std::fopen(path.c_str(), "wb");
  return impl_->record != nullptr;
}

bool StandInServer::Start(uint16_t port, std::string* error) {
  Impl& d = *impl_;
  d.server.clear_access_channels(websocketpp::log::alevel::all);
  d.server.clear_error_channels(websocketpp::log::elevel::all);
  d.server.init_asio();
  d.server.set_reuse_addr(true);
  d.server.set_max_message_size(kMaxMessageSize);
  d.server.set_validate_handler([&d](Hdl h) { return d.OnValidate(h); });
  d.server.set_open_handler([&d](Hdl h) { d.OnOpen(h); });
  d.server.set_message_handler([&d](Hdl h, Server::message_ptr m) { d.OnMessage(h, m); });
  d.server.set_ping_handler([&d](Hdl h, std::string) { return d.OnPing(h); });
  d.server.set_close_handler([&d](Hdl h) { d.OnClose(h); });
  d.server.set_fail_handler([&d](Hdl h) { d.OnFail(h); });
  d.heartbeat = std::make_unique<asio::steady_timer>(d.server.get_io_service());
  d.port = port;
  if (!d.Listen(error)) return false;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.running = true;
  }
  d.Report(EventLine("listening", ",\"port\":" + std::to_string(d.port)));
  d.thread = std::thread([&d] {
    tDeclineDeflate = &d.decline;
    d.server.start_perpetual();  // keeps running while nothing listens (refused admission)
    for (;;) {
      try {
        d.server.run();
        return;
      } catch (const std::exception& e) {
        d.Report(EventLine("error", ",\"error\":" + JsonString(e.what())));
      }
    }
  });
  return true;
}

uint16_t StandInServer::Port() const { return impl_->port; }

void StandInServer::Stop() {
  Impl& d = *impl_;
  if (!d.thread.joinable()) return;
  d.OnLoop(0, [&d] {
    d.StopListening();
    d.EndStall();
    d.DropAllNow();
    d.Heartbeat(std::chrono::milliseconds(0), 0);
    return 0;
  });
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.running = false;
  }
  d.server.stop_perpetual();
  d.server.stop();
  d.thread.join();
  d.changed.notify_all();
}

void StandInServer::SetDeclineCompression(bool decline) {
  impl_->decline = decline;
  impl_->Report(EventLine("decline", std::string(",\"on\":") + (decline ? "true" : "false")));
}

void StandInServer::SetAdmission(Admission admission) {
  static const char* const kNames[] = {"accept", "refuse", "stall", "reject"};
  impl_->OnLoop(0, [this, admission] {
    impl_->Admit(admission);
    impl_->Report(EventLine("admission", ",\"mode\":" + JsonString(kNames[static_cast<int>(admission)])));
    return 0;
  });
}

int StandInServer::CloseAll(uint16_t code, const std::string& reason) {
  return impl_->OnLoop(0, [this, code, &reason] {
    int n = impl_->ForEachOpen([&](Server::connection_ptr con) {
      websocketpp::lib::error_code ec;
      con->close(code, reason, ec);
    });
    impl_->Report(EventLine("closing", ",\"conns\":" + std::to_string(n) + ",\"code\":" + std::to_string(code)));
    return n;
  });
}

int StandInServer::DropAll() {
  return impl_->OnLoop(0, [this] {
    int n = static_cast<int>(impl_->open.size());
    impl_->DropAllNow();
    impl_->Report(EventLine("dropped", ",\"conns\":" + std::to_string(n)));
    return n;
  });
}

int StandInServer::SendToAll(const std::string& payload, bool binary) {
  return impl_->OnLoop(0, [this, &payload, binary] {
    auto op = binary ? websocketpp::frame::opcode::binary : websocketpp::frame::opcode::text;
    int n = impl_->ForEachOpen([&](Server::connection_ptr con) {
      con->send(payload, op);  // a connection already closing refuses; nothing to do then
    });
    impl_->Report(EventLine("sent", ",\"conns\":" + std::to_string(n) + ",\"bytes\":" + std::to_string(payload.size())));
    return n;
  });
}

int StandInServer::PauseReading(bool paused) {
  return impl_->OnLoop(0, [this, paused] {
    int n = impl_->ForEachOpen([paused](Server::connection_ptr con) { con->HoldReading(paused); });
    impl_->Report(EventLine("reading", ",\"conns\":" + std::to_string(n) +
                                           ",\"paused\":" + (paused ? "true" : "false")));
    return n;
  });
}

void StandInServer::SetHeartbeat(std::chrono::milliseconds period, uint64_t first) {
  impl_->OnLoop(0, [this, period, first] {
    impl_->Heartbeat(period, first);
    impl_->Report(EventLine("heartbeat", ",\"ms\":" + std::to_string(period.count()) +
                                             ",\"first\":" + std::to_string(first)));
    return 0;
  });
}

void StandInServer::SetPongPayload(std::optional<std::string> payload) {
  impl_->OnLoop(0, [this, &payload] {
    impl_->pongPayload = payload;
    const std::string mode = payload ? ",\"mode\":\"fixed\",\"payload\":" + JsonString(*payload) : ",\"mode\":\"echo\"";
    impl_->Report(EventLine("pongs", mode));
    return 0;
  });
}

int StandInServer::SendReply(const std::string& func, const std::string& msid) {
  return SendToAll(testsupport::EncodeReply(func, msid));
}

int StandInServer::SendFailure(const std::string& msid, const std::string& detail) {
  return SendToAll(testsupport::EncodeFailure(msid, detail));
}

std::vector<Handshake> StandInServer::Handshakes() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->handshakes;
}

std::vector<Received> StandInServer::Messages() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->messages;
}

std::vector<Closed> StandInServer::Closes() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->closes;
}

size_t StandInServer::OpenConnections() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->opened - impl_->closes.size();
}

size_t StandInServer::OpenedTotal() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->opened;
}

std::vector<std::vector<std::string>> StandInServer::RowsOf(const std::string& tableName) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : impl_->messages) {
    std::string name;
    if (!m.hasTable || !m.message.GetText("TableName", &name) || name != tableName) continue;
    for (const auto& row : m.table.rows) rows.push_back(testsupport::RowTexts(row));
  }
  return rows;
}

bool StandInServer::WaitUntil(const std::function<bool(const View&)>& done, std::chrono::milliseconds timeout) const {
  Impl& d = *impl_;
  std::unique_lock<std::mutex> lock(d.mu);
  return d.changed.wait_for(lock, timeout, [&] {
    View v{d.handshakes, d.messages, d.closes, d.opened - d.closes.size(), d.opened};
    return done(v);
  });
}

bool StandInServer::WaitForMessages(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([count](const View& v) { return v.messages.size() >= count; }, timeout);
}

bool StandInServer::WaitForOpened(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([count](const View& v) { return v.opened >= count; }, timeout);
}

bool StandInServer::WaitForCloses(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([count](const View& v) { return v.closes.size() >= count; }, timeout);
}

}  // namespace standin
