#pragma once

// Helpers shared by the ByteStream tests: images spelled out byte by byte, independently of
// the container's own writer.
#include <cstdint>
#include <string>
#include <vector>

#include "record/ByteStream.h"

namespace bstest {

using Bytes = std::vector<char>;

// Appends v as 8 little-endian bytes.
void PutU64(Bytes& out, uint64_t v);
// Appends the bytes of s.
void PutText(Bytes& out, const std::string& s);
// The bytes of s as a value.
Bytes Str(const std::string& s);
// One record: type, key length, key, value bytes.
Bytes Record(uint8_t type, const std::string& key, const Bytes& value);
// An image of the given records with a directory computed from their lengths.
Bytes Image(const std::vector<Bytes>& records);
// The image of `bs` as bytes.
Bytes ImageOf(const ByteStream& bs);
// The whole file at `path` (empty when it cannot be read), and a file of exactly `bytes`.
Bytes FileBytes(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
// Reads 8 little-endian bytes at p.
uint64_t GetU64(const char* p);

}  // namespace bstest
