#pragma once

#include <cstdint>
#include <string>

#include "foundation/CharBuffer.h"

namespace AppCore {

// True when `access` is exactly "r" (read only) or exactly "w" (read and write). Anything
// else prints a message naming the valid options on standard output and gives false.
bool IsValidAccessType(std::string access);

// Length of the Unicode byte-order signature at the start of `bytes` (EF BB BF, FE FF,
// FF FE 00 00, FF FE or 00 00 FE FF), or 0 when there is none. `size` bounds the look.
// Only text files are opened past a signature: binary files keep every byte.
uint64_t ByteOrderSignatureLength(const unsigned char* bytes, uint64_t size);

// What both file back ends (MMFile and BasicFile) know of their open file and its view.
// Offsets and sizes count from the start of the file's content: for a file opened as text
// whose content follows a byte-order signature, the content starts after the signature and
// the signature itself is never touched; every other file's content is the whole file.
struct OpenFileState {
  unsigned char* view = nullptr;  // first byte of the view, null without one
  uint64_t fileSize = 0;          // bytes of content
  uint64_t viewStart = 0;
  uint64_t viewSize = 0;
  std::string path;        // empty when closed
  std::string access;      // "r" or "w"; empty when closed
  uint64_t signature = 0;  // bytes of byte-order signature before the content
  bool text = false;       // opened as text: a byte-order signature is skipped

 protected:
  // Copies `other`'s state, leaving its path and access empty. The caller hands over (and
  // then forgets in `other`) whatever its back end owns.
  void TakeState(OpenFileState& other);
  // For a text file just viewed whole from byte 0: moves the view past a byte-order
  // signature and shrinks the sizes by its length, which it returns.
  uint64_t SkipSignature();
};

// Permission bits of the files the engines create (before the process's creation mask).
constexpr unsigned kNewFileMode = 0644;

// open(2) of `path` with `flags` (plus O_CLOEXEC; a created file gets kNewFileMode) that
// only ever gives a regular file. Anything else is refused without waiting: a FIFO would
// block the open until a writer comes, and a directory or device has no size to read.
// The descriptor, or -1 with errno set (EISDIR for a directory, EINVAL for other kinds).
int OpenRegularFile(const std::string& path, int flags);

// The whole regular file at `path`, read into `out` with plain reads rather than through
// a map: another program may cut or rewrite the file meanwhile (a cut under a mapping
// raises SIGBUS), and a read that overlaps such a change is refused rather than returned
// torn. False, `out` unchanged and errno set, when the file cannot be opened (see
// OpenRegularFile), held in memory (ENOMEM) or read, or when its size or modification
// time changed while it was read (EAGAIN: a later read may succeed).
bool ReadWholeFile(const std::string& path, CharBuffer& out);

// What fstat(2) tells of the version of a file: replacing, rewriting, cutting, growing or
// touching the file, or changing its permissions, gives another version, except that two
// changes within one tick of the file system's clock may leave every field equal. Times
// in nanoseconds since 1970.
struct FileVersion {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;

  bool operator==(const FileVersion& other) const;
};

// The version of the regular file at `path`, taken from the file opened as OpenRegularFile
// opens it: on a network file system an open checks the file with the server, where a stat
// by path may answer from a cache. False, errno set, when it cannot be opened or examined.
bool GetFileVersion(const std::string& path, FileVersion& out);

}  // namespace AppCore
