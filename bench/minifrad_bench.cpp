// Column-table throughput.
//
// AddRow: a typical row (2 INT, 2 BIG INT, 4 doubles, texts, a date-time) appended one at a
// time to an empty heap table until it holds 1,000, 10,000, 100,000 or 500,000 rows, with 1, 2
// or 4 text columns, against the floor of parsing the same texts alone (same rows, same run).
// Appending must stay flat: the 500,000-row case is also reported against the 1,000-row one.
// TrimOldest: a 500,000-row table that drops its oldest rows as new ones come, against
// appending the same rows to a fresh table. AddRowFile: the same rows appended to a
// file-backed table (its blocks in two memory-mapped files, under /var/tmp or the directory
// given as TVX_BENCH_DIR) until it holds 10,000 or 80,000 rows, against the heap table; every
// append grows both files, so the 80,000-row case is also reported against the 10,000-row
// one. ToByteStream of 10,000 and 100,000 rows, against a memcpy of the two blocks.
// Every case reports ns per row; the program ends with the ratio of each case to its anchor.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchDir.h"
#include "bench/RatioReporter.h"
#include "record/ByteStream.h"
#include "table/IO_Datetimes.h"
#include "table/MiniFrad.h"
#include "table/NumberText.h"

namespace {

constexpr int kNumbers = 8;  // the number columns lead every row; the date-time ends it

// Names and types of the row with `texts` text columns (1, 2 or 4).
std::pair<std::vector<std::string>, std::vector<int32_t>> Schema(int texts) {
  std::vector<std::string> names = {"i0", "i1", "i2", "i3", "d0", "d1", "d2", "d3"};
  std::vector<int32_t> types = {2, 2, 3, 3, 5, 5, 5, 5};
  const char* textNames[] = {"name", "city", "street", "note"};
  for (int i = 0; i < texts; ++i) {
    names.push_back(textNames[i]);
    types.push_back(6);
  }
  names.push_back("when");
  types.push_back(20);
  return {names, types};
}

const std::vector<std::vector<std::string>>& Rows(size_t n, int texts) {
  static std::map<std::pair<size_t, int>, std::vector<std::vector<std::string>>> cache;
  auto& rows = cache[{n, texts}];
  if (!rows.empty()) return rows;
  std::mt19937_64 rng(n);
  std::uniform_real_distribution<double> real(-1e4, 1e4);
  char text[64];
  for (size_t r = 0; r < n; ++r) {
    std::vector<std::string> row;
    for (int i = 0; i < 4; ++i) row.push_back(std::to_string(static_cast<int32_t>(rng() % 2000000) - 1000000));
    for (int i = 0; i < 4; ++i) {
      std::snprintf(text, sizeof text, "%.6f", real(rng));
      row.push_back(text);
    }
    const std::string all[] = {"vehicle-" + std::to_string(rng() % 100000),
                               rng() % 2 ? "Reykjavik" : "Akureyri",
                               "Laugavegur " + std::to_string(rng() % 200),
                               std::string(rng() % 24, 'n')};
    row.insert(row.end(), all, all + texts);
    std::snprintf(text, sizeof text, "2024-%02d-%02d %02d:%02d:%02d.%03d",
                  static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28),
                  static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                  static_cast<int>(rng() % 60), static_cast<int>(rng() % 1000));
    row.push_back(text);
    rows.push_back(row);
  }
  return rows;
}

MiniFrad Filled(size_t n) {
  const auto schema = Schema(2);
  MiniFrad t;
  t.New("bench");
  t.Set(0, schema.first, schema.second, {});
  for (const auto& row : Rows(n, 2)) t.AddRow(row);
  return t;
}

void PerRow(benchmark::State& state, size_t rows) {
  PerUnit(state, "ns_per_row", static_cast<double>(rows));
}

// Args: rows, text columns.
void BM_AddRow(benchmark::State& state) {
  const int texts = static_cast<int>(state.range(1));
  const auto& rows = Rows(static_cast<size_t>(state.range(0)), texts);
  const auto schema = Schema(texts);
  for (auto _ : state) {
    MiniFrad t;
    t.New("bench");
    t.Set(0, schema.first, schema.second, {});
    for (const auto& row : rows) t.AddRow(row);
    benchmark::DoNotOptimize(t.cTile);
  }
  PerRow(state, rows.size());
}

// Args: rows. Two text columns.
void BM_AddRowFile(benchmark::State& state) {
  const auto& rows = Rows(static_cast<size_t>(state.range(0)), 2);
  const auto schema = Schema(2);
  for (auto _ : state) {
    MiniFrad t;
    t.New("bench", BenchDir());
    if (t.Mode != 3) {
      state.SkipWithError("the table's files could not be created");
      break;
    }
    t.Set(0, schema.first, schema.second, {});
    for (const auto& row : rows) t.AddRow(row);
    benchmark::DoNotOptimize(t.cTile);
  }
  PerRow(state, rows.size());
}

