// tvx_samplegen: writes a table file for the replay stream and the stand-in data server.
//
// Usage: tvx_samplegen PATH ROWS
// The table has the columns n (INT), name (TEXT) and price (BIG FLOAT); row i holds i,
// "item <i>" and a price derived from i. With ROWS 0 the file holds the schema alone, as
// the data server's own table file of the target does.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "record/ByteStream.h"
#include "table/MiniFrad.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tvx_samplegen PATH ROWS\n");
    return 2;
  }
  const long rows = std::strtol(argv[2], nullptr, 10);
  if (rows < 0 || rows > 1000000) {
    std::fprintf(stderr, "tvx_samplegen: ROWS must be 0 to 1000000\n");
    return 2;
  }
  std::vector<std::vector<std::string>> cells;
  for (long i = 0; i < rows; ++i) {
    cells.push_back({std::to_string(i), "item " + std::to_string(i), std::to_string((i * 37) % 1000) + ".5"});
  }
  MiniFrad table = MiniFrad::GenMiniFrad("sample", {2, 6, 5}, cells, {"n", "name", "price"});
  if (!table.ToByteStream("", "").Save(argv[1])) return 1;
  return 0;
}
