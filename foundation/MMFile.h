#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "foundation/FileAccess.h"

namespace AppCore {

// File access through a shared memory map: the view is the file's own bytes, so writes to
// it reach the file, and FlushView makes them durable.
//
// Offsets and sizes count from the start of the file's content (see OpenFileState).
//
// Owns its descriptor and mapping; movable, not copyable, not thread-safe. Failures print
// a message (the platform's error printer for system calls) and return false.
class MMFile : public OpenFileState {
 public:
  uint64_t pageSize;
  int fd = -1;
  struct stat fileStat {};
  uint64_t mapOffset = 0;  // file offset of the mapping, a multiple of pageSize
  uint64_t viewSkip = 0;   // bytes from the mapping's start to the view
  uint64_t mapLength = 0;
  unsigned char* mapAddress = nullptr;

  MMFile();
  ~MMFile();
  MMFile(MMFile&& other) noexcept;
  MMFile& operator=(MMFile&& other) noexcept;
  MMFile(const MMFile&) = delete;
  MMFile& operator=(const MMFile&) = delete;

  // Opens an existing, non-empty regular file (see OpenRegularFile) with access "r" or "w"
  // and views it whole. A map faults (SIGBUS) when another program cuts the file under it:
  // read files that others may change with ReadWholeFile instead. With
  // `text`, a leading byte-order signature is skipped.
  bool OpenFile(const char* path, std::string access, bool text = false);
  bool OpenFile(const std::string& path, std::string access, bool text = false);
  // Creates or truncates the file, opens it with access "w" and gives it `size` zero
  // bytes (1 when `size` is 0), viewed whole.
  bool NewFile(const char* path, unsigned long size);
  bool NewFile(const std::string& path, unsigned long size);
  // Views the whole file.
  bool SetView();
  // Views `size` bytes from `start`, fewer when the file ends first. A start past the end
  // of the file is refused and leaves the view as it was.
  bool SetView(unsigned long start, unsigned long size);
  void ClearView();
  void ClearAll();
  // Synchronously writes the mapped view to disk. Needs access "w".
  bool FlushView();
  // Cuts or extends (with zeros) the file to `n` bytes; 0 re-creates it with one byte. An
  // extension reserves its blocks, so a full disk fails it here rather than faulting a
  // later write through the map.
  // The mapping may move: re-read `view` afterwards. The view keeps its start and ends at
  // the new end of file; a cut at or below the view's start views the whole file instead.
  bool ResizeFile(unsigned long n);
  // Writes `size` bytes at `offset`, extending the file when they pass its end (never
  // cutting it), and synchronises them to disk. Needs access "w".
  bool WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size);
  // Reopens the same file with another access.
  bool ChangeAccess(std::string access);

 private:
  bool OpenDescriptor(const std::string& target, int flags);
  bool Map(uint64_t start, uint64_t size);
  void MoveFrom(MMFile& other);
};

}  // namespace AppCore
