#pragma once

#include <string>

#include "foundation/BasicFile.h"
#include "foundation/MMFile.h"

namespace AppCore {

// One file accessor over two back ends: a shared memory map (MMFile) or stdio with a heap
// copy of the view (BasicFile). `useMMap` selects the back end every operation goes to;
// both always exist. After each operation `view` is the selected back end's view; read
// its fileSize, viewSize and path directly (mm.fileSize or basic.fileSize).
//
// The engine owns both back ends; movable (the source is left closed), not copyable, not
// thread-safe. Operations report failure as false, as the back ends do.
class FileEngine {
 public:
  unsigned char* view = nullptr;
  bool useMMap;
  BasicFile basic;
  MMFile mm;

  explicit FileEngine(bool useMMap);
  ~FileEngine() = default;
  FileEngine(FileEngine&& other) noexcept;
  FileEngine& operator=(FileEngine&& other) noexcept;
  FileEngine(const FileEngine&) = delete;
  FileEngine& operator=(const FileEngine&) = delete;

  // Selects the back end for later operations. A file open in the other back end stays
  // open there; it is neither closed nor moved.
  void SetEngine(bool useMMap);

  // See MMFile and BasicFile. `text` files skip a leading byte-order signature; binary
  // files (the default) keep every byte.
  bool OpenFile(const char* path, std::string access, bool text = false);
  bool OpenFile(const std::string& path, std::string access, bool text = false);
  bool NewFile(const char* path, unsigned long size);
  bool NewFile(const std::string& path, unsigned long size);
  bool SetView();
  bool SetView(unsigned long start, unsigned long size);
  void ClearView();
  void ClearAll();
  bool FlushView();
  // May move the mapping: use `view` afterwards, never a pointer taken before.
  bool ResizeFile(unsigned long n);
  bool WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size);
  bool ChangeAccess(std::string access);

 private:
  // Runs `op` on the selected back end, then refreshes `view` from it.
  template <typename Op>
  auto Forward(Op op);
};

}  // namespace AppCore
