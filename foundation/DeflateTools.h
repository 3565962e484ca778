#pragma once

#include <cstdint>

// Small helpers shared by everything that deflates (container files, the segment
// compressor). Thread-safe.
namespace AppCore {

// The text printed in compression failure messages for a zlib status code (Z_OK,
// Z_STREAM_ERROR, Z_BUF_ERROR, ...; -10000 is a refused parameter). The texts are the ones
// the system has always printed: "stream error", "buf error", "out of memory" and so on;
// unknown codes give "". The result is a static string.
const char* DeflateErrorText(int status);

// The room the system reserves for deflating `length` bytes: the larger of 128 + 110 % of
// the input and the input + 128 + 5 bytes per started 31 KiB, saturating at UINT64_MAX
// instead of wrapping. Enough for a zlib stream at any level.
uint64_t DeflateBound(uint64_t length);

}  // namespace AppCore
