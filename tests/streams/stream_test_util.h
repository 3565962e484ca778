#pragma once

// A client and a scanned configuration for producer tests: the client has no link (its
// sends go to a FrameLog), its target tables live in a temporary directory, and the
// process log goes to a temporary file.

#include <mutex>
#include <string>
#include <vector>

#include "service/ConfigParser.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"

namespace streamtest {

// One route's JSON: target al/db/<table>, action UPSERT, no key, INPUT as given (none when
// empty).
std::string Route(const std::string& table, const std::string& input);

// A JSON string literal of `text` (quotes and backslashes escaped).
std::string Quote(const std::string& text);

class StreamFixture {
 public:
  StreamFixture();
  ~StreamFixture();

  // Scans a configuration holding one stream "S" of `type` and returns its definition.
  StreamDef* Scan(const std::string& type, const std::string& metadata, const std::string& routes);
  // The data server's table file of target al/db/<table>.
  void WriteTarget(const std::string& table, const std::vector<std::string>& names,
                   const std::vector<int32_t>& types);

  // The rows of target al/db/<table> as texts, read under its lock.
  std::vector<std::vector<std::string>> TargetRows(const std::string& table);
  int64_t RowCount(const std::string& table);
  // Events ("CLEAR") and table names of the frames sent so far.
  std::vector<std::string> ClearedTables();
  // Occurrences of `text` in the log.
  size_t LogCount(const std::string& text);

  testsupport::TempDir dir;
  testsupport::TempDir logDir;
  servicetest::LogCapture log{logDir.Path()};
  ConfigParser config;
  servicetest::FrameLog frames;
  TvxClient client;
};

}  // namespace streamtest
