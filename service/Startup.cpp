#include "service/Startup.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <websocketpp/error.hpp>

#include "foundation/LogManager.h"
#include "foundation/ch_ThreadPool.h"
#include "service/TvxClient.h"

namespace fs = std::filesystem;

namespace Startup {

namespace {

constexpr int kExitFailure = -1;
constexpr int kExitNormal = 0;

// The objects of one pass, destroyed in the order the pass needs: the link closes (its
// network thread hands replies to the pool) before the pool goes, the pool before the
// client. Clears the published pointers with them.
struct Pass {
  std::unique_ptr<TvxClient> client;
  std::unique_ptr<ch_ThreadPool> pool;

  ~Pass() {
    if (client) client->Quit();
    SetTPOOL(nullptr);
    pool.reset();
    client.reset();
    WSOCK = nullptr;
  }
};

// Opens the pass's log: -1 after printing why, 0 when open.
int OpenLog(const std::string& logDir) {
  std::error_code ec;
  if (!fs::is_directory(logDir, ec) && !fs::create_directory(logDir, ec)) {
    std::printf("Failed to create directory: %s\n", logDir.c_str());
    return kExitFailure;
  }
  if (!LogManager::Global.Init(logDir, LogFileName(logDir), 'w')) {
    std::printf("Failed to initialize log\n");
    return kExitFailure;
  }
  return kExitNormal;
}

// Steps after the banner; a WebSocket library exception leaves through the caller.
int RunPassBody(const std::string& programPath, const Options& options, Pass& pass) {
  pass.client = std::make_unique<TvxClient>(options.configPath, options.dataDir, programPath);
  WSOCK = pass.client.get();
  if (!pass.client->initialised) {
    LogManager::Global << "Failed to setup Tolvex Server API Config";
    LogManager::Global << "Tolvex Server API CLOSED";
    return kExitFailure;
  }
  pass.pool = std::make_unique<ch_ThreadPool>(PoolRequest(options.hardwareThreads), options.hardwareThreads);
  SetTPOOL(pass.pool.get());
  if (pass.client->Init(options.host, options.port)) {
    pass.client->Run();
  } else {
    LogManager::Global << "Unable to start Tolvex Server API";
    pass.client->SignalDone();
  }
  pass.pool->JoinThreads();
  LogManager::Global << "Tolvex Server API CLOSED";
  return kExitNormal;
}

}  // namespace

std::string Version() { return "3.5.20251016"; }

unsigned char PoolRequest(unsigned hardwareThreads) {
  if (hardwareThreads - 1u <= 3u) return 1;  // unsigned: a reported 0 wraps and gives 3
  // Bounded before it is narrowed, so that no count of threads gives 0 workers.
  const unsigned request = hardwareThreads - 3u;
  return static_cast<unsigned char>(request > 3u ? 3u : request);
}

std::string LogFileName(const std::string& logDir) {
  const std::string stem = "TolvexServerAPI_" + LogManager::FileTimeStamp();
  std::string name = stem + ".log";
  std::error_code ec;
  for (int n = 1; fs::exists(fs::path(logDir) / name, ec); ++n) {
    name = stem + "_" + std::to_string(n) + ".log";
  }
  return name;
}

int Run(const std::string& programPath, const Options& options) {
  for (;;) {
    if (OpenLog(options.logDir) != kExitNormal) return kExitFailure;
    LogManager::Global << "Tolvex Server API Version " + Version() + " BOOT UP";
    LogManager::Global <<= programPath;
    LogManager::TShowThread = true;
    std::string failure;
    {
      Pass pass;
      try {
        return RunPassBody(programPath, options, pass);
      } catch (const websocketpp::exception& e) {
        failure = e.what();
      }
    }  // the pass's objects are gone before the failure is logged
    LogManager::Global << "Tolvex Server API websocket exception: " + failure;
    std::this_thread::sleep_for(options.restartPause);
  }
}

}  // namespace Startup
