#pragma once

#include <cstdint>
#include <string>

namespace AppCore {

// True when `access` is exactly "r" (read only) or exactly "w" (read and write). Anything
// else prints a message naming the valid options on standard output and gives false.
bool IsValidAccessType(std::string access);

// Length of the Unicode byte-order signature at the start of `bytes` (EF BB BF, FE FF,
// FF FE 00 00, FF FE or 00 00 FE FF), or 0 when there is none. `size` bounds the look.
// Only text files are opened past a signature: binary files keep every byte.
uint64_t ByteOrderSignatureLength(const unsigned char* bytes, uint64_t size);

// Permission bits of the files the engines create (before the process's creation mask).
constexpr unsigned kNewFileMode = 0644;

}  // namespace AppCore
