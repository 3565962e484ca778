// TableImage: the image of a table exactly as MiniFrad::ToByteStream(name, "") builds it,
// written straight into memory the caller provides (a message's payload) instead of into a
// container of its own: the cells are copied once, and nothing is allocated while the name
// and the schema stay those of the previous Prepare.
//
// Use: Prepare(table, name), then Write(dst) with Size() bytes at dst. Prepare(table, name,
// first, end) makes the image of the table's rows [first, end) alone (end -1: to the last
// row), as if the other rows had been dropped; for a table built by appending rows, whose
// texts lie back to back. Both read the table,
// which must not change in between (the caller holds whatever lock guards it) and must
// outlive the Write. One object per table serves best: the schema records are kept from one
// Prepare to the next and built again only when the name or the schema differs.
//
// Not thread-safe.
#ifndef TVX_TABLE_TABLEIMAGE_H_
#define TVX_TABLE_TABLEIMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "table/ColumnFormat.h"

class MiniFrad;

class TableImage {
 public:
  void Prepare(const MiniFrad& table, const std::string& name, int64_t first = 0, int64_t end = -1);
  uint64_t Size() const { return size_; }
  void Write(char* dst) const;

 private:
  bool SameSchema(const MiniFrad& table, const std::string& name) const;
  // The image holds every row: its blocks are the table's own, texts where they lie.
  bool WholeTable() const;
  void BuildSchemaRecords(const MiniFrad& table, const std::string& name);

  const MiniFrad* table_ = nullptr;
  // The rows of table_ in the image: [first_, end_).
  int64_t first_ = 0;
  int64_t end_ = 0;
  uint64_t size_ = 0;
  // The schema the records below were built from.
  std::string name_;
  std::vector<std::string> colNames_;
  std::vector<int32_t> colTypes_;
  std::vector<int32_t> colSizes_;
  std::vector<ColumnFormat> colFormat_;
  // The records before "cTile", one after the other; the "NbRows" value at nbRowsAt_ is
  // written by each Write.
  std::string schemaRecords_;
  uint64_t nbRowsAt_ = 0;
  // Lengths of every record, "cTile" and "cMint" last.
  std::vector<uint64_t> recordSizes_;
};

#endif  // TVX_TABLE_TABLEIMAGE_H_
