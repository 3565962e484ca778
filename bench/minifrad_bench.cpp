// Column-table throughput.
//
// AddRow: a typical row (4 integers, 4 doubles, 2 texts, a date-time) appended in batches of
// 1,000, 10,000 and 100,000 rows to an empty table, against the floor of parsing the same
// texts alone. AddRowOneText: the same rows without the second text column. Every text
// column but the last lies below another one in the text block, so each appended row moves
// its texts and rewrites its offsets: that part of the cost still grows with the table. ToByteStream of 10,000 and 100,000 rows, against a memcpy of the two blocks.
// Every case reports ns per row; the program ends with the ratio of each case to its anchor.
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"
#include "record/ByteStream.h"
#include "table/IO_Datetimes.h"
#include "table/MiniFrad.h"
#include "table/NumberText.h"

namespace {

const std::vector<std::string> kNames = {"i0", "i1", "i2", "i3", "d0", "d1", "d2", "d3",
                                         "name", "city", "when"};
const std::vector<int32_t> kTypes = {2, 2, 3, 3, 5, 5, 5, 5, 6, 6, 20};

const std::vector<std::vector<std::string>>& Rows(size_t n) {
  static std::map<size_t, std::vector<std::vector<std::string>>> cache;
  auto& rows = cache[n];
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
    row.push_back("vehicle-" + std::to_string(rng() % 100000));
    row.push_back(rng() % 2 ? "Reykjavik" : "Akureyri");
    std::snprintf(text, sizeof text, "2024-%02d-%02d %02d:%02d:%02d.%03d",
                  static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28),
                  static_cast<int>(rng() % 24), static_cast<int>(rng() % 60),
                  static_cast<int>(rng() % 60), static_cast<int>(rng() % 1000));
    row.push_back(text);
    rows.push_back(row);
  }
  return rows;
}

// Rows(n) without the "city" text.
const std::vector<std::vector<std::string>>& RowsOneText(size_t n) {
  static std::map<size_t, std::vector<std::vector<std::string>>> cache;
  auto& rows = cache[n];
  if (!rows.empty()) return rows;
  rows = Rows(n);
  for (auto& row : rows) row.erase(row.begin() + 9);
  return rows;
}

MiniFrad Filled(size_t n) {
  MiniFrad t;
  t.New("bench");
  t.Set(0, kNames, kTypes, {});
  for (const auto& row : Rows(n)) t.AddRow(row);
  return t;
}

void PerRow(benchmark::State& state, size_t rows) {
  PerUnit(state, "ns_per_row", static_cast<double>(rows));
}

void AppendAll(benchmark::State& state, const std::vector<std::vector<std::string>>& rows,
               bool oneText) {
  std::vector<std::string> names = kNames;
  std::vector<int32_t> types = kTypes;
  if (oneText) {
    names.erase(names.begin() + 9);
    types.erase(types.begin() + 9);
  }
  for (auto _ : state) {
    MiniFrad t;
    t.New("bench");
    t.Set(0, names, types, {});
    for (const auto& row : rows) t.AddRow(row);
    benchmark::DoNotOptimize(t.cTile);
  }
  PerRow(state, rows.size());
}

void BM_AddRow(benchmark::State& state) {
  AppendAll(state, Rows(static_cast<size_t>(state.range(0))), false);
}

void BM_AddRowOneText(benchmark::State& state) {
  AppendAll(state, RowsOneText(static_cast<size_t>(state.range(0))), true);
}

// The floor: the same texts parsed into cells of a preallocated row, no table.
void BM_ParseFloor(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const auto& rows = Rows(n);
  char cells[4 * 4 + 8 * 4 + 8];
  std::string texts;
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
      for (int i = 4; i < 8; ++i) {
        double v;
        ConvertCharsToFLT(v, row[i].data(), row[i].size(), _null_value_bigfloat);
        std::memcpy(cells + 8 * (i - 4) + 16, &v, 8);
      }
      texts.assign(row[8]);
      texts.append(row[9]);
      IO_Datetimes::DatetimeParser parser;
      int consumed = 0;
      int64_t ns = 0;
      if (parser.DetectDatetime(row[10].data(), row[10].size(), consumed)) parser.dt.ToDatetime64_ns(ns);
      std::memcpy(cells + 48, &ns, 8);
      benchmark::DoNotOptimize(cells);
      benchmark::DoNotOptimize(texts.data());
    }
  }
  PerRow(state, n);
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

BENCHMARK(BM_ParseFloor)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRow)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRow)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRowOneText)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBlocks)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToByteStream)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("ns_per_row", "row",
                         {{"BM_AddRow/1000", "BM_ParseFloor/1000"},
                          {"BM_AddRow/10000", "BM_ParseFloor/10000"},
                          {"BM_AddRow/100000/iterations:1", "BM_ParseFloor/100000"},
                          {"BM_AddRowOneText/1000", "BM_ParseFloor/1000"},
                          {"BM_AddRowOneText/10000", "BM_ParseFloor/10000"},
                          {"BM_AddRowOneText/100000", "BM_ParseFloor/100000"},
                          {"BM_ToByteStream/10000", "BM_MemcpyBlocks/10000"},
                          {"BM_ToByteStream/100000", "BM_MemcpyBlocks/100000"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
