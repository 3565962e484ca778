#include "streams/DefaultStream.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"

namespace {

constexpr const char* kSampleKey = "SAMPLE_OSTREL";

// Longest single wait: Quit sets the flag without the mutex, so a wake-up can slip in
// between the test of the flag and the wait; waking this often bounds what that costs.
constexpr std::chrono::milliseconds kWaitSlice(100);

// Unsigned decimal like strtoull base 10 (blanks and a sign accepted, no digits gives 0).
uint64_t ToUnsigned(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

}  // namespace

DefaultStream::DefaultStream(const std::string& name, StreamDef* def) : StreamBase(name, def) {}

DefaultStream::~DefaultStream() {
  // The console runs this class's RunTerminal: it must end before the members go.
  Quit();
  JoinThreads();
}

StreamBase* DefaultStream::GetSelf() { return this; }

bool DefaultStream::ReadKeys() {
  const std::string failed = "Failed to initialize " + name + " - ";
  switch (FindInput(0, kSampleKey, samplePath)) {
    case Lookup::kFound:
      break;
    case Lookup::kMissing:
      LogManager::Global << failed + "missing INPUT field \"" + kSampleKey + "\"";
      return false;
    case Lookup::kNotString:
      LogManager::Global << failed + "invalid INPUT field \"" + kSampleKey + "\"";
      return false;
  }
  std::string text;
  sampleRate = 5;
  if (FindInput(0, "SAMPLE_RATE", text) == Lookup::kFound) {
    sampleRate = std::min(ToUnsigned(text), kMaxSampleRate);
  }
  resetCount = 0;
  text.clear();
  if (FindInput(0, "RESET_COUNT", text) == Lookup::kFound && !text.empty()) resetCount = ToUnsigned(text);
  method = 0;
  text.clear();
  if (FindInput(0, "METHOD", text) == Lookup::kFound && text == "ORDERED") method = 1;
  return true;
}

bool DefaultStream::Init() {
  LogManager::Global << "Initializing Default Stream: " + name;
  if (RouteCount() == 0 || !ReadKeys()) return false;
  const std::string failed = "Failed to initialize " + name + " - ";
  int64_t rows = 0;
  {
    SampleImage probe;  // released here: the samples read the file again
    const MiniFrad* table = probe.Load(samplePath);
    if (table == nullptr) {
      LogManager::Global << failed + "could not load the sample Ostrel";
      return false;
    }
    rows = table->NbRows;
  }
  if (rows <= 0) {
    LogManager::Global << failed + "sample Ostrel has no data";
    return false;
  }
  if (method == 1) resetCount = static_cast<uint64_t>(rows);
  if (!InitTargets()) return false;
  generator.seed(static_cast<uint32_t>(std::time(nullptr)));
  rowDistribution = std::uniform_int_distribution<uint64_t>(0, static_cast<uint64_t>(rows) - 1);
  ready = true;
  return true;
}

void DefaultStream::ExecSample() {
  const uint64_t row = method == 1 ? sampleCounter.load() : rowDistribution(generator);
  const MiniFrad* table = sample.Load(samplePath);
  if (table == nullptr) {
    uint64_t folded = 0;
    if (sampleFailureLog.Due(&folded)) {
      LogManager::Global << "Failed to load the sample Ostrel of " + name + ": " + samplePath +
                                LogThrottle::Folded(folded);
    }
  } else if (row < static_cast<uint64_t>(table->NbRows)) {
    std::vector<std::string> texts(static_cast<size_t>(table->NbCols));
    for (int64_t c = 0; c < table->NbCols; ++c) table->ToString(c, static_cast<int64_t>(row), texts[c]);
    const RouteDef& route = definition->routes[0];
    WSOCK->UpdateTarget(route.alias, route.dbName, route.tableName, texts);
  }
  ++sampleCounter;
}

void DefaultStream::RunPeriod() {
  std::lock_guard<std::mutex> lock(mutex);
  if (paused) return;
  if (resetCount > sampleCounter) {
    ExecSample();
  } else {
    ExecReset(0);
  }
}

void DefaultStream::Run() {
  LogManager::Global << "Running Default Stream: " + name;
  StartConsole();
  while (!quit) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sampleRate.load());
      for (auto now = std::chrono::steady_clock::now(); !quit && now < deadline;
           now = std::chrono::steady_clock::now()) {
        signal.wait_until(lock, std::min(deadline, now + kWaitSlice));
      }
      if (quit) break;
    }
    RunPeriod();
  }
  LogManager::Global << "Exiting Default Stream: " + name;
}

void DefaultStream::ExecReset(int32_t route) {
  sampleCounter = 0;
  StreamBase::ExecReset(route);
}

void DefaultStream::LogSampleRate() const {
  const uint64_t rate = std::max<uint64_t>(sampleRate.load(), 1);
  LogManager::Global << "New Sample Rate: " + std::to_string(1000 / rate) + "FPS";
}

void DefaultStream::RunTerminal() {
  RunConsole([this](char word) {
    switch (word) {
      case 's': {
        std::lock_guard<std::mutex> lock(mutex);
        ExecSample();
        break;
      }
      case 'r': {
        // Not between a sample's read of the counter and its row: that row of the old cycle
        // would follow the clear, and the new cycle would miss its first row.
        std::lock_guard<std::mutex> lock(mutex);
        ExecReset(0);
        break;
      }
      case '-':
        sampleRate = std::min(sampleRate + kRateStep, kMaxSampleRate);
        LogSampleRate();
        break;
      case '+':
        sampleRate = std::max<uint64_t>(sampleRate, kRateStep + 1) - kRateStep;
        LogSampleRate();
        break;
      default:
        break;
    }
  });
}
