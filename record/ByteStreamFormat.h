#pragma once

// The binary layout of a ByteStream, described once for its writers and its readers.
// Every integer is little-endian and nothing is aligned or padded, so every multi-byte field
// is read and written through memcpy (LoadU64 / StoreU64 / StoreAs).
//
// Record (one ByteStreamBuffer):
//   offset 0      1 byte   type code (ByteStreamDataType)
//   offset 1      8 bytes  key length K
//   offset 9      K bytes  key, no terminator (K may be 0)
//   offset 9 + K  rest     value; its length is the record length - 9 - K
// The record length is not stored in the record: the image directory gives it.
//
// Image (a whole container):
//   offset 0            8 bytes        N, the record count
//   offset 8            8 (N + 1)      directory: absolute offset of records 0 .. N-1, then
//                                      the total image length
//   offset 8 (N + 2)    rest           the N records, in directory order
// An empty image is 16 bytes: N = 0 and the single entry 16.
//
// Values:
//   scalars (codes 1-10)     the value's own bytes, PODSize[code] wide
//   dt_string, dt_buffer     the bytes themselves; dt_stream: a complete nested image
//   layout 1, number vector  count; count elements
//   layout 2, item list      N; N + 1 offsets from the start of the item area (first 0,
//   (strings, streams,       last L); the L item bytes. Item i spans offsets i .. i + 1.
//    buffers)
//   layout 3, 2-D numbers    R; R row element counts; all elements, row after row
//   layout 4, 2-D strings    R; R row string counts; T + 1 offsets (T strings numbered
//                            across rows, first 0, last L); the L string bytes
//
// Values read from an image come from outside the process: the readers (the *View types
// below) check every count and offset against the value's length, without overflow, and
// refuse a value that does not fit instead of reading past it.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the ByteStream format is little-endian and read with memcpy");

