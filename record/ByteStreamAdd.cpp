// Every add of a ByteStream: one record per key, written in place in the contiguous modes
// and stored as a separate record otherwise (value layouts in record/ByteStreamFormat.h).
#include <new>
#include <type_traits>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

using bsformat::CheckedAdd;

namespace {

// A value writer copying `size` bytes from `src`.
auto CopyFrom(const void* src, uint64_t size) {
  return [src, size](char* dst) {
    if (size > 0) std::memcpy(dst, src, size);
  };
}

}  // namespace

// Stores a record of `type` with a `valueSize`-byte value under `key`, replacing the key's
// record whatever its type, and lets `write` fill the value. Returns the value's place (null
// for a read-only container). In modes 2 and 3 the record is made in place; when that fails
// the container leaves the contiguous mode (when `mayDetach`) or nothing is stored. A value
// read from this container's own image (`fromImage`) is staged in a separate record first,
// because making room in place may move the image under it. Throws std::bad_alloc when the
// record length does not fit in 64 bits.
template <class WriteFn>
char* ByteStream::Put(const std::string& key, ByteStreamDataType type, uint64_t valueSize,
                      WriteFn write, bool mayDetach, bool fromImage) {
  if (readOnly) return nullptr;
  uint64_t recordSize;
  if (!bsformat::RecordSize(key.size(), valueSize, &recordSize)) throw std::bad_alloc();
  if ((mode == 2 || mode == 3) && !fromImage) {
    int64_t index = WriteAlloc(key, type, valueSize);
    if (index >= 0) {
      char* value = records[index].GetValue();
      write(value);
      return value;
    }
    if (!mayDetach) return nullptr;
    Detach();
  }
  ByteStreamBuffer record(key, type, valueSize);
  write(record.GetValue());
  ByteStreamBuffer* stored = AddRecord(record);
  return stored != nullptr ? stored->GetValue() : nullptr;
}

template <class T>
void ByteStream::AddScalar(const std::string& key, ByteStreamDataType type, T value) {
  Put(key, type, sizeof(T), [&](char* dst) { bsformat::StoreAs(dst, value); });
}

void ByteStream::AddBool(const std::string& key, bool value) {
  AddScalar<uint8_t>(key, dt_uint8, value ? 1 : 0);
}
void ByteStream::AddChar(const std::string& key, char value) { AddScalar(key, dt_int8, value); }
void ByteStream::AddInt8(const std::string& key, int8_t value) { AddScalar(key, dt_int8, value); }
void ByteStream::AddUInt8(const std::string& key, uint8_t value) {
  AddScalar(key, dt_uint8, value);
}
void ByteStream::AddInt16(const std::string& key, int16_t value) {
  AddScalar(key, dt_int16, value);
}
void ByteStream::AddUInt16(const std::string& key, uint16_t value) {
  AddScalar(key, dt_uint16, value);
}
void ByteStream::AddInt32(const std::string& key, int32_t value) {
  AddScalar(key, dt_int32, value);
}
void ByteStream::AddUInt32(const std::string& key, uint32_t value) {
  AddScalar(key, dt_uint32, value);
}
void ByteStream::AddInt64(const std::string& key, int64_t value) {
  AddScalar(key, dt_int64, value);
}
void ByteStream::AddUInt64(const std::string& key, uint64_t value) {
  AddScalar(key, dt_uint64, value);
}
void ByteStream::AddFloat(const std::string& key, float value) {
  AddScalar(key, dt_float, value);
}
void ByteStream::AddDouble(const std::string& key, double value) {
  AddScalar(key, dt_double, value);
}

void ByteStream::AddString(const std::string& key, const std::string& value) {
  Put(key, dt_string, value.size(), CopyFrom(value.data(), value.size()));
}

void ByteStream::AddBuffer(const std::string& key, const AppCore::CharBuffer& value) {
  AddBuffer(key, value.data, value.size);
}

void ByteStream::AddBuffer(const std::string& key, const void* data, uint64_t size) {
  if (data == nullptr && size > 0) return;  // nothing to copy the bytes from
  Put(key, dt_buffer, size, CopyFrom(data, size), true, InImage(data));
}

