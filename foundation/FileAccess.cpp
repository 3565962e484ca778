#include "foundation/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
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

int OpenRegularFile(const std::string& path, int flags) {
  // O_NONBLOCK lets the open of a FIFO return at once; regular files ignore it.
  int fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, kNewFileMode);
  if (fd < 0) return -1;
  struct stat status {};
  int error = 0;
  if (fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    error = EINVAL;
  }
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return -1;
}

namespace {

bool SameVersion(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Reads `size` bytes from the start of `fd` into `bytes`; false (errno set) when a read
// fails or the file ends first.
bool ReadAll(int fd, char* bytes, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EAGAIN;  // cut meanwhile
      return false;
    }
    done += static_cast<uint64_t>(n);
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, CharBuffer& out) {
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat before {}, after {};
  bool read = fstat(fd, &before) == 0;
  CharBuffer bytes;
  try {
    bytes = CharBuffer(read ? static_cast<uint64_t>(before.st_size) : 0);
  } catch (const std::bad_alloc&) {
    read = false;
    errno = ENOMEM;
  }
  read = read && ReadAll(fd, bytes.data, bytes.size) && fstat(fd, &after) == 0;
  if (read && !SameVersion(before, after)) {
    read = false;
    errno = EAGAIN;
  }
  int error = errno;
  close(fd);
  errno = error;
  if (read) out = std::move(bytes);
  return read;
}

bool FileVersion::operator==(const FileVersion& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified == other.modified && changed == other.changed;
}

namespace {

// A file time in nanoseconds since 1970; times set beyond what 64 bits hold (before 1678 or
// after 2262, which only a deliberate touch gives) are held at those limits.
int64_t Nanoseconds(const struct timespec& time) {
  constexpr int64_t kNs = 1000000000;
  constexpr int64_t kLimit = INT64_MAX / kNs - 1;
  const int64_t seconds = std::max<int64_t>(std::min<int64_t>(time.tv_sec, kLimit), -kLimit);
  return seconds * kNs + time.tv_nsec;
}

}  // namespace

bool GetFileVersion(const std::string& path, FileVersion& out) {
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat status {};
  const bool known = fstat(fd, &status) == 0;
  const int error = errno;
  close(fd);
  if (!known) {
    errno = error;
    return false;
  }
  out.device = static_cast<uint64_t>(status.st_dev);
  out.inode = static_cast<uint64_t>(status.st_ino);
  out.size = static_cast<uint64_t>(status.st_size);
  out.modified = Nanoseconds(status.st_mtim);
  out.changed = Nanoseconds(status.st_ctim);
  return true;
}

}  // namespace AppCore
