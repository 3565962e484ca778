#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace AppCore {
namespace Tools {

// Opens `link` with the desktop's default handler ("xdg-open"), which runs as a program
// with the link as its one argument (no shell sees the text). Waits for it; the result is
// ignored, and a missing xdg-open does nothing.
void OpenWebLink(const std::string& link);

// The local time as "%y%m%d%H%M%S" (12 digits).
std::string GetStampYMDHMS();

// Boundaries of `parts` consecutive ranges covering [start, start + count): parts + 1
// values from start to start + count, the first count % parts ranges one longer than the
// rest. `parts` of 0 gives the single boundary `start`.
std::vector<uint64_t> SplitRange(unsigned long start, unsigned long count, unsigned int parts);
// As above with as many parts as chunks of `minChunk` (a last short chunk counts), but at
// most `maxParts`. A `minChunk` of 0 gives one part for a non-empty range.
std::vector<uint64_t> SplitRange(unsigned long start, unsigned long count, unsigned int maxParts,
                                 unsigned long minChunk);

// The whole file's bytes. Throws std::runtime_error ("Could not open \"<path>\" file!")
// when the file cannot be opened or measured.
std::vector<unsigned char> GetBinaryFileContents(const std::string& path);

}  // namespace Tools
}  // namespace AppCore