char* ByteStream::AddBuffer(const std::string& key, uint64_t size) {
  uint64_t recordSize;
  if (!bsformat::RecordSize(key.size(), size, &recordSize)) return nullptr;
  // Growing a block in place must keep its bytes: never fall back to a fresh record.
  return Put(key, dt_buffer, size, [](char*) {}, false);
}

void ByteStream::AddStream(const std::string& key, const ByteStream& value) {
  if (&value == this) {  // the in-place edit would change the image being copied
    AddStream(key, GetCopy());
    return;
  }
  Put(key, dt_stream, value.GetStreamSize(), [&](char* dst) { value.GetStream(dst); }, true,
      ViewsImageOf(value));
}

bool ByteStream::InImage(const void* bytes) const {
  const char* image = ImageData();
  const char* p = static_cast<const char*>(bytes);
  return image != nullptr && p >= image && p < image + streamSize;
}

bool ByteStream::ViewsImageOf(const ByteStream& other) const {
  for (const auto& record : other.records) {
    if (InImage(record.data)) return true;
  }
  return false;
}

// ---- vectors ----

template <class T>
void ByteStream::AddNumberVector(const std::string& key, ByteStreamDataType type,
                                 const std::vector<T>& values) {
  Put(key, type, bsformat::NumberVectorSize(values.size(), sizeof(T)),
      [&](char* dst) { bsformat::WriteNumberVector(dst, values); });
}

void ByteStream::AddInt8Vector(const std::string& key, const std::vector<int8_t>& values) {
  AddNumberVector(key, dt_int8_vector, values);
}
void ByteStream::AddUInt8Vector(const std::string& key, const std::vector<uint8_t>& values) {
  AddNumberVector(key, dt_uint8_vector, values);
}
void ByteStream::AddInt16Vector(const std::string& key, const std::vector<int16_t>& values) {
  AddNumberVector(key, dt_int16_vector, values);
}
void ByteStream::AddUInt16Vector(const std::string& key, const std::vector<uint16_t>& values) {
  AddNumberVector(key, dt_uint16_vector, values);
}
void ByteStream::AddInt32Vector(const std::string& key, const std::vector<int32_t>& values) {
  AddNumberVector(key, dt_int32_vector, values);
}
void ByteStream::AddUInt32Vector(const std::string& key, const std::vector<uint32_t>& values) {
  AddNumberVector(key, dt_uint32_vector, values);
}
void ByteStream::AddInt64Vector(const std::string& key, const std::vector<int64_t>& values) {
  AddNumberVector(key, dt_int64_vector, values);
}
void ByteStream::AddUInt64Vector(const std::string& key, const std::vector<uint64_t>& values) {
  AddNumberVector(key, dt_uint64_vector, values);
}
void ByteStream::AddFloatVector(const std::string& key, const std::vector<float>& values) {
  AddNumberVector(key, dt_float_vector, values);
}
void ByteStream::AddDoubleVector(const std::string& key, const std::vector<double>& values) {
  AddNumberVector(key, dt_double_vector, values);
}

void ByteStream::AddStringVector(const std::string& key, const std::vector<std::string>& values) {
  uint64_t bytes = 0;
  for (const auto& s : values) bytes += s.size();
  Put(key, dt_string_vector, bsformat::ItemListSize(values.size(), bytes), [&](char* dst) {
    bsformat::WriteItemList(
        dst, values.size(), [&](uint64_t i) { return values[i].size(); },
        [&](uint64_t i, char* at) {
          if (!values[i].empty()) std::memcpy(at, values[i].data(), values[i].size());
        });
  });
}

void ByteStream::AddStreamVector(const std::string& key, const std::vector<ByteStream>& values) {
  uint64_t bytes = 0;
  bool fromImage = false;
  for (const auto& child : values) {
    bytes += child.GetStreamSize();
    // This container among its own items: an in-place add would grow the image being
    // copied, so its value is staged like one read from the image.
    fromImage = fromImage || &child == this || ViewsImageOf(child);
  }
  Put(
      key, dt_stream_vector, bsformat::ItemListSize(values.size(), bytes),
      [&](char* dst) {
        bsformat::WriteItemList(
            dst, values.size(), [&](uint64_t i) { return values[i].GetStreamSize(); },
            [&](uint64_t i, char* at) { values[i].GetStream(at); });
      },
      true, fromImage);
}