namespace bsformat {

constexpr uint64_t kWord = 8;               // every count, length and offset
constexpr uint64_t kRecordHeaderSize = 9;   // type code + key length
constexpr uint64_t kEmptyImageSize = 16;    // N = 0 and one directory entry
constexpr uint64_t kCompressedHeaderSize = 8;  // image length before the zlib stream

inline uint64_t LoadU64(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreU64(void* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

template <class T>
void StoreAs(void* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}

// Overflow-checked arithmetic: false when the result does not fit in 64 bits.
inline bool CheckedAdd(uint64_t a, uint64_t b, uint64_t* out) {
  return !__builtin_add_overflow(a, b, out);
}
inline bool CheckedMul(uint64_t a, uint64_t b, uint64_t* out) {
  return !__builtin_mul_overflow(a, b, out);
}

// Where the records of an image with `count` records begin: 8 (count + 2).
inline bool RecordsStart(uint64_t count, uint64_t* out) {
  return count <= (UINT64_MAX / kWord) - 2 && (*out = kWord * (count + 2), true);
}

// Length of a record with a key of `keySize` bytes and a value of `valueSize` bytes.
inline bool RecordSize(uint64_t keySize, uint64_t valueSize, uint64_t* out) {
  return CheckedAdd(kRecordHeaderSize, keySize, out) && CheckedAdd(*out, valueSize, out);
}

// A record of `size` bytes at `record` holds its whole header and key.
inline bool HeaderFits(const char* record, uint64_t size) {
  return size >= kRecordHeaderSize && LoadU64(record + 1) <= size - kRecordHeaderSize;
}

// Length of an image whose `count` records have the lengths at `recordSizes`.
inline uint64_t ImageSize(const uint64_t* recordSizes, uint64_t count) {
  uint64_t size = kWord * (count + 2);
  for (uint64_t i = 0; i < count; ++i) size += recordSizes[i];
  return size;
}

// Writes N and the directory of an image whose `count` records have the lengths at
// `recordSizes`, and returns where record 0 goes; the caller writes the records one after
// the other from there. For writers that know their records' lengths before their bytes.
inline char* WriteImageHead(char* dst, const uint64_t* recordSizes, uint64_t count) {
  StoreU64(dst, count);
  uint64_t at = kWord * (count + 2);
  for (uint64_t i = 0; i < count; ++i) {
    StoreU64(dst + kWord * (i + 1), at);
    at += recordSizes[i];
  }
  StoreU64(dst + kWord * (count + 1), at);
  return dst + kWord * (count + 2);
}

// Writes a record's type code, key length and key at dst, and returns its first value byte.
inline char* WriteRecordHead(char* dst, uint8_t type, const char* key, uint64_t keySize) {
  dst[0] = static_cast<char>(type);
  StoreU64(dst + 1, keySize);
  if (keySize > 0) std::memcpy(dst + kRecordHeaderSize, key, keySize);
  return dst + kRecordHeaderSize + keySize;
}

// Walks the records of an image as a load takes them: one after the other from 8 (N + 2),
// each as long as its directory entry says (an entry equal to its predecessor gives no
// record). Calls onRecord(offset, size) for each record. False, after the records before
// the fault, when the directory does not fit, an entry lies past the end, the records run
// past the end, or a record is shorter than its own header and key. Reads nothing outside
// data .. data + length.
template <class Fn>
bool ScanImage(const char* data, uint64_t length, Fn onRecord) {
  if (data == nullptr || length < kWord) return false;
  uint64_t count = LoadU64(data), cursor;
  if (!RecordsStart(count, &cursor) || cursor > length) return false;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t begin = LoadU64(data + kWord * (i + 1)), end = LoadU64(data + kWord * (i + 2));
    if (end > length) return false;
    if (end <= begin) continue;
    uint64_t size = end - begin;
    if (size > length - cursor || !HeaderFits(data + cursor, size)) return false;
    onRecord(cursor, size);
    cursor += size;
  }
  return true;
}

// An image that loads and whose directory is exactly its records' places: the first entry
// 8 (N + 2), every record non-empty, the last entry the length. Images edited in place must
// be exact, because the edits read the directory from the image.
inline bool IsExactImage(const char* data, uint64_t length) {
  if (!ScanImage(data, length, [](uint64_t, uint64_t) {})) return false;
  uint64_t count = LoadU64(data), expect;
  RecordsStart(count, &expect);
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t begin = LoadU64(data + kWord * (i + 1)), end = LoadU64(data + kWord * (i + 2));
    if (begin != expect || end <= begin) return false;
    expect = end;
  }
  return expect == length;
}

// ---- layout 1: number vector ----

inline uint64_t NumberVectorSize(uint64_t count, uint64_t width) { return kWord + count * width; }

template <class T>
void WriteNumberVector(char* dst, const std::vector<T>& values) {
  StoreU64(dst, values.size());
  if (!values.empty()) std::memcpy(dst + kWord, values.data(), values.size() * sizeof(T));
}

// A number vector inside a value of `length` bytes; valid only when the value is exactly
// 8 + count * width bytes long.
struct NumberVectorView {
  uint64_t count = 0;
  const char* elems = nullptr;
  bool Parse(const char* value, uint64_t length, uint64_t width) {
    if (width == 0 || length < kWord) return false;
    count = LoadU64(value);
    elems = value + kWord;
    return count <= (length - kWord) / width && count * width == length - kWord;
  }
};

// ---- layout 2: item list ----

inline uint64_t ItemListSize(uint64_t count, uint64_t itemBytes) {
  return 2 * kWord + count * kWord + itemBytes;
}

// Writes N, the offsets and the items; `lengthOf(i)` gives item i's length and
// `writeItem(i, dst)` writes its bytes at dst.
template <class LengthFn, class WriteFn>
void WriteItemList(char* dst, uint64_t count, LengthFn lengthOf, WriteFn writeItem) {
  StoreU64(dst, count);
  char* offsets = dst + kWord;
  char* items = offsets + (count + 1) * kWord;
  uint64_t at = 0;
  for (uint64_t i = 0; i < count; ++i) {
    StoreU64(offsets + i * kWord, at);
    writeItem(i, items + at);
    at += lengthOf(i);
  }
  StoreU64(offsets + count * kWord, at);
}

// An item list inside a value of `length` bytes. Parse checks the header; Item checks the
// offsets of one item, so a damaged offset refuses that item only.
struct ItemListView {
  uint64_t count = 0;
  const char* offsets = nullptr;
  const char* items = nullptr;
  uint64_t itemBytes = 0;  // room left for the item area
  bool Parse(const char* value, uint64_t length) {
    if (length < 2 * kWord) return false;
    count = LoadU64(value);
    if (count > (length - 2 * kWord) / kWord) return false;
    offsets = value + kWord;
    items = offsets + (count + 1) * kWord;
    itemBytes = length - 2 * kWord - count * kWord;
    return true;
  }
  bool Item(uint64_t i, const char** data, uint64_t* size) const {
    if (i >= count) return false;
    uint64_t begin = LoadU64(offsets + i * kWord), end = LoadU64(offsets + (i + 1) * kWord);
    if (begin > end || end > itemBytes) return false;
    *data = items + begin;
    *size = end - begin;
    return true;
  }
  // True when every item passes Item().
  bool AllItemsValid() const {
    const char* d;
    uint64_t s;
    for (uint64_t i = 0; i < count; ++i) {
      if (!Item(i, &d, &s)) return false;
    }
    return true;
  }
};

// ---- layout 3: 2-D numbers ----

template <class T>
uint64_t NumberArray2DSize(const std::vector<std::vector<T>>& rows) {
  uint64_t size = kWord + rows.size() * kWord;
  for (const auto& row : rows) size += row.size() * sizeof(T);
  return size;
}

template <class T>
void WriteNumberArray2D(char* dst, const std::vector<std::vector<T>>& rows) {
  StoreU64(dst, rows.size());
  char* counts = dst + kWord;
  char* elems = counts + rows.size() * kWord;
  for (size_t r = 0; r < rows.size(); ++r) {
    StoreU64(counts + r * kWord, rows[r].size());
    if (!rows[r].empty()) std::memcpy(elems, rows[r].data(), rows[r].size() * sizeof(T));
    elems += rows[r].size() * sizeof(T);
  }
}

// A 2-D number array inside a value of `length` bytes. Parse checks the row table;
// Row locates one row and checks it against the element area.
struct NumberArray2DView {
  uint64_t rows = 0;
  uint64_t width = 0;
  const char* counts = nullptr;
  const char* elems = nullptr;
  uint64_t elemBytes = 0;
  bool Parse(const char* value, uint64_t length, uint64_t elemWidth) {
    if (elemWidth == 0 || length < kWord) return false;
    width = elemWidth;
    rows = LoadU64(value);
    if (rows > (length - kWord) / kWord) return false;
    counts = value + kWord;
    elems = counts + rows * kWord;
    elemBytes = length - kWord - rows * kWord;
    return true;
  }
  uint64_t RowCount(uint64_t r) const { return LoadU64(counts + r * kWord); }
  // Row r's first element and element count, when rows 0 .. r all fit the element area.
  bool Row(uint64_t r, const char** first, uint64_t* count) const {
    if (r >= rows) return false;
    uint64_t start = 0;  // elements before row r
    for (uint64_t k = 0; k <= r; ++k) {
      uint64_t n = RowCount(k), bytes;
      if (!CheckedMul(n, width, &bytes) || bytes > elemBytes - start * width) return false;
      if (k == r) {
        *first = elems + start * width;
        *count = n;
        return true;
      }
      start += n;
    }
    return false;
  }
  // True when the rows fill the element area exactly.
  bool Exact() const {
    uint64_t used = 0, bytes;
    for (uint64_t r = 0; r < rows; ++r) {
      if (!CheckedMul(RowCount(r), width, &bytes) || !CheckedAdd(used, bytes, &used)) return false;
    }
    return used == elemBytes;
  }
};

// ---- layout 4: 2-D strings ----

inline uint64_t StringArray2DSize(const std::vector<std::vector<std::string>>& rows) {
  uint64_t size = 2 * kWord + rows.size() * kWord;
  for (const auto& row : rows) {
    for (const auto& s : row) size += kWord + s.size();
  }
  return size;
}

inline void WriteStringArray2D(char* dst, const std::vector<std::vector<std::string>>& rows) {
  uint64_t total = 0;
  for (const auto& row : rows) total += row.size();
  StoreU64(dst, rows.size());
  char* counts = dst + kWord;
  char* offsets = counts + rows.size() * kWord;
  char* bytes = offsets + (total + 1) * kWord;
  uint64_t k = 0, at = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    StoreU64(counts + r * kWord, rows[r].size());
    for (const auto& s : rows[r]) {
      StoreU64(offsets + k++ * kWord, at);
      if (!s.empty()) std::memcpy(bytes + at, s.data(), s.size());
      at += s.size();
    }
  }
  StoreU64(offsets + total * kWord, at);
}

