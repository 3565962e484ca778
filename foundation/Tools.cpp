#include "foundation/Tools.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace AppCore {
namespace Tools {

void OpenWebLink(const std::string& link) {
  std::string program = "xdg-open";
  std::string argument = link;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return;
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::string GetStampYMDHMS() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[96];
  size_t n = std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
  return std::string(text, n);
}

std::vector<uint64_t> SplitRange(unsigned long start, unsigned long count, unsigned int parts) {
  uint64_t step = parts == 0 ? 0 : count / parts;
  uint64_t longer = count - step * parts;
  std::vector<uint64_t> bounds{start};
  for (uint64_t i = 0; i < parts; ++i) bounds.push_back(bounds.back() + step + (i < longer));
  return bounds;
}

std::vector<uint64_t> SplitRange(unsigned long start, unsigned long count, unsigned int maxParts,
                                 unsigned long minChunk) {
  // Counted in 64 bits: a 32-bit count of chunks would wrap for large ranges.
  uint64_t chunks = minChunk == 0 ? (count != 0) : count / minChunk + (count % minChunk != 0);
  unsigned int parts = chunks < maxParts ? static_cast<unsigned int>(chunks) : maxParts;
  return SplitRange(start, count, parts);
}

std::vector<unsigned char> GetBinaryFileContents(const std::string& path) {
  // Only regular files have a size to measure: a directory "opens" and seeks to a bogus end.
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, ec)) in.open(path, std::ios::binary | std::ios::ate);
  std::streamoff size = in.is_open() ? static_cast<std::streamoff>(in.tellg()) : -1;
  if (size < 0) throw std::runtime_error("Could not open \"" + path + "\" file!");
  std::vector<unsigned char> bytes(static_cast<size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

}  // namespace Tools
}  // namespace AppCore
