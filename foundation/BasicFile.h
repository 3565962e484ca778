#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/FileAccess.h"

namespace AppCore {

// File access through stdio with a heap copy of the viewed bytes: changes to the view
// reach the file only through FlushView (or ResizeFile, which writes the view first).
//
// Offsets count from the start of the file's content, as for MMFile (see OpenFileState).
//
// Owns its stream and its copy; movable, not copyable, not thread-safe. Failures print a
// message on standard output and return false.
class BasicFile : public OpenFileState {
 public:
  FILE* stream = nullptr;
  unsigned char* block = nullptr;  // the heap copy itself; `view` points into it

  BasicFile() = default;
  ~BasicFile();
  BasicFile(BasicFile&& other) noexcept;
  BasicFile& operator=(BasicFile&& other) noexcept;
  BasicFile(const BasicFile&) = delete;
  BasicFile& operator=(const BasicFile&) = delete;

  // Opens an existing regular file (an empty one too; see OpenRegularFile) with access "r"
  // or "w" and reads it whole into the view. With `text`, a leading byte-order signature is
  // skipped.
  bool OpenFile(const char* path, std::string access, bool text = false);
  bool OpenFile(const std::string& path, std::string access, bool text = false);
  // Creates or truncates the file and opens it with access "w"; the view is `size` zero
  // bytes (1 when `size` is 0) that reach the disk with the first FlushView or ResizeFile.
  bool NewFile(const char* path, unsigned long size);
  bool NewFile(const std::string& path, unsigned long size);
  bool SetView();
  // Reads `size` bytes from `start` into a new copy, fewer when the file ends first. A
  // start past the end of the file is refused and leaves the view as it was.
  bool SetView(unsigned long start, unsigned long size);
  void ClearView();
  void ClearAll();
  // Writes the view back at its place in the file. Needs access "w".
  bool FlushView();
  // Writes the view back, then cuts or extends (with zeros) the file to `n` bytes and
  // views it whole; bytes outside the old view are kept. 0 re-creates it with one byte.
  bool ResizeFile(unsigned long n);
  // Writes `size` bytes at `offset` and into the part of the view they overlap. Needs
  // access "w".
  bool WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size);
  bool ChangeAccess(std::string access);

 private:
  void MoveFrom(BasicFile& other);
};

}  // namespace AppCore
