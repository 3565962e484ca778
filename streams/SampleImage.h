#pragma once

// SampleImage: the replay stream's sample table as last read from its file, kept while the
// file is unchanged, so that a sample costs an open and fstat(2) of the file instead of a
// read of the whole file.
//
// The file counts as unchanged while it shows the version (device, inode, size, modification
// and change times) it had when the image was read, and that read began at least a second
// after both of its times. Two rewrites within one tick of the file system's clock can leave
// every field equal, so a file read that soon after a change is read again at every use
// until a read comes a second after it.
//
// The image is the container's private copy of the file (read, never mapped): another
// program cutting or rewriting the file cannot fault the process. At most one image is
// held; it is dropped before a new read and stays dropped when that read fails.
//
// Not thread-safe: the stream uses it under its mutex.

#include <cstdint>
#include <string>

#include "foundation/FileAccess.h"
#include "record/ByteStream.h"
#include "table/MiniFrad.h"

class SampleImage {
 public:
  // How long after the file's last change a read must begin for its image to be kept.
  static constexpr int64_t kSettleNs = 1000000000;

  ByteStream container{true};
  MiniFrad table;  // a locked view of `container`: declared after it, so it goes first
  bool kept = false;              // the image is held and `version` tells what it was read from
  AppCore::FileVersion version;   // of the file just before the image was read
  int64_t readTime = 0;           // wall clock (ns since 1970) when the last read began

  // The table of the file at `path`: the image held while the file is unchanged, else the
  // file read anew. Null, with no image held, when the file cannot be read or holds no
  // table (the container has printed its message then). The table lives until the next
  // Load or Release.
  const MiniFrad* Load(const std::string& path);
  // Drops the image and its memory.
  void Release();
};
