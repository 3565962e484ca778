// Plain and compressed container files, and the compressed form in memory.
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <new>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

using bsformat::kCompressedHeaderSize;

namespace {

// The texts of the compression library the format was first written with, kept so that
// the messages stay the same; its codes are zlib's.
const char* CompressionErrorText(int code) {
  switch (code) {
    case Z_OK: return "";
    case Z_STREAM_END: return "stream end";
    case Z_NEED_DICT: return "need dictionary";
    case Z_ERRNO: return "file error";
    case Z_STREAM_ERROR: return "stream error";
    case Z_DATA_ERROR: return "data error";
    case Z_MEM_ERROR: return "out of memory";
    case Z_BUF_ERROR: return "buf error";
    case Z_VERSION_ERROR: return "version error";
    case -10000: return "parameter error";
    default: return "";
  }
}

// The room the compressed stream may need: 128 + 110 % of the input, or the input plus
// 5 bytes per 31 KiB block, whichever is larger (saturating instead of wrapping).
uint64_t CompressionBound(uint64_t length) {
  unsigned __int128 a = 128 + static_cast<unsigned __int128>(length) * 110 / 100;
  unsigned __int128 b = 128 + static_cast<unsigned __int128>(length) +
                        (static_cast<unsigned __int128>(length / (31 * 1024)) + 1) * 5;
  unsigned __int128 bound = a > b ? a : b;
  return bound > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(bound);
}

// Deflate expands at most 1032 times (a 258-byte match in 2 bits), so a stream of
// `packed` bytes cannot hold a longer image than this.
uint64_t InflateLimit(uint64_t packed) {
  constexpr uint64_t kMaxRatio = 1032;
  return packed > UINT64_MAX / kMaxRatio ? UINT64_MAX : packed * kMaxRatio;
}

// Maps the file at `path` for reading into `engine`, printing the container's message when
// it cannot.
bool OpenForReading(AppCore::FileEngine& engine, const std::string& path) {
  if (engine.OpenFile(path, "r")) return true;
  std::printf("Failed to open file: %s\n", path.c_str());
  return false;
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error);
}

}  // namespace

bool ByteStream::Validate(const std::string& path) {
  AppCore::FileEngine engine(true);
  return OpenForReading(engine, path) &&
         ValidateStream(reinterpret_cast<char*>(engine.view), engine.mm.fileSize);
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
  AppCore::FileEngine fresh(true);
  if (!OpenForReading(fresh, path)) return false;
  char* data = reinterpret_cast<char*>(fresh.view);
  uint64_t length = fresh.mm.fileSize;
  // Check before touching anything, so that a bad file leaves the container as it was.
  if (!bsformat::ScanImage(data, length, [](uint64_t, uint64_t) {})) return false;
  LoadStream(data, length);
  file = std::move(fresh);  // closes the old file only now that no record views it
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
  uint64_t bound = CompressionBound(streamSize);
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
  uLongf packed = CompressionBound(streamSize);
  int code = compress2(reinterpret_cast<Bytef*>(bytes + kCompressedHeaderSize), &packed,
                       reinterpret_cast<const Bytef*>(image), streamSize, 6);
  if (code != Z_OK) {
    std::printf("Failed to compress ByteStream with error: %s\n", CompressionErrorText(code));
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
                CompressionErrorText(Z_DATA_ERROR));
    return false;
  }
  AppCore::CharBuffer image(imageSize > 0 ? imageSize : 1);
  uLongf unpacked = imageSize;
  int code = uncompress(reinterpret_cast<Bytef*>(image.data), &unpacked,
                        reinterpret_cast<const Bytef*>(bytes + kCompressedHeaderSize), packed);
  if (code != Z_OK) {
    std::printf("Failed to uncompress ByteStream with error: %s\n", CompressionErrorText(code));
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
  AppCore::FileEngine in(true);
  return OpenForReading(in, path) &&
         LoadCompressedStream(reinterpret_cast<char*>(in.view), in.mm.fileSize);
}
