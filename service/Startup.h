#pragma once

// Start-up and the restart loop of the service: log directory and file, banner, client
// (configuration and streams), worker pool, connection, update cycle and shutdown, run
// again from the start with a new log file when an exception of the WebSocket library
// ends a pass. The binary runs it with the fixed places of FixedPaths; tests give their
// own directories, port and pause.
//
// Threading: main thread only; it publishes WSOCK and TPOOL for the pass and clears them
// when the pass ends.

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "service/FixedPaths.h"

namespace Startup {

struct Options {
  std::string logDir = FixedPaths::kLogDir;
  std::string configPath = FixedPaths::kConfigFile;
  std::string dataDir = FixedPaths::kDataDir;
  std::string host = FixedPaths::kServerHost;
  int32_t port = FixedPaths::kServerPort;
  // Pause between a pass ended by a WebSocket library exception and the next.
  std::chrono::milliseconds restartPause{1000};
  unsigned hardwareThreads = std::thread::hardware_concurrency();
};

// "3.5.20251016".
std::string Version();

// Workers requested from the pool for h hardware threads: 1 for 1 to 4, 2 for 5, 3 for 6
// and more and for a reported 0 (the pool lowers the request to h - 1).
unsigned char PoolRequest(unsigned hardwareThreads);

// The log file name of a pass started now: "TolvexServerAPI_" + %y%m%d%H%M%S + ".log", with
// "_1", "_2", ... before ".log" when a file of that name already is in `logDir`, so that
// a pass never truncates an earlier log.
std::string LogFileName(const std::string& logDir);

// Runs passes until one ends other than by a WebSocket library exception; returns the
// process exit code: 0 after a normal shutdown and after "Unable to start Tolvex Server
// API", -1 when the log directory or file is unusable or the configuration fails. Any
// other exception propagates.
int Run(const std::string& programPath, const Options& options);

}  // namespace Startup
