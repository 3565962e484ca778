// Text dumps of a table for logs: LogInfo, LogRows and the divider lines.
#include <algorithm>
#include <cstring>

#include "table/MiniFrad.h"

namespace {

template <typename T>
std::string JoinLine(const char* label, const std::vector<T>& values) {
  std::string line = std::string("  ") + label + ": { ";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += ", ";
    line += std::to_string(values[i]);
  }
  return line + " }\n";
}

std::string Repeat(int count, const std::string& fill) {
  std::string out;
  for (int i = 0; i < count; ++i) out += fill;
  return out;
}

}  // namespace

std::string HeaderDivider(const std::string& title, int width, const std::string& fill) {
  const int length = static_cast<int>(title.size());
  if (length + 4 >= width) return fill + " " + title + " " + fill;
  const int space = width - 2 - length;
  const int k = space / 2;
  return Repeat(k, fill) + " " + title + " " + Repeat(k + space % 2, fill);
}

std::string Divider(int count, const std::string& fill) { return Repeat(count, fill); }

std::string MiniFrad::LogInfo() const {
  std::string out = "Name: " + Name + ", NbCols: " + std::to_string(NbCols) +
                    ", NbRows: " + std::to_string(NbRows) +
                    ", cTileSize: " + std::to_string(cTileSize) +
                    ", cMintSize: " + std::to_string(cMintSize) + "\n";
  out += JoinLine("ColTypes", ColTypes);
  out += JoinLine("ColOffsets", ColOffsets);
  out += JoinLine("ColSizes", ColSizes);
  out += JoinLine("ColStride", ColStride);
  return out;
}

std::string MiniFrad::LogRows(int64_t nRows, const std::string& title, bool detailed) const {
  std::string out = HeaderDivider(title, 80, "-") + "\n";
  const std::string info = LogInfo();
  out += info.substr(0, info.find('\n') + 1);
  if (NbCols == 0 || NbRows == 0) return out;
  std::string names, types;
  for (int64_t c = 0; c < NbCols; ++c) {
    if (c > 0) {
      names += ", ";
      types += ", ";
    }
    names += ColNames[c];
    types += IsValidColumnType(ColTypes[c]) ? column_types_lookup[ColTypes[c]].TypeName : "?";
  }
  out += names + "\n" + types + "\n";
  const int64_t n = nRows < 0 ? NbRows : std::min(nRows, NbRows);
  std::string cell;
  for (int64_t r = 0; r < n; ++r) {
    for (int64_t c = 0; c < NbCols; ++c) {
      if (c > 0) out += ", ";
      const bool text = IsTextColumn(c);
      if (text && detailed) {
        out += "[" + std::to_string(LoadCell<uint64_t>(GetCTilePtr(r, c, 0))) + "," +
               std::to_string(LoadCell<uint16_t>(GetCTilePtr(r, c, 1))) + "]";
      }
      if (!ToString(c, r, cell)) {
        out += "ERROR";
      } else if (text && cell != "NULL") {
        out += "\"" + cell + "\"";
      } else {
        out += cell;
      }
    }
    out += "\n";
  }
  if (n < NbRows) out += "...\n";
  return out + Divider(80, "-") + "\n";
}
