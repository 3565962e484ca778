#pragma once

// DefaultStream: the producer of stream type "DEFAULT". It replays rows of a sample table
// file into the target of the stream's first route: once per sample period one row, in row
// order or at random, goes to the target as texts (TvxClient::UpdateTarget); after `reset
// count` samples the target is reset (the data server gets the clear message) and the count
// starts again. Each sample takes its row from the sample file as it stands: the image read
// last is kept while the file is unchanged (SampleImage), and a file replaced or rewritten
// between samples is read again and replayed in its new form.
//
// Keys, from the INPUT of route 0 (JSON strings): "SAMPLE_OSTREL" (required, the sample
// file), "SAMPLE_RATE" (period in ms, default 5, at most kMaxSampleRate), "RESET_COUNT"
// (default 0), "METHOD" ("ORDERED" for row order, anything else random).
//
// Console words beside the base ones: "s" one sample now, "-" a period 5 ms longer, "+" 5 ms
// shorter (never below 1 ms); "r" resets route 0 only.
//
// Threading: Run on the stream's thread, RunTerminal on its console thread, Quit from any
// thread. The generator is used only under `mutex` (ExecSample's callers hold it), and so
// is every reset; the counter and the rate are atomic.

#include <atomic>
#include <cstdint>
#include <random>
#include <string>

#include "service/StreamBase.h"
#include "foundation/LogThrottle.h"
#include "streams/SampleImage.h"

class DefaultStream : public virtual StreamBase {
 public:
  // Longest sample period accepted (one day): a longer or negative SAMPLE_RATE text (which
  // converts to a huge unsigned number) is clamped to it, so the deadline cannot overflow.
  static constexpr uint64_t kMaxSampleRate = 24ull * 3600 * 1000;
  static constexpr uint64_t kRateStep = 5;  // ms per "+" or "-"

  DefaultStream(const std::string& name, StreamDef* def);
  ~DefaultStream() override;

  // Reads the keys, checks that the sample file holds a table with rows, registers the
  // targets of every route and seeds the generator. True sets ready; false after one log
  // line.
  bool Init() override;
  // Starts the console, then runs one period per sample rate until quit is set.
  void Run() override;
  StreamBase* GetSelf() override;
  void RunTerminal() override;
  // Sets the sample counter to 0, then resets the route's target.
  void ExecReset(int32_t route) override;

  // One period's work (without the wait): unless paused, a sample while the counter is
  // below the reset count, else a reset of route 0 with the counter back to 0. Takes the
  // mutex.
  void RunPeriod();
  // Takes one sample: sends the chosen row of the sample file (read again only when it
  // changed) to the target of route 0 (nothing when the file does not load or the row is
  // not in it, logged at most once per second), and advances the counter in every case.
  // Caller holds `mutex`.
  void ExecSample();

  // Logs "New Sample Rate: <1000 / rate>FPS".
  void LogSampleRate() const;

  std::mt19937 generator;
  std::uniform_int_distribution<uint64_t> rowDistribution{0, UINT64_MAX};
  std::string samplePath;
  uint64_t resetCount = 0;
  std::atomic<uint64_t> sampleCounter{0};
  std::atomic<uint64_t> sampleRate{5};  // ms
  int32_t method = 0;                   // 1 ordered, 0 random
  SampleImage sample;                   // the sample file as last read; under `mutex`

 private:
  bool ReadKeys();

  LogThrottle sampleFailureLog{std::chrono::seconds(1)};
};
