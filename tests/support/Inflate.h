#pragma once

#include <zlib.h>

#include <cstddef>
#include <string>

namespace testsupport {

// Inflates one permessage-deflate message as a receiver does: the 00 00 FF FF tail the
// sender took off is put back, and the payload goes through `s`, the connection's raw
// inflater, which the caller opens with the agreed window and keeps across messages.
// Output is taken `step` bytes at a time: zlib resolves a distance inside one call's output
// without its window, so only a step shorter than the window lets a too distant match
// show. Stops early once `out` holds more than `limit` bytes. False on a stream error.
bool InflateMessage(z_stream& s, const std::string& payload, std::string& out,
                    size_t step = 65536, size_t limit = static_cast<size_t>(-1));

}  // namespace testsupport
