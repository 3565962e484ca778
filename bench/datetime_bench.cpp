// Date-time text speed against the C library.
//
// Parse: an ISO date-time text ("2024-05-06 07:08:09") to nanoseconds since 1970, by
// DetectDatetime (which also finds the layout) + ToDatetime64_ns, against strptime with the
// layout given + timegm. Format: nanoseconds to the same text, by FromDatetime64_ns +
// DatetimeToString, against gmtime_r + strftime (both give a std::string). The program ends
// with the ratio of each case to its anchor (below 1: faster than the C library).
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"
#include "table/IO_Datetimes.h"

using namespace IO_Datetimes;

namespace {

constexpr int64_t kNs = 1000000000;

// Whole-second instants between 1970 and 2100, so both sides can represent them.
const std::vector<int64_t>& Instants() {
  static std::vector<int64_t> instants = [] {
    std::mt19937_64 random(42);
    std::vector<int64_t> v(4096);
    for (auto& ns : v) ns = int64_t(random() % 4102444800ULL) * kNs;
    return v;
  }();
  return instants;
}

const std::vector<std::string>& Texts() {
  static std::vector<std::string> texts = [] {
    std::vector<std::string> v;
    char text[32];
    for (int64_t ns : Instants()) {
      std::time_t seconds = std::time_t(ns / kNs);
      std::tm tm;
      gmtime_r(&seconds, &tm);
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
      v.push_back(text);
    }
    return v;
  }();
  return texts;
}

void BM_ParseDetect(benchmark::State& state) {
  const auto& texts = Texts();
  DatetimeParser parser;
  int64_t sum = 0;
  for (auto _ : state) {
    for (const std::string& text : texts) {
      int consumed;
      int64_t ns = 0;
      if (parser.DetectDatetime(text.data(), text.size(), consumed)) parser.dt.ToDatetime64_ns(ns);
      sum += ns;
    }
  }
  benchmark::DoNotOptimize(sum);
  PerUnit(state, "ns_per_text", double(texts.size()));
}

void BM_ParseStrptimeTimegm(benchmark::State& state) {
  const auto& texts = Texts();
  int64_t sum = 0;
  for (auto _ : state) {
    for (const std::string& text : texts) {
      std::tm tm{};
      int64_t ns = 0;
      if (strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) ns = int64_t(timegm(&tm)) * kNs;
      sum += ns;
    }
  }
  benchmark::DoNotOptimize(sum);
  PerUnit(state, "ns_per_text", double(texts.size()));
}

void BM_FormatSpec(benchmark::State& state) {
  const auto& instants = Instants();
  DateTimeSpec format;
  format.Set("yyyy-mm-dd HH:mm:ss");
  size_t length = 0;
  for (auto _ : state) {
    for (int64_t ns : instants) {
      DateTime t;
      t.FromDatetime64_ns(ns);
      std::string text = format.DatetimeToString(t);
      length += text.size();
    }
  }
  benchmark::DoNotOptimize(length);
  PerUnit(state, "ns_per_text", double(instants.size()));
}

void BM_FormatGmtimeStrftime(benchmark::State& state) {
  const auto& instants = Instants();
  size_t length = 0;
  for (auto _ : state) {
    for (int64_t ns : instants) {
      std::time_t seconds = std::time_t(ns / kNs);
      std::tm tm;
      gmtime_r(&seconds, &tm);
      char buffer[32];
      std::string text(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm));
      length += text.size();
    }
  }
  benchmark::DoNotOptimize(length);
  PerUnit(state, "ns_per_text", double(instants.size()));
}

BENCHMARK(BM_ParseDetect);
BENCHMARK(BM_ParseStrptimeTimegm);
BENCHMARK(BM_FormatSpec);
BENCHMARK(BM_FormatGmtimeStrftime);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_text", "text",
                         {{"BM_ParseDetect", "BM_ParseStrptimeTimegm"},
                          {"BM_FormatSpec", "BM_FormatGmtimeStrftime"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