// The floor: the same texts parsed into cells of one preallocated row and the texts copied
// into one string, no table. Args as BM_AddRow.
void BM_ParseFloor(benchmark::State& state) {
  const int texts = static_cast<int>(state.range(1));
  const auto& rows = Rows(static_cast<size_t>(state.range(0)), texts);
  char cells[4 * 4 + 8 * 4 + 8];
  std::string copied;
  for (auto _ : state) {
    for (const auto& row : rows) {
      for (int i = 0; i < 2; ++i) {
        int32_t v;
        ConvertCharsToINT(v, row[i].data(), row[i].size(), _null_value_int);
        std::memcpy(cells + 4 * i, &v, 4);
      }
      for (int i = 2; i < 4; ++i) {
        int64_t v;
        ConvertCharsToINT(v, row[i].data(), row[i].size(), _null_value_bigint);
        std::memcpy(cells + 8 * i, &v, 8);
      }
      for (int i = 4; i < kNumbers; ++i) {
        double v;
        ConvertCharsToFLT(v, row[i].data(), row[i].size(), _null_value_bigfloat);
        std::memcpy(cells + 8 * (i - 4) + 16, &v, 8);
      }
      copied.assign(row[kNumbers]);
      for (int i = 1; i < texts; ++i) copied.append(row[kNumbers + i]);
      const std::string& when = row[kNumbers + texts];
      IO_Datetimes::DatetimeParser parser;
      int consumed = 0;
      int64_t ns = 0;
      if (parser.DetectDatetime(when.data(), when.size(), consumed)) parser.dt.ToDatetime64_ns(ns);
      std::memcpy(cells + 48, &ns, 8);
      benchmark::DoNotOptimize(cells);
      benchmark::DoNotOptimize(copied.data());
    }
  }
  PerRow(state, rows.size());
}

// A backlog kept at its cap: 500,000 rows, each iteration appends 10,000 rows and drops the
// 10,000 oldest. Per row appended (and dropped), against appending to a fresh table.
void BM_TrimOldest(benchmark::State& state) {
  const size_t kept = static_cast<size_t>(state.range(0));
  const size_t batch = 10000;
  const auto& rows = Rows(batch, 2);
  MiniFrad t = Filled(kept);
  for (auto _ : state) {
    for (const auto& row : rows) t.AddRow(row);
    t.DropFirstRows(static_cast<int64_t>(batch));
    benchmark::DoNotOptimize(t.cTile);
  }
  PerRow(state, batch);
}

void BM_ToByteStream(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  static std::map<size_t, MiniFrad> tables;
  if (!tables.count(n)) tables.emplace(n, Filled(n));
  const MiniFrad& t = tables.at(n);
  for (auto _ : state) {
    ByteStream bs = t.ToByteStream("", "");
    benchmark::DoNotOptimize(bs.GetStreamSize());
  }
  PerRow(state, n);
}

// The anchor: copying the two blocks into memory that already exists.
void BM_MemcpyBlocks(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  MiniFrad t = Filled(n);
  std::vector<char> tile(t.cTileSize), mint(t.cMintSize);
  for (auto _ : state) {
    std::memcpy(tile.data(), t.cTile, t.cTileSize);
    std::memcpy(mint.data(), t.cMint, t.cMintSize);
    benchmark::DoNotOptimize(tile.data());
    benchmark::DoNotOptimize(mint.data());
  }
  PerRow(state, n);
}

constexpr int64_t kRowCounts[] = {1000, 10000, 100000, 500000};
constexpr int64_t kTextCounts[] = {1, 2, 4};

void RowArgs(benchmark::internal::Benchmark* b) {
  for (int64_t texts : kTextCounts) {
    for (int64_t rows : kRowCounts) b->Args({rows, texts});
  }
}

BENCHMARK(BM_ParseFloor)->Apply(RowArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRow)->Apply(RowArgs)->Args({80000, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRowFile)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrimOldest)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBlocks)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToByteStream)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

RatioReporter::Pairs Pairs() {
  RatioReporter::Pairs pairs;
  for (int64_t texts : kTextCounts) {
    const std::string suffix = "/" + std::to_string(texts);
    for (int64_t rows : kRowCounts) {
      const std::string arg = "/" + std::to_string(rows) + suffix;
      pairs.emplace_back("BM_AddRow" + arg, "BM_ParseFloor" + arg);
    }
    pairs.emplace_back("BM_AddRow/500000" + suffix, "BM_AddRow/1000" + suffix);
  }
  pairs.emplace_back("BM_AddRowFile/10000", "BM_AddRow/10000/2");
  pairs.emplace_back("BM_AddRowFile/80000", "BM_AddRow/80000/2");
  pairs.emplace_back("BM_AddRowFile/80000", "BM_AddRowFile/10000");
  pairs.emplace_back("BM_TrimOldest/500000", "BM_AddRow/10000/2");
  pairs.emplace_back("BM_ToByteStream/10000", "BM_MemcpyBlocks/10000");
  pairs.emplace_back("BM_ToByteStream/100000", "BM_MemcpyBlocks/100000");
  return pairs;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_row", "row", Pairs());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
