#pragma once

namespace AppCore {

// The text printed in compression failure messages for a zlib status code (Z_OK,
// Z_STREAM_ERROR, Z_BUF_ERROR, ...). The texts are the ones the system has always printed:
// "stream error", "buf error", "out of memory" and so on; unknown codes give
// "unknown error". The result is a static string; thread-safe.
const char* DeflateErrorText(int status);

}  // namespace AppCore
