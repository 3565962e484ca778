#include "foundation/DeflateError.h"

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
    default: return "unknown error";
  }
}

}  // namespace AppCore
