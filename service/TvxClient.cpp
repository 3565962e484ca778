#include "service/TvxClient.h"

#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/StreamRegistry.h"
#include "service/TargetData.h"

std::atomic<int32_t> TvxClient::Status{TvxClient::kNotStarted};
std::atomic<int32_t> TvxClient::NbTriesLeft{0};
bool TvxClient::IsRestart = false;
std::chrono::steady_clock::time_point TvxClient::RestartTimer = std::chrono::steady_clock::now();
const std::string TvxClient::BSPrefix = "BS=";

TvxClient* WSOCK = nullptr;

TvxClient::TvxClient(const std::string& configPath, const std::string& dataDir,
                     const std::string& programPath)
    : programPath(programPath), dataDir(dataDir) {
  if (!ConfigParser::Global.ScanConfig(configPath)) return;
  for (auto& entry : ConfigParser::Global.streams) {
    StreamDef& def = entry.second;
    if (!def.active) continue;
    StreamBase* stream = StreamRegistry::Create(def.type, def.name, &def);
    if (stream != nullptr) streams.push_back(stream);
  }
  initialised = true;
}

TvxClient::~TvxClient() {
  if (!done) SignalDone();
  // The link goes before anything else: its network thread hands replies to the pool and
  // reaches the targets.
  if (networkThread && networkThread->joinable()) Quit();
  for (std::thread& t : streamThreads) {
    if (t.joinable()) t.join();
  }
  // Every console first: a console still running could reach a deleted stream or target.
  for (StreamBase* stream : streams) stream->JoinThreads();
  for (auto& entry : targets) delete entry.second;
  targets.clear();
  for (StreamBase* stream : streams) delete stream;
}

void TvxClient::SignalDone() {
  std::lock_guard<std::mutex> lock(signalMutex);
  if (done) return;
  for (StreamBase* stream : streams) stream->Quit();
  done = true;
  updateSignal.notify_all();
}
