// Fuzz target: a table loaded from an untrusted container image. Whatever the bytes, Load
// either refuses them or yields a table whose every cell can be read, viewed, copied, grown
// and cut from the front without reading or writing outside its blocks, and whose image
// reads back as the same table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record/ByteStream.h"
#include "table/MiniFrad.h"

namespace {

void ReadEverything(const MiniFrad& t) {
  std::string text;
  for (int64_t c = 0; c < t.NbCols; ++c) {
    for (int64_t r = 0; r < t.NbRows; ++r) {
      t.ToString(c, r, text);
      double d;
      int64_t i;
      t.ToDouble(c, r, d, true);
      t.ToInt64(c, r, i, true);
    }
  }
  t.LogRows(4, "fuzz", true);
}

bool SameCells(const MiniFrad& a, const MiniFrad& b) {
  if (a.NbRows != b.NbRows || a.NbCols != b.NbCols) return false;
  std::string x;
  std::string y;
  for (int64_t c = 0; c < a.NbCols; ++c) {
    for (int64_t r = 0; r < a.NbRows; ++r) {
      if (a.ToString(c, r, x) != b.ToString(c, r, y) || x != y) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> image(data, data + size);
  ByteStream received(true);
  if (!received.LoadStream(image.data(), image.size())) return 0;

  MiniFrad view;
  if (!view.Load(&received, true)) return 0;
  ReadEverything(view);
  ByteStream slice = view.GetViewByteStream(1, view.NbRows - 1, "slice");
  MiniFrad sliced;
  if (sliced.Load(&slice, true)) ReadEverything(sliced);

  MiniFrad copy;
  if (!copy.Load(&received, false)) return 0;
  std::vector<std::string> row(static_cast<size_t>(copy.NbCols), "12");
  copy.AddRow(row);
  copy.AddRow({});
  copy.DropFirstRows(copy.NbRows / 2);
  copy.AddRow(row);
  // What a heap table with room writes out loads again as the same table (rows of columns
  // without cells aside: nothing bounds their count in an image).
  ByteStream written = copy.ToByteStream("", "");
  MiniFrad reread;
  if (reread.Load(&written, true)) {
    if (!SameCells(copy, reread)) std::abort();
  } else if (copy.RowStride > 0 || copy.NbRows == 0) {
    std::abort();
  }
  copy.DeleteRows({0});
  if (copy.NbCols > 1) copy.DeleteColumns({0});
  ReadEverything(copy);
  return 0;
}
