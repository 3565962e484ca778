// ByteStream speed against its anchors, measured in the same run:
//  - building and serialising an update message (six texts, an int and a nested table of
//    1, 100 and 10,000 rows of 10 columns) against a memcpy of an image of the same size;
//  - Read of 10 KB, 1 MB and 100 MB container files into a read-only container against a
//    bare open + read of the whole file into a heap block + close (Read copies the file
//    rather than mapping it, so that a file cut by another program cannot fault it).
// The report ends with each case's time per operation and its ratio to the anchor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchDir.h"
#include "bench/RatioReporter.h"
#include "record/ByteStream.h"

namespace {

// The blocks and schema of a table of `rows` rows and 10 columns (8-byte cells, one text
// column), as a table writes them into a container.
struct TableBlocks {
  std::vector<std::string> names;
  std::vector<int32_t> types, sizes;
  std::vector<char> tile, mint;
  explicit TableBlocks(uint64_t rows) : tile(rows * 10 * 8, 'c'), mint(rows * 12, 't') {
    for (int c = 0; c < 10; ++c) {
      names.push_back("Column" + std::to_string(c));
      types.push_back(c == 0 ? 9 : 5);
      sizes.push_back(8);
    }
  }
};

ByteStream UpdateMessage(const TableBlocks& table, uint64_t rows) {
  ByteStream data;
  data.AddString("Name", "Positions");
  data.AddInt64("NbCols", 10);
  data.AddInt64("NbRows", static_cast<int64_t>(rows));
  data.AddStringVector("ColNames", table.names);
  data.AddInt32Vector("ColTypes", table.types);
  data.AddInt32Vector("ColSizes", table.sizes);
  data.AddStreamVector("ColFormat", std::vector<ByteStream>(10));
  data.AddBuffer("cTile", table.tile.data(), table.tile.size());
  data.AddBuffer("cMint", table.mint.data(), table.mint.size());
  ByteStream message;
  message.AddString("Func", "API");
  message.AddString("DBAlias", "live");
  message.AddString("DBName", "traffic");
  message.AddString("TableName", "Positions");
  message.AddString("Event", "UPSERT");
  message.AddString("MSID", "");
  message.AddInt32("KeyIndex", 0);
  message.AddStream("Data", data);
  return message;
}

void BM_UpdateMessage(benchmark::State& state) {
  uint64_t rows = state.range(0);
  TableBlocks table(rows);
  std::vector<char> frame;
  for (auto _ : state) {
    ByteStream message = UpdateMessage(table, rows);
    frame.resize(message.GetStreamSize());
    message.GetStream(frame.data());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.counters["image_bytes"] = static_cast<double>(frame.size());
  PerUnit(state, "ns_per_op", 1);
}

// The anchor: one memcpy of an image as long as the message's.
void BM_UpdateMemcpy(benchmark::State& state) {
  uint64_t rows = state.range(0);
  uint64_t size = UpdateMessage(TableBlocks(rows), rows).GetStreamSize();
  std::vector<char> source(size, 'x'), target(size, 'y');
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), size);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  PerUnit(state, "ns_per_op", 1);
}
BENCHMARK(BM_UpdateMessage)->Arg(1)->Arg(100)->Arg(10000);
BENCHMARK(BM_UpdateMemcpy)->Arg(1)->Arg(100)->Arg(10000);

// A container file of about `bytes` bytes: a table-like schema and one large cell block.
std::string MakeFile(const std::string& dir, uint64_t bytes) {
  std::string path = dir + "/table_" + std::to_string(bytes) + ".bs";
  if (std::filesystem::exists(path)) return path;
  TableBlocks table(1);
  ByteStream file = UpdateMessage(table, 1);
  std::vector<char> block(bytes > file.GetStreamSize() ? bytes - file.GetStreamSize() : 1, 'b');
  file.AddBuffer("cTileLarge", block.data(), block.size());
  file.Save(path);
  return path;
}

void BM_Read(benchmark::State& state) {
  std::string path = MakeFile(BenchDir(), state.range(0));
  for (auto _ : state) {
    ByteStream bs(true);
    benchmark::DoNotOptimize(bs.Read(path));
    benchmark::DoNotOptimize(bs.records.data());
  }
  PerUnit(state, "ns_per_op", 1);
}

// The anchor: a bare open, read of the whole file into a heap block, and close.
void BM_PlainRead(benchmark::State& state) {
  std::string path = MakeFile(BenchDir(), state.range(0));
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY);
    struct stat st;
    fstat(fd, &st);
    std::unique_ptr<char[]> bytes(new char[st.st_size]);
    if (read(fd, bytes.get(), st.st_size) != st.st_size) std::abort();
    benchmark::DoNotOptimize(bytes.get());
    close(fd);
  }
  PerUnit(state, "ns_per_op", 1);
}
BENCHMARK(BM_Read)->Arg(10 << 10)->Arg(1 << 20)->Arg(100 << 20);
BENCHMARK(BM_PlainRead)->Arg(10 << 10)->Arg(1 << 20)->Arg(100 << 20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter::Pairs pairs;
  for (const char* rows : {"1", "100", "10000"}) {
    pairs.emplace_back(std::string("BM_UpdateMessage/") + rows,
                       std::string("BM_UpdateMemcpy/") + rows);
  }
  for (const char* bytes : {"10240", "1048576", "104857600"}) {
    pairs.emplace_back(std::string("BM_Read/") + bytes, std::string("BM_PlainRead/") + bytes);
  }
  RatioReporter reporter("ns_per_op", "op", pairs);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
