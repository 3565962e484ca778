// The vector value templates of ByteStreamBuffer: writing layouts 1 to 4 into a record and
// reading layouts 3 and 4 back (layouts in record/ByteStreamFormat.h).
#include <string>
#include <type_traits>

#include "record/ByteStreamBuffer.h"
#include "record/ByteStreamFormat.h"

namespace {

template <class T>
constexpr bool kIsText = std::is_same_v<T, std::string>;

uint64_t TextBytes(const std::vector<std::string>& values) {
  uint64_t total = 0;
  for (const auto& s : values) total += s.size();
  return total;
}

}  // namespace

template <class T>
bool ByteStreamBuffer::SetVectorValue(const std::vector<T>& values) {
  if (!IsValid()) return false;
  uint64_t valueSize;
  if constexpr (kIsText<T>) {
    valueSize = bsformat::ItemListSize(values.size(), TextBytes(values));
  } else {
    valueSize = bsformat::NumberVectorSize(values.size(), sizeof(T));
  }
  uint64_t head = bsformat::kRecordHeaderSize + GetKeySize();
  if (!Resize(head + valueSize)) return false;
  if constexpr (kIsText<T>) {
    bsformat::WriteItemList(
        data + head, values.size(), [&](uint64_t i) { return values[i].size(); },
        [&](uint64_t i, char* dst) {
          if (!values[i].empty()) std::memcpy(dst, values[i].data(), values[i].size());
        });
  } else {
    bsformat::WriteNumberVector(data + head, values);
  }
  return true;
}

template <class T>
bool ByteStreamBuffer::SetVector2DValue(const std::vector<std::vector<T>>& rows) {
  if (!IsValid()) return false;
  uint64_t valueSize;
  if constexpr (kIsText<T>) {
    valueSize = bsformat::StringArray2DSize(rows);
  } else {
    valueSize = bsformat::NumberArray2DSize(rows);
  }
  uint64_t head = bsformat::kRecordHeaderSize + GetKeySize();
  if (!Resize(head + valueSize)) return false;
  if constexpr (kIsText<T>) {
    bsformat::WriteStringArray2D(data + head, rows);
  } else {
    bsformat::WriteNumberArray2D(data + head, rows);
  }
  return true;
}

template <class T>
bool ByteStreamBuffer::GetVector2DValue(std::vector<std::vector<T>>& rows) const {
  rows.clear();
  if (!IsValid()) return false;
  if constexpr (kIsText<T>) {
    bsformat::StringArray2DView v;
    if (!v.Parse(GetValue(), GetValueSize())) return false;
    rows.resize(v.rows);
    uint64_t k = 0;
    for (uint64_t r = 0; r < v.rows; ++r) {
      rows[r].resize(v.RowCount(r));
      for (auto& s : rows[r]) {
        const char* p;
        uint64_t n;
        if (!v.String(k++, &p, &n)) {
          rows.clear();
          return false;
        }
        s.assign(p, n);
      }
    }
  } else {
    bsformat::NumberArray2DView v;
    if (!v.Parse(GetValue(), GetValueSize(), sizeof(T)) || !v.Exact()) return false;
    rows.resize(v.rows);
    const char* at = v.elems;
    for (uint64_t r = 0; r < v.rows; ++r) {
      rows[r].resize(v.RowCount(r));
      if (!rows[r].empty()) std::memcpy(rows[r].data(), at, rows[r].size() * sizeof(T));
      at += rows[r].size() * sizeof(T);
    }
  }
  return true;
}

#define TVX_BSB_VECTOR_INSTANCES(T)                                                       \
  template bool ByteStreamBuffer::SetVectorValue<T>(const std::vector<T>&);               \
  template bool ByteStreamBuffer::SetVector2DValue<T>(const std::vector<std::vector<T>>&); \
  template bool ByteStreamBuffer::GetVector2DValue<T>(std::vector<std::vector<T>>&) const;

TVX_BSB_VECTOR_INSTANCES(int8_t)
TVX_BSB_VECTOR_INSTANCES(uint8_t)
TVX_BSB_VECTOR_INSTANCES(int16_t)
TVX_BSB_VECTOR_INSTANCES(uint16_t)
TVX_BSB_VECTOR_INSTANCES(int32_t)
TVX_BSB_VECTOR_INSTANCES(uint32_t)
TVX_BSB_VECTOR_INSTANCES(int64_t)
TVX_BSB_VECTOR_INSTANCES(uint64_t)
TVX_BSB_VECTOR_INSTANCES(float)
TVX_BSB_VECTOR_INSTANCES(double)
TVX_BSB_VECTOR_INSTANCES(std::string)
