// Container images from outside: load (copying and viewing) and read every record.
#include "bytestream_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bsfuzz::Run(data, size,
              [](ByteStream& bs, char* bytes, uint64_t n) { return bs.LoadStream(bytes, n); });
  return 0;
}
