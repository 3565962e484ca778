// Plain and compressed container files, and the compressed form in memory.
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <new>

#include "foundation/DeflateTools.h"
#include "foundation/FileAccess.h"
#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

using bsformat::kCompressedHeaderSize;

namespace {

// Deflate expands at most 1032 times (a 258-byte match in 2 bits), so a stream of
// `packed` bytes cannot hold a longer image than this.
uint64_t InflateLimit(uint64_t packed) {
  constexpr uint64_t kMaxRatio = 1032;
  return packed > UINT64_MAX / kMaxRatio ? UINT64_MAX : packed * kMaxRatio;
}

// Reads the whole file at `path` into `image`, printing the container's message when it
// cannot. Read into memory rather than mapped: the files read here (samples, table files,
// maps) may be rewritten by another program while they are used, and a cut under a map
// would end the process.
bool ReadForLoading(const std::string& path, AppCore::CharBuffer& image) {
  if (AppCore::ReadWholeFile(path, image)) return true;
  std::printf("Failed to open file: %s\n", path.c_str());
  return false;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error);
}

}  // namespace

bool ByteStream::Validate(const std::string& path) {
  AppCore::CharBuffer image;
  return ReadForLoading(path, image) && ValidateStream(image.data, image.size);
}

bool ByteStream::Save(const std::string& path) const {
  // Writing over the file this container maps would pull the bytes away under its own
  // records: build the image in memory first.
  AppCore::CharBuffer staged;
  if (SamePath(path, file.mm.path)) {
    staged = AppCore::CharBuffer(streamSize);
    GetStream(reinterpret_cast<char*>(staged.data));
  }
  AppCore::FileEngine out(true);
  if (!out.NewFile(path, streamSize) || out.view == nullptr) {
    std::printf("Failed to create new file: %s\n", path.c_str());
    return false;
  }
  char* view = reinterpret_cast<char*>(out.view);
  if (staged.data != nullptr) {
    std::memcpy(view, staged.data, streamSize);
  } else {
    GetStream(view);
  }
  out.ClearAll();
  return true;
}

bool ByteStream::Read(const std::string& path) {
  AppCore::CharBuffer image;
  if (!ReadForLoading(path, image)) return false;
  // Check before touching anything, so that a bad file leaves the container as it was.
  if (!bsformat::ScanImage(image.data, image.size, [](uint64_t, uint64_t) {})) return false;
  LoadStream(image.data, image.size);
  buffer = std::move(image);  // a read-only container's records view it
  file.ClearAll();
  return true;
}

bool ByteStream::Open(const std::string& path) {
  DropRecords();
  buffer.Clear();
  file.ClearAll();
  if (readOnly) return Read(path);
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) return PreAllocate({}, path);
  mode = 1;
  if (!file.OpenFile(path, "w")) return false;
  char* data = reinterpret_cast<char*>(file.view);
  uint64_t length = file.mm.fileSize;
  // In-place edits read the directory from the file, so it must describe the records
  // exactly (no empty entries, no gaps).
  if (!bsformat::IsExactImage(data, length)) {
    file.ClearAll();
    return false;
  }
  LoadImage(data, length, true);
  mode = 3;
  return true;
}

uint64_t ByteStream::GetCompressedSize() const {
  uint64_t bound = AppCore::DeflateBound(streamSize);
  return bound > UINT64_MAX - kCompressedHeaderSize ? UINT64_MAX
                                                    : bound + kCompressedHeaderSize;
}

uint64_t ByteStream::GetUncompressedSize(const char* bytes) { return bsformat::LoadU64(bytes); }

uint64_t ByteStream::GetCompressedStream(char* bytes) const {
  AppCore::CharBuffer staged;
  const char* image = ImageData();
  if (image == nullptr) {
    staged = AppCore::CharBuffer(streamSize);
    GetStream(reinterpret_cast<char*>(staged.data));
    image = reinterpret_cast<const char*>(staged.data);
  }
  bsformat::StoreU64(bytes, streamSize);
  uLongf packed = AppCore::DeflateBound(streamSize);
  int code = compress2(reinterpret_cast<Bytef*>(bytes + kCompressedHeaderSize), &packed,
                       reinterpret_cast<const Bytef*>(image), streamSize, 6);
  if (code != Z_OK) {
    std::printf("Failed to compress ByteStream with error: %s\n",
                AppCore::DeflateErrorText(code));
    return 0;
  }
  return packed + kCompressedHeaderSize;
}

bool ByteStream::SaveCompressed(const std::string& path) const {
  AppCore::FileEngine out(true);
  if (!out.NewFile(path, GetCompressedSize()) || out.view == nullptr) {
    std::printf("Failed to create new file: %s\n", path.c_str());
    return false;
  }
  uint64_t length = GetCompressedStream(reinterpret_cast<char*>(out.view));
  bool resized = out.ResizeFile(length);
  out.ClearAll();
  return length != 0 && resized;
}

bool ByteStream::LoadCompressedStream(char* bytes, uint64_t length) {
  if (bytes == nullptr || length < kCompressedHeaderSize) return false;
  uint64_t imageSize = bsformat::LoadU64(bytes);
  uint64_t packed = length - kCompressedHeaderSize;
  if (imageSize > InflateLimit(packed)) {
    std::printf("Failed to uncompress ByteStream with error: %s\n",
                AppCore::DeflateErrorText(Z_DATA_ERROR));
    return false;
  }
  AppCore::CharBuffer image(imageSize > 0 ? imageSize : 1);
  uLongf unpacked = imageSize;
  int code = uncompress(reinterpret_cast<Bytef*>(image.data), &unpacked,
                        reinterpret_cast<const Bytef*>(bytes + kCompressedHeaderSize), packed);
  if (code != Z_OK) {
    std::printf("Failed to uncompress ByteStream with error: %s\n",
                AppCore::DeflateErrorText(code));
    return false;
  }
  char* data = reinterpret_cast<char*>(image.data);
  if (!bsformat::ScanImage(data, unpacked, [](uint64_t, uint64_t) {})) return false;
  if (unpacked > 0) image.Resize(unpacked);
  data = reinterpret_cast<char*>(image.data);
  LoadStream(data, unpacked);
  buffer = std::move(image);  // a read-only container's records view it
  return true;
}

bool ByteStream::ReadCompressed(const std::string& path) {
  AppCore::CharBuffer packed;
  return ReadForLoading(path, packed) && LoadCompressedStream(packed.data, packed.size);
}
