// tvx_wsprobe: connects to 127.0.0.1, sends table updates of numbered rows, waits for a
// number of replies, closes with code 1001 and prints what happened, one line each:
//   open compressed=true
//   sent <table> <rows>
//   reply {"Func":"API","MSID":"m1"}
//   closed
// Exit code 0 when everything asked for happened, 1 otherwise.
//
// Usage: tvx_wsprobe [--port N] [--plain] [--path P] [--rows TABLE:N]... [--replies N]
//   --port N      server port (9002 by default)
//   --plain       do not offer permessage-deflate
//   --rows T:N    send one update of table T with the rows 0..N-1 (columns id INT, label TEXT)
//   --replies N   wait up to 10 s for N replies before closing

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "support/WireEncoder.h"
#include "support/WsTestClient.h"
#include "tools/standin/StandInReport.h"

namespace {

using namespace std::chrono_literals;

std::string Update(const std::string& table, int rows) {
  testsupport::WireTable t;
  t.colNames = {"id", "label"};
  t.colTypes = {2, 6};
  for (int i = 0; i < rows; ++i) t.rows.push_back({int64_t{i}, "row " + std::to_string(i)});
  return testsupport::WireImage()
      .Text("Func", "API").Text("DBAlias", "probe").Text("DBName", "probe").Text("TableName", table)
      .Text("Event", "UPSERT").Int32("KeyIndex", 0).Nested("Data", testsupport::TableImage(t)).Message();
}

}  // namespace

int main(int argc, char** argv) {
  int port = 9002;
  size_t replies = 0;
  testsupport::WsTestClient::Options options;
  std::vector<std::pair<std::string, int>> updates;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
    size_t colon = value.rfind(':');
    if (arg == "--plain") {
      options.deflate = false;
      continue;
    }
    if (arg == "--port" && !value.empty()) port = std::atoi(value.c_str());
    else if (arg == "--path" && !value.empty()) options.path = value;
    else if (arg == "--replies" && !value.empty()) replies = std::strtoul(value.c_str(), nullptr, 10);
    else if (arg == "--rows" && colon != std::string::npos) updates.emplace_back(value.substr(0, colon), std::atoi(value.c_str() + colon + 1));
    else {
      std::cerr << "usage: tvx_wsprobe [--port N] [--plain] [--path P] [--rows TABLE:N]... [--replies N]\n";
      return 2;
    }
    ++i;
  }

  testsupport::WsTestClient client(options);
  std::string error;
  if (!client.Connect(static_cast<uint16_t>(port), 5s, &error)) {
    std::cout << "failed " << error << std::endl;
    return 1;
  }
  std::cout << "open compressed=" << (client.Compressed() ? "true" : "false") << std::endl;
  for (const auto& [table, rows] : updates) {
    if (!client.Send(Update(table, rows))) return 1;
    std::cout << "sent " << table << " " << rows << std::endl;
  }
  bool gotAll = client.WaitForReceived(replies, 10s);
  for (const auto& payload : client.Received()) {
    testsupport::WireContainer m;
    std::string why;
    if (testsupport::DecodeMessage(payload, &m, &why)) std::cout << "reply " << standin::ContainerJson(m) << std::endl;
    else std::cout << "bad-reply " << why << std::endl;
  }
  bool closed = client.Close(1001, "", 5s);
  std::cout << (closed ? "closed" : "close timed out") << std::endl;
  return gotAll && closed ? 0 : 1;
}
