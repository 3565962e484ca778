// Every get of a ByteStream: the key's record, of exactly the getter's type code, read
// with every count and offset checked against the value (layouts in
// record/ByteStreamFormat.h).
#include <algorithm>
#include <type_traits>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

const ByteStreamBuffer* ByteStream::Find(const std::string& key, ByteStreamDataType type) const {
  if (!HasRecord(key)) return nullptr;
  const ByteStreamBuffer& record = records[GetRecordIndex(key)];
  return record.GetType() == type && record.HasHeader() ? &record : nullptr;
}

template <class T>
bool ByteStream::GetScalar(const std::string& key, ByteStreamDataType type, T& out) const {
  const ByteStreamBuffer* record = Find(key, type);
  if (record == nullptr) return false;
  // A short value replaces only the leading bytes.
  std::memcpy(&out, record->GetValue(), std::min<uint64_t>(record->GetValueSize(), sizeof(T)));
  return true;
}

bool ByteStream::GetBool(const std::string& key, bool& out) const {
  uint8_t byte = 0;
  if (!GetScalar(key, dt_uint8, byte)) return false;
  out = byte != 0;
  return true;
}
bool ByteStream::GetChar(const std::string& key, char& out) const {
  return GetScalar(key, dt_int8, out);
}
bool ByteStream::GetInt8(const std::string& key, int8_t& out) const {
  return GetScalar(key, dt_int8, out);
}
bool ByteStream::GetUInt8(const std::string& key, uint8_t& out) const {
  return GetScalar(key, dt_uint8, out);
}
bool ByteStream::GetInt16(const std::string& key, int16_t& out) const {
  return GetScalar(key, dt_int16, out);
}
bool ByteStream::GetUInt16(const std::string& key, uint16_t& out) const {
  return GetScalar(key, dt_uint16, out);
}
bool ByteStream::GetInt32(const std::string& key, int32_t& out) const {
  return GetScalar(key, dt_int32, out);
}
bool ByteStream::GetUInt32(const std::string& key, uint32_t& out) const {
  return GetScalar(key, dt_uint32, out);
}
bool ByteStream::GetInt64(const std::string& key, int64_t& out) const {
  return GetScalar(key, dt_int64, out);
}
bool ByteStream::GetUInt64(const std::string& key, uint64_t& out) const {
  return GetScalar(key, dt_uint64, out);
}
bool ByteStream::GetFloat(const std::string& key, float& out) const {
  return GetScalar(key, dt_float, out);
}
bool ByteStream::GetDouble(const std::string& key, double& out) const {
  return GetScalar(key, dt_double, out);
}

bool ByteStream::GetString(const std::string& key, std::string& out) const {
  const ByteStreamBuffer* record = Find(key, dt_string);
  if (record == nullptr) return false;
  out.assign(record->GetValue(), record->GetValueSize());
  return true;
}

bool ByteStream::GetBuffer(const std::string& key, AppCore::CharBuffer& out) const {
  uint64_t size;
  const char* value = GetBufferPtr(key, size);
  if (value == nullptr) return false;
  out.Resize(size);
  std::memcpy(out.data, value, size);
  return true;
}

bool ByteStream::GetBuffer(const std::string& key, void* out) const {
  uint64_t size;
  const char* value = GetBufferPtr(key, size);
  if (value == nullptr) return false;
  std::memcpy(out, value, size);
  return true;
}

char* ByteStream::GetBufferPtr(const std::string& key, uint64_t& size) const {
  const ByteStreamBuffer* record = Find(key, dt_buffer);
  size = record != nullptr ? record->GetValueSize() : 0;
  return size > 0 ? record->GetValue() : nullptr;
}

