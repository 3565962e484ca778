// The text templates of ByteStreamBuffer used by the record dump.
#include <string>
#include <type_traits>

#include "record/ByteStreamBuffer.h"
#include "record/ByteStreamFormat.h"
#include "record/ByteStreamText.h"

template <class T>
std::string ByteStreamBuffer::ValueToString() const {
  if (!IsValid()) return std::string();
  return bstext::ValueText(std::string(GetValue(), GetValueSize()));
}

template <class T>
std::string ByteStreamBuffer::VectorValueToString() const {
  if (!IsValid()) return "{}";
  std::vector<T> values;
  if constexpr (std::is_same_v<T, std::string>) {
    bsformat::ItemListView v;
    if (!v.Parse(GetValue(), GetValueSize())) return "{}";
    values.resize(v.count);
    for (uint64_t i = 0; i < v.count; ++i) {
      const char* p;
      uint64_t n;
      if (!v.Item(i, &p, &n)) return "{}";
      values[i].assign(p, n);
    }
  } else {
    bsformat::NumberVectorView v;
    if (!v.Parse(GetValue(), GetValueSize(), sizeof(T))) return "{}";
    values.resize(v.count);
    if (v.count > 0) std::memcpy(values.data(), v.elems, v.count * sizeof(T));
  }
  return bstext::ListText(values.data(), values.size());
}

template <class T>
std::string ByteStreamBuffer::Vector2DValueToString(int indent) const {
  std::vector<std::vector<T>> rows;
  if (!GetVector2DValue(rows)) return "{}";
  std::string pad(indent > 0 ? indent : 0, ' ');
  std::string text = pad + "{ \n";
  for (const auto& row : rows) {
    text += pad + "    " + bstext::ListText(row.data(), row.size()) + "\n";
  }
  return text + pad + "}";
}

template std::string ByteStreamBuffer::ValueToString<std::string>() const;

#define TVX_BSB_TEXT_INSTANCES(T)                                           \
  template std::string ByteStreamBuffer::VectorValueToString<T>() const; \
  template std::string ByteStreamBuffer::Vector2DValueToString<T>(int) const;

TVX_BSB_TEXT_INSTANCES(int8_t)
TVX_BSB_TEXT_INSTANCES(uint8_t)
TVX_BSB_TEXT_INSTANCES(int16_t)
TVX_BSB_TEXT_INSTANCES(uint16_t)
TVX_BSB_TEXT_INSTANCES(int32_t)
TVX_BSB_TEXT_INSTANCES(uint32_t)
TVX_BSB_TEXT_INSTANCES(int64_t)
TVX_BSB_TEXT_INSTANCES(uint64_t)
TVX_BSB_TEXT_INSTANCES(float)
TVX_BSB_TEXT_INSTANCES(double)
TVX_BSB_TEXT_INSTANCES(std::string)
