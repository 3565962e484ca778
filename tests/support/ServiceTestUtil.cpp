#include "support/ServiceTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/LogManager.h"
#include "support/FileBytes.h"
#include "support/WireEncoder.h"

namespace servicetest {

void WriteTargetFile(const std::string& root, const std::string& alias,
                     const std::string& database, const std::string& name,
                     const testsupport::WireTable& table) {
  std::filesystem::path dir = std::filesystem::path(root) / ("OSTREL." + alias) / database;
  std::filesystem::create_directories(dir);
  testsupport::WriteFileBytes((dir / (name + ".ostrel")).string(),
                              testsupport::TableImage(table).Image());
}

testsupport::WireTable Schema(const std::vector<std::string>& names,
                              const std::vector<int32_t>& types) {
  testsupport::WireTable t;
  t.name = "schema";
  t.colNames = names;
  t.colTypes = types;
  for (int32_t type : types) t.colSizes.push_back(type == 6 ? 255 : 0);
  return t;
}

TvxClient::FrameSink FrameLog::Sink() {
  return [this](bool binary, uint64_t size, const TvxClient::FrameFill& fill, std::string* err) {
    EXPECT_TRUE(binary);
    if (result != TvxClient::FrameResult::kSent) {
      *err = error;
      return result;
    }
    std::string payload(size, '\0');
    fill(payload.data());
    std::lock_guard<std::mutex> lock(mutex_);
    payloads_.push_back(std::move(payload));
    return result;
  };
}

std::vector<std::string> FrameLog::Payloads() {
  std::lock_guard<std::mutex> lock(mutex_);
  return payloads_;
}

size_t FrameLog::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return payloads_.size();
}

testsupport::WireContainer FrameLog::Decoded(size_t i) {
  testsupport::WireContainer c;
  std::vector<std::string> all = Payloads();
  if (i >= all.size()) {
    ADD_FAILURE() << "no frame " << i;
    return c;
  }
  std::string error;
  EXPECT_TRUE(testsupport::DecodeMessage(all[i], &c, &error)) << error;
  return c;
}

std::vector<std::string> Keys(const testsupport::WireContainer& c) {
  std::vector<std::string> keys;
  for (const auto& r : c.records) keys.push_back(r.key);
  return keys;
}

LogCapture::LogCapture(const std::string& dir) {
  EXPECT_TRUE(LogManager::Global.Init(dir, "test.log", 'w'));
}

LogCapture::~LogCapture() { LogManager::Global.Close(); }

std::string LogCapture::Text() { return LogManager::Global.GetLogString(); }

}  // namespace servicetest
