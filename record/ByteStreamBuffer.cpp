#include "record/ByteStreamBuffer.h"

#include <cstdlib>
#include <new>

#include "record/ByteStreamFormat.h"

using bsformat::kRecordHeaderSize;
using bsformat::kWord;
using bsformat::LoadU64;

ByteStreamBuffer::ByteStreamBuffer(bool view) : owned(!view) {}

ByteStreamBuffer::ByteStreamBuffer(const std::string& key, ByteStreamDataType type,
                                   uint64_t valueSize) {
  uint64_t total;
  if (!bsformat::RecordSize(key.size(), valueSize, &total)) throw std::bad_alloc();
  data = static_cast<char*>(std::malloc(total));
  if (data == nullptr) throw std::bad_alloc();
  size = total;
  bsformat::WriteRecordHead(data, type, key.data(), key.size());
}

ByteStreamBuffer::ByteStreamBuffer(const std::string& key, ByteStreamDataType type, char* dest,
                                   uint64_t size)
    : data(dest), size(size), owned(false) {
  bsformat::WriteRecordHead(dest, type, key.data(), key.size());
}

ByteStreamBuffer::ByteStreamBuffer(ByteStreamBuffer&& other) noexcept
    : data(other.data), size(other.size), owned(other.owned) {
  other.data = nullptr;
  other.size = 0;
  other.owned = false;
}

ByteStreamBuffer& ByteStreamBuffer::operator=(ByteStreamBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    data = other.data;
    size = other.size;
    owned = other.owned;
    other.data = nullptr;
    other.size = 0;
    other.owned = false;
  }
  return *this;
}

ByteStreamBuffer::~ByteStreamBuffer() { Free(); }

void ByteStreamBuffer::Free() {
  if (owned && data != nullptr) std::free(data);
  data = nullptr;
  size = 0;
}

void ByteStreamBuffer::SetView(char* ptr, uint64_t newSize) {
  Free();
  data = ptr;
  size = newSize;
  owned = false;
}

void ByteStreamBuffer::Clear() { Free(); }

bool ByteStreamBuffer::Resize(uint64_t newSize) {
  if (newSize == size) return true;
  if (!owned) return false;
  if (newSize == 0) {
    Free();
    return true;
  }
  char* grown = static_cast<char*>(std::realloc(data, newSize));
  if (grown == nullptr) return false;
  data = grown;
  size = newSize;
  return true;
}

bool ByteStreamBuffer::SetValue(const void* src) {
  if (!IsValid()) return false;
  uint64_t n = GetValueSize();
  if (n > 0) std::memcpy(GetValue(), src, n);
  return true;
}

// ---- header fields ----

bool ByteStreamBuffer::HasHeader() const {
  return data != nullptr && size >= kRecordHeaderSize &&
         LoadU64(data + 1) <= size - kRecordHeaderSize;
}

bool ByteStreamBuffer::IsValid() const { return HasHeader() && ByteStreamIsValidType(GetType()); }

uint8_t ByteStreamBuffer::GetType() const {
  return data != nullptr && size > 0 ? static_cast<uint8_t>(data[0]) : uint8_t{dt_none};
}

uint64_t ByteStreamBuffer::GetKeySize() const { return HasHeader() ? LoadU64(data + 1) : 0; }

std::string ByteStreamBuffer::GetKey() const {
  if (!HasHeader()) return std::string();
  return std::string(data + kRecordHeaderSize, LoadU64(data + 1));
}

char* ByteStreamBuffer::GetValue() const {
  return HasHeader() ? data + kRecordHeaderSize + LoadU64(data + 1) : nullptr;
}

uint64_t ByteStreamBuffer::GetValueSize() const {
  return HasHeader() ? size - kRecordHeaderSize - LoadU64(data + 1) : 0;
}

// ---- vector element access ----

namespace {

bool IsNumberVector(uint8_t t) { return t >= dt_int8_vector && t <= dt_double_vector; }
bool IsNumberArray2D(uint8_t t) { return t >= dt_int8_vector2D && t <= dt_double_vector2D; }

}  // namespace

bool ByteStreamBuffer::IsVectorType() const {
  uint8_t t = GetType();
  return (t >= dt_int8_vector && t <= dt_mat4_vector) || t == dt_stream_vector ||
         t == dt_buffer_vector;
}

bool ByteStreamBuffer::IsVector2DType() const {
  uint8_t t = GetType();
  return t >= dt_int8_vector2D && t <= dt_mat4_vector2D;
}

