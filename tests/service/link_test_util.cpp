#include "link_test_util.h"

#include <gtest/gtest.h>

#include <random>

#include <websocketpp/error.hpp>

#include "service/StreamRegistry.h"
#include "table/MiniFrad.h"

namespace linktest {

namespace {

constexpr int32_t kBigInt = 3, kText = 6;
constexpr char kAlias[] = "api", kDatabase[] = "live";

// NumberedStream that asks the service to quit once it produced its METADATA QUIT_AFTER.
class QuittingStream : public NumberedStream {
 public:
  using NumberedStream::NumberedStream;
  bool Init() override {
    std::string text;
    if (ReadMetadata("QUIT_AFTER", text)) quitAfter = std::stoll(text);
    return NumberedStream::Init();
  }
  void Run() override {
    while (!quit && (quitAfter < 0 || produced < quitAfter)) {
      WSOCK->UpdateTarget(kAlias, kDatabase, name, {std::to_string(produced.load()), "row"});
      ++produced;
      std::unique_lock<std::mutex> lock(mutex);
      signal.wait_for(lock, period);
    }
    if (!quit) WSOCK->SignalDone();
  }
  int64_t quitAfter = -1;
};

class FailingStream : public StreamBase {
 public:
  using StreamBase::StreamBase;
  bool Init() override { return false; }
  void Run() override {}
};

class ThrowingStream : public QuittingStream {
 public:
  using QuittingStream::QuittingStream;
  bool Init() override {
    static std::atomic<bool> thrown{false};
    if (!thrown.exchange(true)) throw websocketpp::exception("provoked by a test stream");
    quitAfter = 3;
    return NumberedStream::Init();
  }
};

}  // namespace

NumberedStream::NumberedStream(std::string name, StreamDef* def, std::chrono::milliseconds period)
    : StreamBase(std::move(name), def), period(period) {}

bool NumberedStream::Init() {
  MiniFrad table;
  table.New(name);
  if (!table.Set(0, {"n", "text"}, {kBigInt, kText}, {0, static_cast<int32_t>(textBytes)})) return false;
  if (!WSOCK->NewTarget(kAlias, kDatabase, name, "UPSERT", "n", std::move(table))) return false;
  ready = true;
  return true;
}

void NumberedStream::Run() {
  std::mt19937 random(static_cast<uint32_t>(textBytes));
  std::string text = "row";
  while (!quit) {
    if (!stopAppending) {
      if (textBytes > 0) {
        text.resize(textBytes);
        for (char& c : text) c = static_cast<char>('A' + random() % 58);
      }
      WSOCK->UpdateTarget(kAlias, kDatabase, name, {std::to_string(produced.load()), text});
      ++produced;
    }
    std::unique_lock<std::mutex> lock(mutex);
    signal.wait_for(lock, period);
  }
}

void RegisterTestKinds() {
  using std::chrono::milliseconds;
  StreamRegistry::Register("NUMBERED", [](const std::string& name, StreamDef* def) {
    return new QuittingStream(name, def, milliseconds(10));
  });
  StreamRegistry::Register("FAILING", [](const std::string& name, StreamDef* def) {
    return new FailingStream(name, def);
  });
  StreamRegistry::Register("THROWING", [](const std::string& name, StreamDef* def) {
    return new ThrowingStream(name, def, milliseconds(10));
  });
}

std::string ConfigText(const std::vector<std::pair<std::string, std::string>>& streams,
                       const std::string& rate, const std::string& metadata) {
  std::string list;
  for (const auto& [name, type] : streams) {
    if (!list.empty()) list += ",";
    list += R"({"NAME":")" + name + R"(","TYPE":")" + type + R"(","STATUS":"ON","METADATA":{)" +
            metadata + R"(},"ROUTES":[{"TARGET":{"ALIAS":"api","DATABASE_NAME":"live","TABLE_NAME":")" +
            name + R"("},"LOGIC":{"ACTION":"UPSERT","KEY":"n"}}]})";
  }
  return R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
         R"("WEBSERVER_ADDRESS":"127.0.0.1","UPDATE_RATE":")" +
         rate + R"("},"Stream List":[)" + list + "]}";
}

LinkedClient::LinkedClient() : client(std::make_unique<TvxClient>()) {
  std::string error;
  EXPECT_TRUE(server.Start(0, &error)) << error;
  client->reconnectGap = std::chrono::milliseconds(300);
  ConfigParser::Global.updateRate = 20;
  TvxClient::RestartTimer = std::chrono::steady_clock::now();
  WSOCK = client.get();
}

LinkedClient::~LinkedClient() {
  if (runner.joinable()) StopRun();
  client.reset();
  WSOCK = nullptr;
  TvxClient::Status = TvxClient::kNotStarted;
}

bool LinkedClient::Connect() { return client->Init("127.0.0.1", server.Port()); }

void LinkedClient::StartRun() {
  runner = std::thread([this] { client->Run(); });
}

void LinkedClient::StopRun() {
  client->SignalDone();
  runner.join();
}

StreamDef* NewDef(std::vector<std::unique_ptr<StreamDef>>& owner, const std::string& name) {
  owner.push_back(std::make_unique<StreamDef>());
  owner.back()->name = name;
  owner.back()->type = "TEST";
  owner.back()->active = true;
  return owner.back().get();
}

std::vector<int64_t> ReceivedNumbers(const standin::StandInServer& server, const std::string& table) {
  std::vector<int64_t> numbers;
  for (const auto& row : server.RowsOf(table)) numbers.push_back(std::stoll(row.at(0)));
  return numbers;
}

}  // namespace linktest
