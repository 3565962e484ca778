#include "foundation/FileAccess.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace AppCore {

bool IsValidAccessType(std::string access) {
  if (access == "r" || access == "w") return true;
  std::printf("Requested file access, \"%s\" not valid. Valid options: \"r\", \"w\"",
              access.c_str());
  return false;
}

uint64_t ByteOrderSignatureLength(const unsigned char* bytes, uint64_t size) {
  auto starts = [&](const char* sig, uint64_t n) {
    return size >= n && std::memcmp(bytes, sig, n) == 0;
  };
  if (starts("\xEF\xBB\xBF", 3)) return 3;
  if (starts("\xFE\xFF", 2)) return 2;
  if (starts("\xFF\xFE\x00\x00", 4)) return 4;
  if (starts("\xFF\xFE", 2)) return 2;
  if (starts("\x00\x00\xFE\xFF", 4)) return 4;
  return 0;
}

void OpenFileState::TakeState(OpenFileState& other) {
  view = other.view;
  fileSize = other.fileSize;
  viewStart = other.viewStart;
  viewSize = other.viewSize;
  path = std::move(other.path);
  access = std::move(other.access);
  signature = other.signature;
  text = other.text;
  other.path.clear();
  other.access.clear();
}

uint64_t OpenFileState::SkipSignature() {
  if (!text) return 0;
  signature = ByteOrderSignatureLength(view, viewSize);
  fileSize -= signature;
  viewSize -= signature;
  view += signature;
  return signature;
}

}  // namespace AppCore
