#pragma once

// Helpers for the service and stream tests: the data server's table files written by the
// independent encoder, the frames a client hands to its link, and a look at the process log.

#include <mutex>
#include <string>
#include <vector>

#include "service/TvxClient.h"
#include "support/WireDecoder.h"

namespace servicetest {

// Writes `table` (by testsupport::TableImage) as the data server's table file of the target
// alias/database/name under root, creating the directories.
void WriteTargetFile(const std::string& root, const std::string& alias,
                     const std::string& database, const std::string& name,
                     const testsupport::WireTable& table);

// A table schema without rows.
testsupport::WireTable Schema(const std::vector<std::string>& names,
                              const std::vector<int32_t>& types);

// Collects the frames a client sends. Install with `client.frameSink = frames.Sink()`.
// `result` is what the sink answers (after recording the frame when it is kSent).
class FrameLog {
 public:
  TvxClient::FrameSink Sink();
  std::vector<std::string> Payloads();
  size_t Count();
  // Decodes payload i; fails the calling test when it does not decode.
  testsupport::WireContainer Decoded(size_t i);

  TvxClient::FrameResult result = TvxClient::FrameResult::kSent;
  std::string error = "broken pipe";

 private:
  std::mutex mutex_;
  std::vector<std::string> payloads_;
};

// The record keys of a container, in image order.
std::vector<std::string> Keys(const testsupport::WireContainer& c);

// Opens the process log as a fresh file in `dir` and returns an object whose Text() gives
// what has been logged since.
class LogCapture {
 public:
  explicit LogCapture(const std::string& dir);
  ~LogCapture();
  std::string Text();
};

}  // namespace servicetest
