#include "foundation/CharBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace AppCore {

CharBuffer::CharBuffer(char* data, unsigned long size) : data(data), size(data ? size : 0) {}

CharBuffer::CharBuffer(unsigned long size) {
  if (size == 0) return;
  data = static_cast<char*>(std::malloc(size));
  if (data == nullptr) throw std::bad_alloc();
  this->size = size;
}

CharBuffer::CharBuffer(unsigned long count, unsigned long elemSize) {
  if (count == 0 || elemSize == 0) return;
  if (count > ~0UL / elemSize) throw std::bad_alloc();
  data = static_cast<char*>(std::calloc(count, elemSize));
  if (data == nullptr) throw std::bad_alloc();
  size = count * elemSize;
}

CharBuffer::~CharBuffer() { std::free(data); }

CharBuffer::CharBuffer(CharBuffer&& other) noexcept : data(other.data), size(other.size) {
  other.data = nullptr;
  other.size = 0;
}

CharBuffer& CharBuffer::operator=(CharBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data);
    data = other.data;
    size = other.size;
    other.data = nullptr;
    other.size = 0;
  }
  return *this;
}

bool CharBuffer::operator==(const CharBuffer& other) const {
  return size == other.size && (size == 0 || std::memcmp(data, other.data, size) == 0);
}

void CharBuffer::Clear() {
  std::free(data);
  data = nullptr;
  size = 0;
}

void CharBuffer::Resize(unsigned long n) {
  if (n == size) return;
  if (n == 0) {
    Clear();
    return;
  }
  char* block = static_cast<char*>(std::realloc(data, n));
  if (block == nullptr) throw std::bad_alloc();
  data = block;
  size = n;
}

void CharBuffer::Grow(unsigned long n) {
  if (n > size) Resize(n);
}

}  // namespace AppCore