// A 2-D string array inside a value of `length` bytes. Parse checks the row table and that
// the T + 1 offsets fit; String checks one string's offsets against the string area.
struct StringArray2DView {
  uint64_t rows = 0;
  uint64_t total = 0;  // T, strings in all rows
  const char* counts = nullptr;
  const char* offsets = nullptr;
  const char* bytes = nullptr;
  uint64_t byteCount = 0;
  bool Parse(const char* value, uint64_t length) {
    if (length < 2 * kWord) return false;
    rows = LoadU64(value);
    uint64_t room = (length - 2 * kWord) / kWord;  // words left for counts and offsets
    if (rows > room) return false;
    counts = value + kWord;
    total = 0;
    for (uint64_t r = 0; r < rows; ++r) {
      if (!CheckedAdd(total, RowCount(r), &total) || total > room - rows) return false;
    }
    offsets = counts + rows * kWord;
    bytes = offsets + (total + 1) * kWord;
    byteCount = length - 2 * kWord - (rows + total) * kWord;
    return true;
  }
  uint64_t RowCount(uint64_t r) const { return LoadU64(counts + r * kWord); }
  // Index (across all rows) of the first string of row r; r must be below rows.
  uint64_t RowStart(uint64_t r) const {
    uint64_t k = 0;
    for (uint64_t i = 0; i < r; ++i) k += RowCount(i);
    return k;
  }
  bool String(uint64_t k, const char** data, uint64_t* size) const {
    if (k >= total) return false;
    uint64_t begin = LoadU64(offsets + k * kWord), end = LoadU64(offsets + (k + 1) * kWord);
    if (begin > end || end > byteCount) return false;
    *data = bytes + begin;
    *size = end - begin;
    return true;
  }
};

}  // namespace bsformat
