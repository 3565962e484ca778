// Compressed container images from outside: inflate, load (copying and viewing) and read
// every record. Random bytes almost never inflate, so the first input byte chooses: even,
// the rest is taken as a compressed form; odd, the rest is an image that is deflated here
// and given a stored length off from the true one by (byte >> 1) - 64, so that valid and
// lying lengths reach the loader with real deflate data behind them.
#include <zlib.h>

#include "bytestream_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> form(data + 1, data + size);
  if (data[0] & 1) {
    uLongf packed = compressBound(form.size());
    std::vector<uint8_t> wrapped(8 + packed);
    uint64_t stored = form.size() + (data[0] >> 1) - 64;
    std::memcpy(wrapped.data(), &stored, 8);
    compress2(wrapped.data() + 8, &packed, form.data(), form.size(), 6);
    wrapped.resize(8 + packed);
    form.swap(wrapped);
  }
  bsfuzz::Run(form.data(), form.size(), [](ByteStream& bs, char* bytes, uint64_t n) {
    return bs.LoadCompressedStream(bytes, n);
  });
  return 0;
}
