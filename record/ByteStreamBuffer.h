#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/ByteStreamDataType.h"

// One record of a ByteStream as one contiguous block: type code, 64-bit key length, key,
// value (layout in record/ByteStreamFormat.h). The block is either owned (allocated with
// malloc by this object and freed by it) or a view of memory owned elsewhere (a container
// image, a mapped file, a received message), which must then outlive the view.
//
// Move-only: moving hands data, size and owned to the destination and leaves the source
// empty (null, 0, not owned). Not thread-safe; one owner at a time.
//
// Every accessor tolerates damaged bytes: a block shorter than its header and key, or a
// vector value whose counts or offsets reach past the value, gives 0, null, false or "{}"
// instead of reading outside the block.
class ByteStreamBuffer {
 public:
  char* data = nullptr;  // first byte of the record (the type code); null when empty
  uint64_t size = 0;     // length of the whole record: header, key and value
  bool owned = true;     // true when this object allocated `data` and frees it

  // An empty record; `owned` is the opposite of `view`.
  explicit ByteStreamBuffer(bool view = false);
  // Allocates 9 + K + valueSize bytes and writes the type code, K and the key; the value
  // bytes are left uninitialised. Throws std::bad_alloc when the allocation fails or the
  // length does not fit in 64 bits.
  ByteStreamBuffer(const std::string& key, ByteStreamDataType type, uint64_t valueSize);
  // Writes the type code, K and the key at `dest` and becomes a view of `dest` with `size`
  // bytes (the whole record length); the value bytes at `dest` are untouched. The caller
  // guarantees that `dest` holds at least 9 + K bytes.
  ByteStreamBuffer(const std::string& key, ByteStreamDataType type, char* dest, uint64_t size);
  ByteStreamBuffer(ByteStreamBuffer&& other) noexcept;
  ByteStreamBuffer& operator=(ByteStreamBuffer&& other) noexcept;
  ByteStreamBuffer(const ByteStreamBuffer&) = delete;
  ByteStreamBuffer& operator=(const ByteStreamBuffer&) = delete;
  ~ByteStreamBuffer();

  // Frees its own bytes when owned, then views `ptr` with `size` bytes.
  void SetView(char* ptr, uint64_t size);
  // Frees its own bytes when owned; data null, size 0, owned unchanged.
  void Clear();
  // Reallocates an owned record to `size` bytes, keeping the leading bytes. True at once
  // when the size is unchanged; false for a view (unchanged) or a failed reallocation (the
  // old bytes stay); size 0 frees the bytes and empties the record.
  bool Resize(uint64_t size);
  // Copies value-length bytes from `src` into the value. False, record unchanged, when the
  // record has no bytes, is shorter than its header and key, or has a type code above 57.
  bool SetValue(const void* src);

  // ---- header fields (all safe on an empty or damaged record) ----
  // True when the record has bytes, holds its whole header and key, and its type is valid.
  bool IsValid() const;
  // True when the record has bytes and holds its whole header and key (type not checked).
  bool HasHeader() const;
  uint8_t GetType() const;         // the type code byte; dt_none for an empty record
  uint64_t GetKeySize() const;     // K; 0 without a complete header
  std::string GetKey() const;      // the key; empty without a complete header and key
  char* GetValue() const;          // first value byte; null without a complete header and key
  uint64_t GetValueSize() const;   // size - 9 - K; 0 without a complete header and key

  // ---- vector element access, in place (layouts in record/ByteStreamFormat.h) ----
  // Codes 18 to 34, 54 and 55.
  bool IsVectorType() const;
  // Codes 35 to 51.
  bool IsVector2DType() const;
  // Codes 18 to 51, 54 and 55: the first word of the value (element or row count); else 0.
  uint64_t GetVectorSize() const;
  // 1-D numbers: element width when i is below the count; dt_string_vector: length of text
  // i; 2-D codes 35 to 51: element count of row i; 0 in every other case.
  uint64_t GetVectorSize(uint64_t i) const;
  // 2-D only: codes 35 to 44 the element width, dt_string_vector2D the length of text j of
  // row i, when i and j are in range; 0 otherwise.
  uint64_t GetVectorSize(uint64_t i, uint64_t j) const;
  // 1-D codes and 54, 55: the element count; 2-D codes: all rows' elements; else 0.
  uint64_t GetVectorElemCount() const;
  // Element (or text) i of a 1-D number or text vector; the first element of row i of a
  // 2-D code 35 to 45; null otherwise. The pointer lives as long as the record's bytes.
  char* GetVectorElem(uint64_t i) const;
  // Element (or text) j of row i of a 2-D code 35 to 45; null otherwise.
  char* GetVectorElem(uint64_t i, uint64_t j) const;

  // ---- vector values: instantiated for the ten number types and std::string ----
  // Resizes this record to hold `values` (layout 1, layout 2 for strings) and writes them.
  // The type code is neither checked against T nor written. False, unchanged, for an
  // invalid record or a view of the wrong length.
  template <class T>
  bool SetVectorValue(const std::vector<T>& values);
  // The same for rows (layout 3, layout 4 for strings).
  template <class T>
  bool SetVector2DValue(const std::vector<std::vector<T>>& rows);
  // Reads layout 3 (layout 4 for strings) into `rows` without looking at the type code.
  // An invalid record or a damaged value empties `rows` and gives false.
  template <class T>
  bool GetVector2DValue(std::vector<std::vector<T>>& rows) const;

  // ---- text forms for the record dump ----
  // T = std::string: the value between double quotes; "" for an invalid record.
  template <class T>
  std::string ValueToString() const;
  // "{ a, b }" for a 1-D vector of T; "{}" for an invalid record or damaged value.
  template <class T>
  std::string VectorValueToString() const;
  // A 2-D value over several lines, rows indented by indent + 4; "{}" when invalid.
  template <class T>
  std::string Vector2DValueToString(int indent) const;

 private:
  void Free();
};
