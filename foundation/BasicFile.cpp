#include "foundation/BasicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <new>
#include <utility>

#include "foundation/FileAccess.h"

namespace AppCore {

BasicFile::~BasicFile() { ClearAll(); }

BasicFile::BasicFile(BasicFile&& other) noexcept { MoveFrom(other); }

BasicFile& BasicFile::operator=(BasicFile&& other) noexcept {
  if (this != &other) {
    ClearAll();
    MoveFrom(other);
  }
  return *this;
}

void BasicFile::MoveFrom(BasicFile& other) {
  TakeState(other);
  stream = other.stream;
  block = other.block;
  // The source forgets what it handed over, so its ClearAll releases nothing.
  other.stream = nullptr;
  other.block = nullptr;
  other.ClearAll();
}

bool BasicFile::OpenFile(const char* path, std::string access, bool text) {
  return OpenFile(std::string(path), std::move(access), text);
}

bool BasicFile::OpenFile(const std::string& path, std::string access, bool text) {
  if (!IsValidAccessType(access)) return false;
  std::string target = path;  // `path` may be our own field, which ClearAll empties
  ClearAll();
  int fd = OpenRegularFile(target, access == "w" ? O_RDWR : O_RDONLY);
  if (fd >= 0) stream = fdopen(fd, access == "w" ? "rb+" : "rb");
  if (stream == nullptr) {
    std::printf("BasicFile - Error opening file %s with error no: %d\n", target.c_str(), errno);
    if (fd >= 0) close(fd);
    return false;
  }
  this->access = access;
  this->text = text;
  this->path = target;
  if (fseeko(stream, 0, SEEK_END) != 0) {
    ClearAll();
    return false;
  }
  fileSize = static_cast<uint64_t>(ftello(stream));
  if (!SetView(0, fileSize)) return false;
  SkipSignature();
  return true;
}

bool BasicFile::NewFile(const char* path, unsigned long size) {
  return NewFile(std::string(path), size);
}

bool BasicFile::NewFile(const std::string& path, unsigned long size) {
  std::string target = path;
  ClearAll();
  int fd = OpenRegularFile(target, O_RDWR | O_CREAT | O_TRUNC);
  if (fd >= 0) stream = fdopen(fd, "wb+");
  if (stream == nullptr) {
    std::printf("BasicFile - Error creating new file %s\n", target.c_str());
    if (fd >= 0) close(fd);
    return false;
  }
  access = "w";
  this->path = target;
  fileSize = viewSize = size == 0 ? 1 : size;
  block = static_cast<unsigned char*>(std::calloc(viewSize, 1));
  if (block == nullptr) throw std::bad_alloc();
  view = block;
  return true;
}

bool BasicFile::SetView() { return SetView(0, fileSize); }

bool BasicFile::SetView(unsigned long start, unsigned long size) {
  if (stream == nullptr || start > fileSize) return false;
  ClearView();
  viewStart = start;
  viewSize = size > fileSize - start ? fileSize - start : size;
  if (viewSize == 0) return true;
  block = static_cast<unsigned char*>(std::malloc(viewSize));
  if (block == nullptr) throw std::bad_alloc();
  view = block;
  size_t read = 0;
  if (fseeko(stream, static_cast<off_t>(signature + start), SEEK_SET) == 0)
    read = std::fread(block, 1, viewSize, stream);
  if (read != viewSize) {
    std::printf("BasicFile - Error reading file, read size: %u\n", static_cast<unsigned>(read));
    ClearView();
    return false;
  }
  return true;
}

void BasicFile::ClearView() {
  std::free(block);
  block = view = nullptr;
  viewStart = viewSize = 0;
}

void BasicFile::ClearAll() {
  ClearView();
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  fileSize = signature = 0;
  text = false;
  path.clear();
  access.clear();
}

bool BasicFile::FlushView() {
  if (access != "w") return false;
  if (viewSize == 0) return true;
  size_t items = 0;
  if (fseeko(stream, static_cast<off_t>(signature + viewStart), SEEK_SET) == 0)
    items = std::fwrite(view, viewSize, 1, stream);
  if (items == 1 && std::fflush(stream) == 0) return true;
  std::printf("BasicFile - Error writing file, characters written: %f\n",
              static_cast<double>(items));
  std::printf("    outSize: %i, ViewSize: %i \n", static_cast<int>(items),
              static_cast<int>(viewSize));
  if (std::feof(stream)) {
    std::printf("    Hit EOF condition.\n");
  } else {
    std::perror("    error");
  }
  ClearAll();
  return false;
}

bool BasicFile::ResizeFile(unsigned long n) {
  if (access != "w") return false;
  if (n == fileSize) return true;
  if (n == 0) return NewFile(std::string(path), 1);
  // The view may hold changes not yet on disk: they go to their place before the cut.
  if (!FlushView()) return false;
  if (ftruncate(fileno(stream), static_cast<off_t>(signature + n)) != 0) {
    std::printf("BasicFile - Error resizing file %s\n", path.c_str());
    return false;
  }
  fileSize = n;
  return SetView(0, n);
}

bool BasicFile::WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size) {
  if (access != "w") return false;
  size_t written = 0;
  if (fseeko(stream, static_cast<off_t>(signature + offset), SEEK_SET) == 0)
    written = std::fwrite(data, 1, size, stream);
  if (written != size || std::fflush(stream) != 0) {
    std::printf("BasicFile - Error writing file, characters written: %f\n",
                static_cast<double>(written));
    ClearAll();
    return false;
  }
  if (offset + size > fileSize) fileSize = offset + size;
  // Keep the copy in step with the file, or a later FlushView or ResizeFile would write
  // the old bytes back over these.
  uint64_t from = std::max<uint64_t>(offset, viewStart);
  uint64_t to = std::min<uint64_t>(offset + size, viewStart + viewSize);
  if (from < to) std::memcpy(view + (from - viewStart), data + (from - offset), to - from);
  return true;
}

bool BasicFile::ChangeAccess(std::string access) {
  if (access == this->access) return true;
  return OpenFile(std::string(path), std::move(access), text);
}

}  // namespace AppCore
