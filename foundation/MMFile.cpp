#include "foundation/MMFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "foundation/FileAccess.h"

namespace AppCore {

namespace {

// Cuts the file at `fd` to `length` bytes or extends it with zeros. An extension reserves
// its blocks: a write through the map into a page the file system cannot back (a full disk)
// raises SIGBUS, where posix_fallocate reports ENOSPC now. Only the added bytes are
// reserved: the file's own were reserved when it grew to them, and reserving them again
// costs time that grows with the file on every append.
bool SetLength(int fd, uint64_t length) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  const uint64_t current = static_cast<uint64_t>(status.st_size);
  if (length < current) return ftruncate(fd, static_cast<off_t>(length)) == 0;
  if (length == current) return true;
  int error = posix_fallocate(fd, static_cast<off_t>(current), static_cast<off_t>(length - current));
  errno = error;
  return error == 0;
}

}  // namespace

MMFile::MMFile() : pageSize(static_cast<uint64_t>(sysconf(_SC_PAGESIZE))) {}

MMFile::~MMFile() { ClearAll(); }

MMFile::MMFile(MMFile&& other) noexcept : pageSize(other.pageSize) { MoveFrom(other); }

MMFile& MMFile::operator=(MMFile&& other) noexcept {
  if (this != &other) {
    ClearAll();
    MoveFrom(other);
  }
  return *this;
}

void MMFile::MoveFrom(MMFile& other) {
  TakeState(other);
  fd = other.fd;
  fileStat = other.fileStat;
  mapOffset = other.mapOffset;
  viewSkip = other.viewSkip;
  mapLength = other.mapLength;
  mapAddress = other.mapAddress;
  // The source forgets what it handed over, so its ClearAll closes nothing.
  other.mapAddress = nullptr;
  other.fd = -1;
  other.ClearAll();
}

bool MMFile::OpenFile(const char* path, std::string access, bool text) {
  return OpenFile(std::string(path), std::move(access), text);
}

bool MMFile::OpenFile(const std::string& path, std::string access, bool text) {
  if (!IsValidAccessType(access)) return false;
  std::string target = path;  // `path` may be our own field, which ClearAll empties
  ClearAll();
  this->access = access;
  this->text = text;
  if (!OpenDescriptor(target, access == "w" ? O_RDWR : O_RDONLY)) return false;
  if (fileStat.st_size == 0) {
    std::printf("MMFile - File is empty: %s\n", target.c_str());
    ClearAll();
    return false;
  }
  fileSize = static_cast<uint64_t>(fileStat.st_size);
  if (!SetView(0, fileSize)) return false;
  viewSkip += SkipSignature();
  return true;
}

bool MMFile::NewFile(const char* path, unsigned long size) {
  return NewFile(std::string(path), size);
}

bool MMFile::NewFile(const std::string& path, unsigned long size) {
  std::string target = path;
  ClearAll();
  access = "w";
  if (!OpenDescriptor(target, O_RDWR | O_CREAT | O_TRUNC)) return false;
  return ResizeFile(size == 0 ? 1 : size);
}

// Opens `target` with `flags` (see OpenRegularFile) and reads its status; false, and
// closed, when either fails.
bool MMFile::OpenDescriptor(const std::string& target, int flags) {
  fd = OpenRegularFile(target, flags);
  if (fd < 0) {
    std::perror("MMFile - CreateFile failed with error");
    ClearAll();
    return false;
  }
  path = target;
  if (fstat(fd, &fileStat) != 0) {
    std::perror("MMFile - Getting FileStat failed with error");
    ClearAll();
    return false;
  }
  return true;
}

bool MMFile::SetView() { return SetView(0, fileSize); }

bool MMFile::SetView(unsigned long start, unsigned long size) {
  if (fd < 0) return false;
  bool mapped = mapAddress != nullptr || viewSize == 0;
  if (mapped && start == viewStart && size == viewSize) return true;
  if (start > fileSize) return false;  // nothing there to view
  ClearView();
  return Map(start, size > fileSize - start ? fileSize - start : size);
}

// Maps `size` bytes of content from `start`; both are within the file.
bool MMFile::Map(uint64_t start, uint64_t size) {
  uint64_t fileOffset = start + signature;
  mapOffset = fileOffset - fileOffset % pageSize;
  viewSkip = fileOffset - mapOffset;
  viewStart = start;
  viewSize = size;
  if (size == 0) return true;  // an empty view needs no mapping
  mapLength = viewSkip + size;
  int prot = access == "w" ? PROT_READ | PROT_WRITE : PROT_READ;
  void* address = mmap(nullptr, mapLength, prot, MAP_SHARED, fd, static_cast<off_t>(mapOffset));
  if (address == MAP_FAILED) {
    std::perror("MMFile - mmap failed with error");
    ClearView();
    return false;
  }
  mapAddress = static_cast<unsigned char*>(address);
  view = mapAddress + viewSkip;
  return true;
}

void MMFile::ClearView() {
  if (mapAddress != nullptr) munmap(mapAddress, mapLength);
  view = nullptr;
  viewStart = viewSize = 0;
  mapOffset = viewSkip = mapLength = 0;
  mapAddress = nullptr;
}

void MMFile::ClearAll() {
  ClearView();
  if (fd >= 0) close(fd);
  fd = -1;
  fileStat = {};
  fileSize = 0;
  signature = 0;
  text = false;
  path.clear();
  access.clear();
}

bool MMFile::FlushView() {
  if (access != "w") return false;
  if (mapAddress == nullptr) return true;
  if (msync(mapAddress, mapLength, MS_SYNC) != 0) {
    std::perror("Could not flush memory to disk");
    return false;
  }
  return true;
}

bool MMFile::ResizeFile(unsigned long n) {
  if (access != "w") return false;
  if (n == fileSize) return true;
  if (n == 0) return NewFile(std::string(path), 1);
  if (!SetLength(fd, n + signature)) {
    std::perror("MMFile - ftruncate failed with error");
    return false;
  }
  fileStat.st_size = static_cast<off_t>(n + signature);
  fileSize = n;
  if (mapAddress == nullptr || n <= viewStart) {
    ClearView();
    return Map(0, n);
  }
  uint64_t length = viewSkip + (n - viewStart);
  void* address = mremap(mapAddress, mapLength, length, MREMAP_MAYMOVE);
  if (address == MAP_FAILED) {
    std::perror("MMFile - mremap failed with error");
    ClearView();
    return false;
  }
  mapAddress = static_cast<unsigned char*>(address);
  mapLength = length;
  viewSize = n - viewStart;
  view = mapAddress + viewSkip;
  return true;
}

bool MMFile::WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size) {
  if (access != "w") return false;
  if (size > ~0UL - offset) return false;
  if (offset + size > fileSize && !ResizeFile(offset + size)) return false;
  // The mapping is shared, so bytes written through the descriptor show in the view.
  uint64_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(signature + offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::perror("MMFile - write failed with error");
      return false;
    }
    done += static_cast<uint64_t>(n);
  }
  if (fdatasync(fd) != 0) {
    std::perror("Could not flush memory to disk");
    return false;
  }
  return true;
}

bool MMFile::ChangeAccess(std::string access) {
  if (access == this->access) return true;
  return OpenFile(std::string(path), std::move(access), text);
}

}  // namespace AppCore