uint64_t ByteStreamBuffer::GetVectorSize() const {
  if (!(IsVectorType() || IsVector2DType()) || GetValueSize() < kWord) return 0;
  return LoadU64(GetValue());
}

uint64_t ByteStreamBuffer::GetVectorSize(uint64_t i) const {
  uint8_t t = GetType();
  const char* value = GetValue();
  uint64_t length = GetValueSize();
  if (IsNumberVector(t)) {
    bsformat::NumberVectorView v;
    return v.Parse(value, length, ByteStreamElemWidth(t)) && i < v.count ? ByteStreamElemWidth(t)
                                                                         : 0;
  }
  if (t == dt_string_vector) {
    bsformat::ItemListView v;
    const char* item;
    uint64_t n;
    return v.Parse(value, length) && v.Item(i, &item, &n) ? n : 0;
  }
  if (IsVector2DType() && length >= kWord) {
    uint64_t rows = LoadU64(value);
    if (i < rows && rows <= (length - kWord) / kWord) return LoadU64(value + kWord + i * kWord);
  }
  return 0;
}

uint64_t ByteStreamBuffer::GetVectorSize(uint64_t i, uint64_t j) const {
  uint8_t t = GetType();
  if (IsNumberArray2D(t)) return GetVectorElem(i, j) != nullptr ? ByteStreamElemWidth(t) : 0;
  if (t != dt_string_vector2D) return 0;
  bsformat::StringArray2DView v;
  const char* s;
  uint64_t n;
  if (!v.Parse(GetValue(), GetValueSize()) || i >= v.rows || j >= v.RowCount(i)) return 0;
  return v.String(v.RowStart(i) + j, &s, &n) ? n : 0;
}

uint64_t ByteStreamBuffer::GetVectorElemCount() const {
  if (IsVectorType()) return GetVectorSize();
  if (!IsVector2DType()) return 0;
  const char* value = GetValue();
  uint64_t length = GetValueSize();
  if (length < kWord) return 0;
  uint64_t rows = LoadU64(value), sum = 0;
  if (rows > (length - kWord) / kWord) return 0;
  for (uint64_t r = 0; r < rows; ++r) {
    if (!bsformat::CheckedAdd(sum, LoadU64(value + kWord + r * kWord), &sum)) return 0;
  }
  return sum;
}

char* ByteStreamBuffer::GetVectorElem(uint64_t i) const {
  uint8_t t = GetType();
  const char* value = GetValue();
  uint64_t length = GetValueSize();
  const char* found = nullptr;
  uint64_t n;
  if (IsNumberVector(t)) {
    bsformat::NumberVectorView v;
    if (v.Parse(value, length, ByteStreamElemWidth(t)) && i < v.count) {
      found = v.elems + i * ByteStreamElemWidth(t);
    }
  } else if (t == dt_string_vector) {
    bsformat::ItemListView v;
    if (!(v.Parse(value, length) && v.Item(i, &found, &n))) found = nullptr;
  } else if (IsNumberArray2D(t)) {
    bsformat::NumberArray2DView v;
    if (!(v.Parse(value, length, ByteStreamElemWidth(t)) && v.Row(i, &found, &n))) found = nullptr;
  } else if (t == dt_string_vector2D) {
    bsformat::StringArray2DView v;
    if (!(v.Parse(value, length) && i < v.rows && v.String(v.RowStart(i), &found, &n))) {
      found = nullptr;
    }
  }
  return const_cast<char*>(found);
}

char* ByteStreamBuffer::GetVectorElem(uint64_t i, uint64_t j) const {
  uint8_t t = GetType();
  const char* value = GetValue();
  uint64_t length = GetValueSize();
  const char* found = nullptr;
  uint64_t n;
  if (IsNumberArray2D(t)) {
    bsformat::NumberArray2DView v;
    if (v.Parse(value, length, ByteStreamElemWidth(t)) && v.Row(i, &found, &n) && j < n) {
      found += j * v.width;
    } else {
      found = nullptr;
    }
  } else if (t == dt_string_vector2D) {
    bsformat::StringArray2DView v;
    if (!(v.Parse(value, length) && i < v.rows && j < v.RowCount(i) &&
          v.String(v.RowStart(i) + j, &found, &n))) {
      found = nullptr;
    }
  }
  return const_cast<char*>(found);
}
