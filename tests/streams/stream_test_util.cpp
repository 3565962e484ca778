#include "stream_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

namespace streamtest {

std::string Route(const std::string& table, const std::string& input) {
  return std::string("{") + (input.empty() ? "" : R"("INPUT":)" + input + ",") +
         R"("TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":")" + table +
         R"("},"LOGIC":{"ACTION":"UPSERT","KEY":""}})";
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

StreamFixture::StreamFixture() {
  client.tableRoot = dir.Path();
  client.frameSink = frames.Sink();
  TvxClient::Status = TvxClient::kOpen;
  WSOCK = &client;
}

StreamFixture::~StreamFixture() {
  WSOCK = nullptr;
  TvxClient::Status = TvxClient::kNotStarted;
}

StreamDef* StreamFixture::Scan(const std::string& type, const std::string& metadata,
                               const std::string& routes) {
  const std::string json =
      R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
      R"("WEBSERVER_ADDRESS":"localhost","UPDATE_RATE":"100"},"Stream List":[)"
      R"({"NAME":"S","TYPE":")" + type + R"(","STATUS":"ON",)" +
      (metadata.empty() ? "" : R"("METADATA":)" + metadata + ",") + R"("ROUTES":[)" + routes + "]}]}";
  std::ofstream(dir.File("apiconfig.json")) << json;
  EXPECT_TRUE(config.ScanConfig(dir.File("apiconfig.json"))) << log.Text();
  return &config.streams.at("S");
}

void StreamFixture::WriteTarget(const std::string& table, const std::vector<std::string>& names,
                                const std::vector<int32_t>& types) {
  servicetest::WriteTargetFile(dir.Path(), "al", "db", table, servicetest::Schema(names, types));
}

std::vector<std::vector<std::string>> StreamFixture::TargetRows(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  TargetData* target = client.GetTarget("al", "db", table);
  if (target == nullptr) return rows;
  std::lock_guard<std::mutex> lock(target->mutex);
  for (int64_t r = 0; r < target->frad.NbRows; ++r) {
    std::vector<std::string> row(static_cast<size_t>(target->frad.NbCols));
    for (int64_t c = 0; c < target->frad.NbCols; ++c) target->frad.ToString(c, r, row[c]);
    rows.push_back(std::move(row));
  }
  return rows;
}

int64_t StreamFixture::RowCount(const std::string& table) {
  TargetData* target = client.GetTarget("al", "db", table);
  if (target == nullptr) return -1;
  std::lock_guard<std::mutex> lock(target->mutex);
  return target->frad.NbRows;
}

std::vector<std::string> StreamFixture::ClearedTables() {
  std::vector<std::string> tables;
  for (size_t i = 0; i < frames.Count(); ++i) {
    testsupport::WireContainer c = frames.Decoded(i);
    std::string event, table;
    c.GetText("Event", &event);
    c.GetText("TableName", &table);
    if (event == "CLEAR") tables.push_back(table);
  }
  return tables;
}

size_t StreamFixture::LogCount(const std::string& text) {
  const std::string all = log.Text();
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
  return n;
}

}  // namespace streamtest
