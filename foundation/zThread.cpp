#include "foundation/zThread.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "foundation/DeflateTools.h"

namespace {

// zlib counts input and output in 32 bits: larger segments are fed to it in slices.
constexpr uint64_t kSlice = uint64_t{1} << 30;
// A piece is at least its 2-byte zlib header and its 4-byte Adler-32.
constexpr uint64_t kPieceOverhead = 6;
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;

int ZlibLevel(int level) { return level < 0 ? Z_DEFAULT_COMPRESSION : std::min(level, 9); }

// Size of the empty stored block written after a piece (see the header).
uint64_t MarkerSize(int32_t padFlag) { return padFlag ? 4 : 5; }

// Writes an empty stored block after a deflate stream whose last byte, at p[-1], has
// `bits` bits in use. A stored block's 3 header bits follow the stream's last bit and are
// padded with zeros to the next byte, then come LEN = 0000 and NLEN = FFFF.
unsigned char* AppendStoredBlock(unsigned char* p, uint32_t bits, bool finalBlock) {
  if (bits == 0) {
    *p++ = finalBlock ? 1 : 0;
  } else {
    if (finalBlock) p[-1] |= static_cast<unsigned char>(1u << bits);
    if (bits > 5) *p++ = 0;  // the header bits spill into one more byte
  }
  static const unsigned char kLengths[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(p, kLengths, 4);
  return p + 4;
}

void PutBigEndian(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// Runs deflate on `src` into `dst` (capacity `cap`), ending the last block with Z_BLOCK
// so that nothing is final. On Z_OK `produced` is the bytes written and `bits` the bits
// still held for a last partial byte. Slices keep zlib's 32-bit counters in range.
int DeflateBlocks(z_stream& s, const unsigned char* src, uint64_t size, unsigned char* dst,
                  uint64_t cap, uint64_t& produced, int& bits) {
  produced = 0;
  uint64_t left = size;
  for (;;) {
    uint64_t slice = std::min(left, kSlice);
    int flush = slice == left ? Z_BLOCK : Z_NO_FLUSH;
    s.next_in = const_cast<unsigned char*>(src);
    s.avail_in = static_cast<uInt>(slice);
    do {
      uint64_t room = std::min(cap - produced, kSlice);
      if (room == 0) return Z_BUF_ERROR;
      s.next_out = dst + produced;
      s.avail_out = static_cast<uInt>(room);
      if (deflate(&s, flush) == Z_STREAM_ERROR) return Z_STREAM_ERROR;
      produced += room - s.avail_out;
    } while (s.avail_out == 0 || s.avail_in != 0);
    src += slice;
    left -= slice;
    if (flush == Z_BLOCK) break;
  }
  unsigned pending = 0;
  if (deflatePending(&s, &pending, &bits) != Z_OK || pending != 0) return Z_STREAM_ERROR;
  return Z_OK;
}

// Pads the held bits of the last partial byte with zeros and writes that byte.
int FlushPartialByte(z_stream& s, int bits, unsigned char* dst, uint64_t cap,
                     uint64_t& produced) {
  if (bits == 0) return Z_OK;
  if (produced >= cap) return Z_BUF_ERROR;
  if (deflatePrime(&s, 8 - bits, 0) != Z_OK) return Z_STREAM_ERROR;
  s.next_out = dst + produced;
  s.avail_out = 1;
  deflate(&s, Z_NO_FLUSH);
  if (s.avail_out != 0) return Z_STREAM_ERROR;
  produced += 1;
  return Z_OK;
}

}  // namespace

zThread::zThread() : hardwareThreads(std::thread::hardware_concurrency()) {}

zThread::zThread(int threads, int level)
    : nbThreads(threads), level(level), hardwareThreads(std::thread::hardware_concurrency()) {}

void zThread::DivideJobs(uint64_t size, int threads, int level) {
  nbThreads = (size >= 50 && threads > 0) ? threads : 1;
  this->level = level;
  segments.clear();
  endCodes.clear();
  outputs.clear();
  padFlags.clear();
  state = -1;
  mergeSize = 0;

  uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(nbThreads),
                                  static_cast<unsigned>(hardwareThreads - 1));
  n = std::max<uint64_t>(n, 1);
  uint64_t each = size / n;
  for (uint64_t i = 0; i < n; i++) {
    uint64_t length = i + 1 < n ? each : size - (n - 1) * each;
    segments.push_back(segDesc{i * each, length});
  }
  endCodes.resize(n);
  outputs.resize(n);
}

bool zThread::CompressSegments(const unsigned char* input) {
  // The pieces change: a merge size measured on the old ones no longer holds.
  state = -1;
  mergeSize = 0;
  padFlags.clear();
  std::vector<int> status(segments.size(), Z_OK);
  auto run = [&](size_t i) {
    status[i] = DeflateSegment(input, segments[i], outputs[i], endCodes[i]);
  };
  std::vector<std::thread> threads;
  threads.reserve(segments.size());
  // Segment 0 runs on the calling thread, which would otherwise only wait.
  for (size_t i = 1; i < segments.size(); i++) {
    try {
      threads.emplace_back(run, i);
    } catch (const std::system_error&) {
      run(i);  // no thread to be had: do the work here rather than drop the segment
    }
  }
  if (!segments.empty()) run(0);
  for (std::thread& t : threads) t.join();
  return std::all_of(status.begin(), status.end(), [](int s) { return s == Z_OK; });
}

int zThread::DeflateSegment(const unsigned char* input, const segDesc& seg,
                            AppCore::CharBuffer& out, endCode& end) const {
  out.Clear();
  end = endCode();
  int status = Z_MEM_ERROR;
  try {
    uint64_t cap = AppCore::DeflateBound(seg.size);
    AppCore::CharBuffer piece(cap);
    auto* dst = reinterpret_cast<unsigned char*>(piece.data);
    z_stream s{};
    status = deflateInit2(&s, ZlibLevel(level), Z_DEFLATED, kWindowBits, kMemLevel,
                          Z_DEFAULT_STRATEGY);
    if (status == Z_OK) {
      uint64_t produced = 0;
      int bits = 0;
      status = DeflateBlocks(s, input + seg.offset, seg.size, dst, cap, produced, bits);
      if (status == Z_OK) status = FlushPartialByte(s, bits, dst, cap, produced);
      if (status == Z_OK && cap - produced < 4) status = Z_BUF_ERROR;
      if (status == Z_OK) {
        PutBigEndian(dst + produced, static_cast<uint32_t>(s.adler));
        piece.Resize(produced + 4);
        out = std::move(piece);
        end.bitsAfter = static_cast<uint32_t>(bits);
      }
      deflateEnd(&s);  // reports Z_DATA_ERROR: the stream is left unfinished on purpose
    }
  } catch (const std::bad_alloc&) {
    status = Z_MEM_ERROR;
  }
  if (status != Z_OK) {
    std::printf("Failed to compress zThread with error: %s\n", AppCore::DeflateErrorText(status));
  }
  return status;
}

bool zThread::PreparePads() {
  padFlags.clear();
  if (outputs.size() != segments.size()) return false;
  for (size_t i = 0; i < outputs.size(); i++) {
    if (outputs[i].size < kPieceOverhead) {
      padFlags.clear();
      return false;
    }
    uint32_t bits = endCodes[i].bitsAfter;
    padFlags.push_back(bits >= 1 && bits <= 5 ? 1 : 0);
  }
  return true;
}

uint64_t zThread::JoinedSize() const {
  uint64_t total = 0;
  for (size_t i = 0; i < outputs.size(); i++) {
    total += outputs[i].size - kPieceOverhead + MarkerSize(padFlags[i]);
  }
  return total;
}

unsigned char* zThread::AppendPieces(unsigned char* dst, bool finalBlock) const {
  for (size_t i = 0; i < outputs.size(); i++) {
    const auto* piece = reinterpret_cast<const unsigned char*>(outputs[i].data);
    uint64_t blocks = outputs[i].size - kPieceOverhead;
    std::memcpy(dst, piece + 2, blocks);
    dst += blocks;
    dst = AppendStoredBlock(dst, endCodes[i].bitsAfter, finalBlock && i + 1 == outputs.size());
  }
  return dst;
}

uint64_t zThread::ComputeMergeSize() {
  state = 0;
  if (segments.empty()) {
    padFlags.clear();
    return mergeSize = 4;
  }
  mergeSize = PreparePads() ? 2 + JoinedSize() + 4 : 0;
  return mergeSize;
}

bool zThread::MergeBuffers(unsigned char* dst, unsigned long& size) {
  if (state != 0) ComputeMergeSize();
  if (size < mergeSize || mergeSize == 0) return false;
  if (segments.empty()) {
    std::memset(dst, 0, 4);
    size = 4;
    return true;
  }
  const auto* first = reinterpret_cast<const unsigned char*>(outputs[0].data);
  std::memcpy(dst, first, 2);
  unsigned char* end = AppendPieces(dst + 2, true);
  unsigned long adler = BuffToInteger(first + outputs[0].size - 4);
  for (size_t i = 1; i < outputs.size(); i++) {
    const auto* piece = reinterpret_cast<const unsigned char*>(outputs[i].data);
    adler = Adler32Combine(adler, BuffToInteger(piece + outputs[i].size - 4), segments[i].size);
  }
  PutBigEndian(end, static_cast<uint32_t>(adler));
  size = mergeSize;
  return true;
}

uint64_t zThread::ComputeMergeRawSize() {
  state = 1;
  mergeSize = PreparePads() && !segments.empty() ? JoinedSize() : 0;
  return mergeSize;
}

bool zThread::MergeBuffersRaw(unsigned char* dst, unsigned long& size) {
  if (state != 1) ComputeMergeRawSize();
  if (size < mergeSize || mergeSize == 0) return false;
  AppendPieces(dst, false);
  size = mergeSize;
  return true;
}

bool zThread::CompressWhole(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out,
                            int threads, int level, bool raw) {
  DivideJobs(size, threads, level);
  if (!CompressSegments(input)) return false;
  uint64_t merged = raw ? ComputeMergeRawSize() : ComputeMergeSize();
  if (merged == 0) return false;
  out.Grow(merged);
  unsigned long written = out.size;
  auto* dst = reinterpret_cast<unsigned char*>(out.data);
  if (!(raw ? MergeBuffersRaw(dst, written) : MergeBuffers(dst, written))) return false;
  out.Resize(written);
  return true;
}

bool zThread::Compress(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out,
                       int threads, int level) {
  return CompressWhole(input, size, out, threads, level, false);
}

bool zThread::CompressRaw(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out,
                          int threads, int level) {
  return CompressWhole(input, size, out, threads, level, true);
}

uint32_t zThread::BuffToInteger(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

unsigned long zThread::Adler32Combine(unsigned long adler1, unsigned long adler2,
                                      unsigned long length2) {
  return adler32_combine(adler1, adler2, static_cast<z_off_t>(length2));
}