void ByteStream::AddBufferVector(const std::string& key, const std::vector<char*>& data,
                                 const std::vector<uint64_t>& sizes) {
  if (data.size() != sizes.size()) return;
  uint64_t bytes = 0, valueSize;
  bool fromImage = false;
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (data[i] == nullptr && sizes[i] > 0) return;  // nothing to copy the bytes from
    if (!CheckedAdd(bytes, sizes[i], &bytes)) throw std::bad_alloc();
    fromImage = fromImage || InImage(data[i]);
  }
  if (!CheckedAdd(bsformat::ItemListSize(sizes.size(), 0), bytes, &valueSize)) {
    throw std::bad_alloc();
  }
  Put(
      key, dt_buffer_vector, valueSize,
      [&](char* dst) {
        bsformat::WriteItemList(
            dst, sizes.size(), [&](uint64_t i) { return sizes[i]; },
            [&](uint64_t i, char* at) {
              if (sizes[i] > 0) std::memcpy(at, data[i], sizes[i]);
            });
      },
      true, fromImage);
}

// ---- 2-D arrays ----

template <class T>
void ByteStream::AddArray2D(const std::string& key, ByteStreamDataType type,
                            const std::vector<std::vector<T>>& rows) {
  if constexpr (std::is_same_v<T, std::string>) {
    Put(key, type, bsformat::StringArray2DSize(rows),
        [&](char* dst) { bsformat::WriteStringArray2D(dst, rows); });
  } else {
    Put(key, type, bsformat::NumberArray2DSize(rows),
        [&](char* dst) { bsformat::WriteNumberArray2D(dst, rows); });
  }
}

void ByteStream::AddInt8Vector2D(const std::string& key,
                                 const std::vector<std::vector<int8_t>>& rows) {
  AddArray2D(key, dt_int8_vector2D, rows);
}
void ByteStream::AddUInt8Vector2D(const std::string& key,
                                  const std::vector<std::vector<uint8_t>>& rows) {
  AddArray2D(key, dt_uint8_vector2D, rows);
}
void ByteStream::AddInt16Vector2D(const std::string& key,
                                  const std::vector<std::vector<int16_t>>& rows) {
  AddArray2D(key, dt_int16_vector2D, rows);
}
void ByteStream::AddUInt16Vector2D(const std::string& key,
                                   const std::vector<std::vector<uint16_t>>& rows) {
  AddArray2D(key, dt_uint16_vector2D, rows);
}
void ByteStream::AddInt32Vector2D(const std::string& key,
                                  const std::vector<std::vector<int32_t>>& rows) {
  AddArray2D(key, dt_int32_vector2D, rows);
}
void ByteStream::AddUInt32Vector2D(const std::string& key,
                                   const std::vector<std::vector<uint32_t>>& rows) {
  AddArray2D(key, dt_uint32_vector2D, rows);
}
void ByteStream::AddInt64Vector2D(const std::string& key,
                                  const std::vector<std::vector<int64_t>>& rows) {
  AddArray2D(key, dt_int64_vector2D, rows);
}
void ByteStream::AddUInt64Vector2D(const std::string& key,
                                   const std::vector<std::vector<uint64_t>>& rows) {
  AddArray2D(key, dt_uint64_vector2D, rows);
}
void ByteStream::AddFloatVector2D(const std::string& key,
                                  const std::vector<std::vector<float>>& rows) {
  AddArray2D(key, dt_float_vector2D, rows);
}
void ByteStream::AddDoubleVector2D(const std::string& key,
                                   const std::vector<std::vector<double>>& rows) {
  AddArray2D(key, dt_double_vector2D, rows);
}
void ByteStream::AddStringVector2D(const std::string& key,
                                   const std::vector<std::vector<std::string>>& rows) {
  AddArray2D(key, dt_string_vector2D, rows);
}
