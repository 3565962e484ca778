#pragma once

// The table schema at the head of a fuzz input, shared by the targets that put texts into
// typed cells: byte 0 the column count (1 + b % 6); per column a type byte (b % 23 - 1, so
// that ids outside the column-type table occur) and a 16-bit little-endian text size of
// either sign.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "table/MiniFrad.h"

namespace fuzzschema {

// Gives `table` (an empty heap table named `name`) the schema, its columns named by
// `columnName(c)`, and returns the bytes it took. 0 when the input is too short, when Set
// refuses the schema, and for a schema without cells (DROP and NULL columns only), which
// takes no rows.
template <class NameFn>
size_t Read(const uint8_t* data, size_t size, const std::string& name, NameFn columnName,
            MiniFrad& table) {
  if (size < 1) return 0;
  const size_t columns = 1 + data[0] % 6;
  if (size < 1 + 3 * columns) return 0;
  std::vector<std::string> names;
  std::vector<int32_t> types, sizes;
  for (size_t c = 0; c < columns; ++c) {
    const uint8_t* field = data + 1 + 3 * c;
    names.push_back(columnName(c));
    types.push_back(field[0] % 23 - 1);
    sizes.push_back(static_cast<int16_t>(field[1] | field[2] << 8));
  }
  table.New(name);
  if (!table.Set(0, names, types, sizes) || table.RowStride == 0) return 0;
  return 1 + 3 * columns;
}

// An empty heap table with the schema of `table`.
inline MiniFrad SameSchema(const MiniFrad& table, const std::string& name) {
  MiniFrad copy;
  copy.New(name);
  if (!copy.Set(0, table.ColNames, table.ColTypes, table.ColSizes)) copy.Clear();
  return copy;
}

}  // namespace fuzzschema
