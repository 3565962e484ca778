#pragma once

#include <cstdint>
#include <vector>

#include "foundation/CharBuffer.h"

// zThread deflates one buffer on several threads at once and joins the pieces into a
// single deflate stream, either raw (RFC 1951, the form per-message WebSocket compression
// sends) or zlib-wrapped (RFC 1950).
//
// The input is cut into contiguous segments, one per thread. Each segment is deflated on
// its own, with a fresh window, into a piece:
//
//   bytes 0-1        zlib header
//   bytes 2..L-5     deflate blocks, none of them final; the last byte holds
//                    endCodes[i].bitsAfter bits of the stream (0: the stream ends on a
//                    byte boundary) and zeros above them
//   bytes L-4..L-1   Adler-32 of the segment, big-endian
//
// Joining puts an empty stored block (a sync-flush point: its 3 header bits, zero bits to
// the next byte, then 00 00 FF FF) after every piece's blocks. The 3 header bits fit in
// the zeros of a piece's last byte when 1 to 5 bits of it are in use (pad flag 1, the
// block then takes 4 bytes); otherwise they need one more byte (pad flag 0, 5 bytes).
// The raw form ends with that sync-flush point and has no final block; the zlib form
// makes its last empty stored block final and ends with the combined Adler-32, so an
// inflater reaches the end of the stream and checks the sum.
//
// Use: DivideJobs, CompressSegments, then ComputeMergeSize + MergeBuffers (zlib) or
// ComputeMergeRawSize + MergeBuffersRaw (raw); Compress and CompressRaw do all of it.
// A failed segment makes CompressSegments, the merges and Compress* return false.
//
// Threading: CompressSegments runs one thread per segment and joins them before it
// returns. The object itself is not thread-safe; it is meant to be reused by one owner
// from call to call.
class zThread {
 public:
  struct segDesc {
    uint64_t offset = 0;  // start in the input
    uint64_t size = 0;    // length
  };

  // Where a piece's bit stream ends: the bits in use in its last byte of deflate data,
  // 0 to 7, counted after the last block whatever its kind (0 when byte-aligned).
  struct endCode {
    uint32_t bitsAfter = 0;
  };

  int32_t nbThreads = 1;  // requested thread count of the current job
  int32_t level = 6;      // deflate level: 0 (stored) to 9; below 0 is zlib's default
  std::vector<segDesc> segments;
  std::vector<endCode> endCodes;              // one per segment
  std::vector<AppCore::CharBuffer> outputs;  // one piece per segment
  // -1 after DivideJobs and CompressSegments, 0 after ComputeMergeSize, 1 after ...RawSize
  int8_t state = -1;
  uint64_t mergeSize = 0;
  std::vector<int32_t> padFlags;  // one per segment, set by the ComputeMerge*Size calls
  // The machine's hardware thread count; segments are limited to one less (a count of 0
  // sets no limit). Set at construction; tests may lower or raise it.
  unsigned hardwareThreads;

  zThread();
  zThread(int threads, int level);

  // Resets the object and plans the segments: `threads` of them (one when `size` is
  // below 50 or `threads` below 1), at most hardwareThreads - 1 and at least one; each
  // size / n bytes long except the last, which takes the rest.
  void DivideJobs(uint64_t size, int threads, int level);

  // Deflates every segment of `input` (which must hold the size given to DivideJobs) on
  // its own thread and waits for all. False when a segment failed; it has printed
  // "Failed to compress zThread with error: <text>" and its piece is empty.
  bool CompressSegments(const unsigned char* input);

  // Deflates one segment into `out` (replacing its contents) and reports where its bit
  // stream ends in `end`. Returns a zlib status: Z_OK, or the failure it printed.
  int DeflateSegment(const unsigned char* input, const segDesc& seg, AppCore::CharBuffer& out,
                     endCode& end) const;

  // Size of the zlib-format merge of the current pieces (0 when a piece is missing).
  uint64_t ComputeMergeSize();
  // Writes the zlib-format merge to `dst`, whose capacity is `size`; on success `size`
  // becomes the bytes written. False, with nothing written, when the capacity is below
  // the merged size or a piece is missing.
  bool MergeBuffers(unsigned char* dst, unsigned long& size);

  // Size of the raw merge of the current pieces (0 when a piece is missing).
  uint64_t ComputeMergeRawSize();
  // As MergeBuffers, for one raw deflate stream ending with 00 00 FF FF.
  bool MergeBuffersRaw(unsigned char* dst, unsigned long& size);

  // The whole sequence into `out`, which is grown as needed and resized to the result.
  // False when the compression failed (`out` then holds no result).
  bool Compress(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out, int threads,
                int level);
  bool CompressRaw(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out,
                   int threads, int level);

  // The 4 bytes at `p` as a big-endian unsigned 32-bit value.
  static uint32_t BuffToInteger(const unsigned char* p);
  // The Adler-32 of two concatenated blocks from their sums and the second one's length.
  static unsigned long Adler32Combine(unsigned long adler1, unsigned long adler2,
                                      unsigned long length2);

 private:
  bool PreparePads();
  uint64_t JoinedSize() const;
  unsigned char* AppendPieces(unsigned char* dst, bool finalBlock) const;
  bool CompressWhole(const unsigned char* input, uint64_t size, AppCore::CharBuffer& out,
                     int threads, int level, bool raw);
};
