#pragma once

#include <string>

namespace testsupport {

// Whole-file reads and writes through plain iostreams, independent of the file engines
// under test. Both throw std::runtime_error when the file cannot be opened.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace testsupport