bool ByteStream::GetBufferVector(const std::string& key, std::vector<char*>& data,
                                 std::vector<uint64_t>& sizes) const {
  const ByteStreamBuffer* record = Find(key, dt_buffer_vector);
  if (record == nullptr) return false;
  data.clear();
  sizes.clear();
  bsformat::ItemListView list;
  if (!list.Parse(record->GetValue(), record->GetValueSize()) || !list.AllItemsValid()) {
    return false;
  }
  for (uint64_t i = 0; i < list.count; ++i) {
    const char* item = nullptr;
    uint64_t size = 0;
    list.Item(i, &item, &size);
    data.push_back(size > 0 ? const_cast<char*>(item) : nullptr);
    sizes.push_back(size);
  }
  return true;
}

bool ByteStream::GetBufferVector(const std::string& key,
                                 std::vector<AppCore::CharBuffer>& out) const {
  if (Find(key, dt_buffer_vector) == nullptr) return false;
  out.clear();
  std::vector<char*> data;
  std::vector<uint64_t> sizes;
  if (!GetBufferVector(key, data, sizes)) return false;
  for (size_t i = 0; i < data.size(); ++i) {
    AppCore::CharBuffer copy;
    if (sizes[i] > 0) {
      copy.Resize(sizes[i]);
      std::memcpy(copy.data, data[i], sizes[i]);
    }
    out.push_back(std::move(copy));
  }
  return true;
}

bool ByteStream::GetStream(const std::string& key, ByteStream& out) const {
  if (!HasRecord(key)) return false;
  const ByteStreamBuffer& record = records[GetRecordIndex(key)];
  uint8_t type = record.GetType();
  char* value = record.GetValue();
  uint64_t size = record.GetValueSize();
  if ((type != dt_stream && type != dt_buffer) || value == nullptr || size == 0) return false;
  if (type == dt_buffer && !ValidateStream(value, size)) return false;
  if (&out == this) {  // loading would free the record being read
    if (readOnly) return false;
    ByteStream copy(false);
    if (!copy.LoadStream(value, size)) return false;
    out = std::move(copy);
    return true;
  }
  return out.LoadStream(value, size);
}

// ---- vectors ----

template <class T>
bool ByteStream::GetNumberVector(const std::string& key, ByteStreamDataType type,
                                 std::vector<T>& out) const {
  const ByteStreamBuffer* record = Find(key, type);
  if (record == nullptr) return false;
  out.clear();
  bsformat::NumberVectorView vector;
  if (!vector.Parse(record->GetValue(), record->GetValueSize(), sizeof(T))) return false;
  out.resize(vector.count);
  if (vector.count > 0) std::memcpy(out.data(), vector.elems, vector.count * sizeof(T));
  return true;
}

bool ByteStream::GetInt8Vector(const std::string& key, std::vector<int8_t>& out) const {
  return GetNumberVector(key, dt_int8_vector, out);
}
bool ByteStream::GetUInt8Vector(const std::string& key, std::vector<uint8_t>& out) const {
  return GetNumberVector(key, dt_uint8_vector, out);
}
bool ByteStream::GetInt16Vector(const std::string& key, std::vector<int16_t>& out) const {
  return GetNumberVector(key, dt_int16_vector, out);
}
bool ByteStream::GetUInt16Vector(const std::string& key, std::vector<uint16_t>& out) const {
  return GetNumberVector(key, dt_uint16_vector, out);
}
bool ByteStream::GetInt32Vector(const std::string& key, std::vector<int32_t>& out) const {
  return GetNumberVector(key, dt_int32_vector, out);
}
bool ByteStream::GetUInt32Vector(const std::string& key, std::vector<uint32_t>& out) const {
  return GetNumberVector(key, dt_uint32_vector, out);
}
bool ByteStream::GetInt64Vector(const std::string& key, std::vector<int64_t>& out) const {
  return GetNumberVector(key, dt_int64_vector, out);
}
bool ByteStream::GetUInt64Vector(const std::string& key, std::vector<uint64_t>& out) const {
  return GetNumberVector(key, dt_uint64_vector, out);
}
bool ByteStream::GetFloatVector(const std::string& key, std::vector<float>& out) const {
  return GetNumberVector(key, dt_float_vector, out);
}
bool ByteStream::GetDoubleVector(const std::string& key, std::vector<double>& out) const {
  return GetNumberVector(key, dt_double_vector, out);
}

