#pragma once

// Little-endian integers as the wire and file formats store them, shared by the
// independent decoder and encoder (not by the service's own code).

#include <cstdint>
#include <string>

namespace testsupport {
namespace wirebytes {

// Appends the low `width` bytes of `v`, least significant first.
inline void Put(std::string* out, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Reads `width` bytes at `p`, least significant first. The caller checks the bounds.
inline uint64_t Load(const char* p, unsigned width) {
  uint64_t v = 0;
  for (int i = static_cast<int>(width) - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// Sets `*error` (when given) and returns false.
inline bool Fail(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return false;
}

}  // namespace wirebytes
}  // namespace testsupport
