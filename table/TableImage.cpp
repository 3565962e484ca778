#include "table/TableImage.h"

#include <algorithm>
#include <cstring>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"
#include "table/MiniFrad.h"
#include "table/TableRecords.h"

namespace {

bool SameFormat(const ColumnFormat& a, const ColumnFormat& b) {
  return a.Code == b.Code && a.Formula == b.Formula && a.Theme == b.Theme &&
         a.Reference == b.Reference && a.DisplayName == b.DisplayName;
}

uint64_t BlockRecordSize(const char* key, uint64_t valueSize) {
  return bsformat::kRecordHeaderSize + std::strlen(key) + valueSize;
}

}  // namespace

bool TableImage::SameSchema(const MiniFrad& table, const std::string& name) const {
  if (!recordSizes_.empty() && name == name_ && table.ColNames == colNames_ &&
      table.ColTypes == colTypes_ && table.ColSizes == colSizes_ &&
      table.ColFormat.size() == colFormat_.size() &&
      static_cast<int64_t>(colNames_.size()) == table.NbCols) {
    for (size_t i = 0; i < colFormat_.size(); ++i) {
      if (!SameFormat(table.ColFormat[i], colFormat_[i])) return false;
    }
    return true;
  }
  return false;
}

void TableImage::BuildSchemaRecords(const MiniFrad& table, const std::string& name) {
  name_ = name;
  colNames_ = table.ColNames;
  colTypes_ = table.ColTypes;
  colSizes_ = table.ColSizes;
  colFormat_ = table.ColFormat;
  ByteStream schema(false);
  table.AddSchemaRecords(schema, name, 0);
  schemaRecords_.clear();
  recordSizes_.clear();
  for (const ByteStreamBuffer& record : schema.records) {
    if (record.GetKey() == kKeyNbRows) {
      nbRowsAt_ = schemaRecords_.size() + static_cast<uint64_t>(record.GetValue() - record.data);
    }
    schemaRecords_.append(record.data, record.size);
    recordSizes_.push_back(record.size);
  }
  recordSizes_.push_back(0);  // cTile
  recordSizes_.push_back(0);  // cMint
}

bool TableImage::WholeTable() const { return first_ == 0 && end_ == table_->NbRows; }

void TableImage::Prepare(const MiniFrad& table, const std::string& name, int64_t first, int64_t end) {
  const std::string& resolved = name.empty() ? table.Name : name;
  if (!SameSchema(table, resolved)) BuildSchemaRecords(table, resolved);
  table_ = &table;
  end_ = end < 0 ? table.NbRows : std::clamp<int64_t>(end, 0, table.NbRows);
  first_ = std::clamp<int64_t>(first, 0, end_);
  const size_t n = recordSizes_.size();
  if (WholeTable()) {
    recordSizes_[n - 2] = BlockRecordSize(kKeyTile, table.cTileSize);
    recordSizes_[n - 1] = BlockRecordSize(kKeyMint, table.cMintSize);
  } else {
    recordSizes_[n - 2] = BlockRecordSize(kKeyTile, static_cast<uint64_t>(end_ - first_) * table.RowStride);
    recordSizes_[n - 1] = BlockRecordSize(kKeyMint, table.RangeTextSize(first_, end_));
  }
  size_ = bsformat::ImageSize(recordSizes_.data(), n);
}

void TableImage::Write(char* dst) const {
  char* p = bsformat::WriteImageHead(dst, recordSizes_.data(), recordSizes_.size());
  std::memcpy(p, schemaRecords_.data(), schemaRecords_.size());
  bsformat::StoreAs(p + nbRowsAt_, end_ - first_);
  p += schemaRecords_.size();
  const size_t n = recordSizes_.size();
  const uint64_t tileSize = recordSizes_[n - 2] - BlockRecordSize(kKeyTile, 0);
  char* tile = bsformat::WriteRecordHead(p, dt_buffer, kKeyTile, std::strlen(kKeyTile));
  char* text = bsformat::WriteRecordHead(tile + tileSize, dt_buffer, kKeyMint, std::strlen(kKeyMint));
  if (WholeTable()) {
    table_->CopyImageBlocks(tile, text);
  } else {
    table_->CopyRangeImageBlocks(first_, end_, tile, text);
  }
}
