#pragma once

#include <cstdint>

namespace AppCore {

// A growable block of bytes from the process heap together with its size.
//
// The buffer owns its block and releases it with free(); it can be moved but not copied.
// An empty buffer has a null `data` and a `size` of 0. Allocation failures throw
// std::bad_alloc and leave the buffer as it was. Not thread-safe: one owner at a time.
class CharBuffer {
 public:
  char* data = nullptr;
  uint64_t size = 0;

  CharBuffer() = default;
  // Adopts `data` (which must come from malloc, calloc or realloc, or be null) without
  // copying; the buffer frees it later.
  CharBuffer(char* data, unsigned long size);
  // A new block of `size` uninitialised bytes (empty when `size` is 0).
  explicit CharBuffer(unsigned long size);
  // A new zero-filled block of count * elemSize bytes; a product that overflows throws.
  CharBuffer(unsigned long count, unsigned long elemSize);
  ~CharBuffer();

  CharBuffer(CharBuffer&& other) noexcept;
  CharBuffer& operator=(CharBuffer&& other) noexcept;
  CharBuffer(const CharBuffer&) = delete;
  CharBuffer& operator=(const CharBuffer&) = delete;

  // Equal when both hold the same number of bytes and the bytes are the same.
  bool operator==(const CharBuffer& other) const;
  bool operator!=(const CharBuffer& other) const { return !(*this == other); }

  // Frees the block; the buffer is empty afterwards.
  void Clear();
  // Makes the block exactly `n` bytes long, keeping the contents up to the smaller size;
  // new bytes are uninitialised. `n` of 0 empties the buffer.
  void Resize(unsigned long n);
  // Like Resize, but only when `n` exceeds the current size: never shrinks.
  void Grow(unsigned long n);
};

}  // namespace AppCore
