#include "foundation/DeflateTools.h"

#include <zlib.h>

namespace AppCore {

const char* DeflateErrorText(int status) {
  switch (status) {
    case Z_OK: return "";
    case Z_STREAM_END: return "stream end";
    case Z_NEED_DICT: return "need dictionary";
    case Z_ERRNO: return "file error";
    case Z_STREAM_ERROR: return "stream error";
    case Z_DATA_ERROR: return "data error";
    case Z_MEM_ERROR: return "out of memory";
    case Z_BUF_ERROR: return "buf error";
    case Z_VERSION_ERROR: return "version error";
    case -10000: return "parameter error";
    default: return "";
  }
}

uint64_t DeflateBound(uint64_t length) {
  unsigned __int128 a = 128 + static_cast<unsigned __int128>(length) * 110 / 100;
  unsigned __int128 b = 128 + static_cast<unsigned __int128>(length) +
                        (static_cast<unsigned __int128>(length / (31 * 1024)) + 1) * 5;
  unsigned __int128 bound = a > b ? a : b;
  return bound > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(bound);
}

}  // namespace AppCore
