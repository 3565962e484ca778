// A plain reference model of a column table for tests: one vector of expected cells per
// column, built without any of the table's own code, and the comparison of a real table
// against it. Also random cell texts (with their expected cells) for every storage type.
#ifndef TVX_TESTS_TABLE_MODEL_UTIL_H_
#define TVX_TESTS_TABLE_MODEL_UTIL_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "table/MiniFrad.h"

namespace tablemodel {

struct RefCell {
  bool null = true;
  uint64_t bits = 0;  // integer value or float bit pattern, in the cell's width
  std::string text;   // text columns
};

struct RefColumn {
  std::string name;
  int32_t type = 0;
  int32_t size = 0;  // maximum text length for text columns
  std::vector<RefCell> cells;
};

struct RefTable {
  std::vector<RefColumn> cols;
  int64_t rows = 0;

  void AddRow(const std::vector<RefCell>& cells);  // cells.size() == cols.size()
  void DeleteRows(const std::vector<int64_t>& indices);  // out-of-range ones ignored
  void DropLastRows(int64_t n);
  void DeleteColumns(const std::vector<int64_t>& indices);
  void Clear();
};

// A text for a cell of column `col` and the cell it must become: valid numbers, number
// limits and one past them, bad number texts, date-times, empty, long and null-looking texts.
std::pair<std::string, RefCell> RandomCell(std::mt19937_64& rng, const RefColumn& col);

// Appends one row of random texts to `t` and their expected cells to `ref`.
void AddRandomRow(std::mt19937_64& rng, MiniFrad& t, RefTable& ref);

// The expected cell of a missing text.
RefCell MissingCell(const RefColumn& col);

// A random column type id, text types more often than the others.
int32_t RandomType(std::mt19937_64& rng);

// Expects `t` to hold exactly the reference (schema, row count, every cell) and to validate.
void ExpectSameCells(const MiniFrad& t, const RefTable& ref, const std::string& context);

// ExpectSameCells, and each text column's texts back to back in row order with no byte
// shared between columns: the layout every operation on the table keeps.
void ExpectSameTable(const MiniFrad& t, const RefTable& ref, const std::string& context);

}  // namespace tablemodel

#endif  // TVX_TESTS_TABLE_MODEL_UTIL_H_