bool ByteStream::GetStringVector(const std::string& key, std::vector<std::string>& out) const {
  const ByteStreamBuffer* record = Find(key, dt_string_vector);
  if (record == nullptr) return false;
  out.clear();
  bsformat::ItemListView list;
  if (!list.Parse(record->GetValue(), record->GetValueSize()) || !list.AllItemsValid()) {
    return false;
  }
  out.resize(list.count);
  for (uint64_t i = 0; i < list.count; ++i) {
    const char* item = nullptr;
    uint64_t size = 0;
    list.Item(i, &item, &size);
    out[i].assign(item, size);
  }
  return true;
}

bool ByteStream::GetStreamVector(const std::string& key, std::vector<ByteStream>& out) const {
  const ByteStreamBuffer* record = Find(key, dt_stream_vector);
  return record != nullptr && LoadItems(*record, readOnly, out);
}

bool ByteStream::LoadItems(const ByteStreamBuffer& record, bool view, std::vector<ByteStream>& out) {
  bsformat::ItemListView list;
  if (!list.Parse(record.GetValue(), record.GetValueSize()) || !list.AllItemsValid()) {
    return false;
  }
  out.clear();
  bool loaded = true;
  for (uint64_t i = 0; i < list.count; ++i) {
    const char* item = nullptr;
    uint64_t size = 0;
    list.Item(i, &item, &size);
    ByteStream child(view);
    if (size > 0) loaded = child.LoadStream(const_cast<char*>(item), size) && loaded;
    out.push_back(std::move(child));
  }
  return loaded;
}

// ---- 2-D arrays ----

template <class T>
bool ByteStream::GetArray2D(const std::string& key, ByteStreamDataType type,
                            std::vector<std::vector<T>>& out) const {
  const ByteStreamBuffer* record = Find(key, type);
  return record != nullptr && record->GetVector2DValue(out);
}

bool ByteStream::GetInt8Vector2D(const std::string& key,
                                 std::vector<std::vector<int8_t>>& out) const {
  return GetArray2D(key, dt_int8_vector2D, out);
}
bool ByteStream::GetUInt8Vector2D(const std::string& key,
                                  std::vector<std::vector<uint8_t>>& out) const {
  return GetArray2D(key, dt_uint8_vector2D, out);
}
bool ByteStream::GetInt16Vector2D(const std::string& key,
                                  std::vector<std::vector<int16_t>>& out) const {
  return GetArray2D(key, dt_int16_vector2D, out);
}
bool ByteStream::GetUInt16Vector2D(const std::string& key,
                                   std::vector<std::vector<uint16_t>>& out) const {
  return GetArray2D(key, dt_uint16_vector2D, out);
}
bool ByteStream::GetInt32Vector2D(const std::string& key,
                                  std::vector<std::vector<int32_t>>& out) const {
  return GetArray2D(key, dt_int32_vector2D, out);
}
bool ByteStream::GetUInt32Vector2D(const std::string& key,
                                   std::vector<std::vector<uint32_t>>& out) const {
  return GetArray2D(key, dt_uint32_vector2D, out);
}
bool ByteStream::GetInt64Vector2D(const std::string& key,
                                  std::vector<std::vector<int64_t>>& out) const {
  return GetArray2D(key, dt_int64_vector2D, out);
}
bool ByteStream::GetUInt64Vector2D(const std::string& key,
                                   std::vector<std::vector<uint64_t>>& out) const {
  return GetArray2D(key, dt_uint64_vector2D, out);
}
bool ByteStream::GetFloatVector2D(const std::string& key,
                                  std::vector<std::vector<float>>& out) const {
  return GetArray2D(key, dt_float_vector2D, out);
}
bool ByteStream::GetDoubleVector2D(const std::string& key,
                                   std::vector<std::vector<double>>& out) const {
  return GetArray2D(key, dt_double_vector2D, out);
}
bool ByteStream::GetStringVector2D(const std::string& key,
                                   std::vector<std::vector<std::string>>& out) const {
  return GetArray2D(key, dt_string_vector2D, out);
}
