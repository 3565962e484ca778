#include "foundation/zThread.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <zlib.h>

#include <random>
#include <set>
#include <string>
#include <tuple>

namespace {

// Allocations far beyond the address space must fail as std::bad_alloc, not abort.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TVX_HAS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TVX_HAS_ASAN)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

std::string RandomBytes(size_t n, std::mt19937& rng) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Rows of a small table as text: long runs of repeated structure, as in table images.
std::string TextRows(size_t n, std::mt19937& rng) {
  static const char* const kCities[] = {"Oslo", "Lyon", "Graz", "Porto", "Turku"};
  std::string s;
  while (s.size() < n) {
    s += std::to_string(rng() % 100000) + ";" + kCities[rng() % 5] + ";" +
         std::to_string(rng() % 1000) + "." + std::to_string(rng() % 100) + "\n";
  }
  s.resize(n);
  return s;
}

// Alternating random and textual stretches, so that stored and Huffman blocks alternate
// and either kind can start or end a segment.
std::string Mixed(size_t n, std::mt19937& rng) {
  std::string s;
  while (s.size() < n) {
    size_t run = 1 + rng() % 40000;
    s += (rng() % 2) ? RandomBytes(run, rng) : TextRows(run, rng);
  }
  s.resize(n);
  return s;
}

enum class Kind { kRandom, kText, kMixed };

std::string MakeData(Kind kind, size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  switch (kind) {
    case Kind::kRandom: return RandomBytes(n, rng);
    case Kind::kText: return TextRows(n, rng);
    case Kind::kMixed: return Mixed(n, rng);
  }
  return {};
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

struct Inflated {
  int status = Z_OK;       // Z_STREAM_END when the stream ended, Z_OK when input ran out
  std::string out;
  uint64_t consumed = 0;   // input bytes read
};

// Inflates `data` whole with a fresh inflater (windowBits -15: raw, 15: zlib).
Inflated InflateAll(const unsigned char* data, uint64_t size, int windowBits) {
  Inflated r;
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, windowBits), Z_OK);
  s.next_in = const_cast<unsigned char*>(data);
  s.avail_in = static_cast<uInt>(size);
  unsigned char buf[65536];
  do {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    r.status = inflate(&s, Z_NO_FLUSH);
    r.out.append(reinterpret_cast<char*>(buf), sizeof buf - s.avail_out);
  } while (r.status == Z_OK && (s.avail_in != 0 || s.avail_out == 0));
  if (r.status == Z_BUF_ERROR && s.avail_in == 0) r.status = Z_OK;  // stream simply paused
  r.consumed = s.total_in;
  inflateEnd(&s);
  return r;
}

// Bits in use in the last byte of a raw deflate stream that stops after a block, as an
// independent inflater sees it (0 when the stream ends on a byte boundary).
int TrueEndBits(const unsigned char* data, uint64_t size) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
  s.next_in = const_cast<unsigned char*>(data);
  s.avail_in = static_cast<uInt>(size);
  unsigned char buf[65536];
  int status;
  do {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    status = inflate(&s, Z_BLOCK);
  } while (status == Z_OK && (s.avail_in != 0 || s.avail_out == 0));
  int unused = s.data_type & 7;
  inflateEnd(&s);
  return (8 - unused) % 8;
}

AppCore::CharBuffer Merge(zThread& z, bool raw) {
  uint64_t n = raw ? z.ComputeMergeRawSize() : z.ComputeMergeSize();
  AppCore::CharBuffer out(n);
  unsigned long size = n;
  auto* dst = reinterpret_cast<unsigned char*>(out.data);
  EXPECT_TRUE(raw ? z.MergeBuffersRaw(dst, size) : z.MergeBuffers(dst, size));
  EXPECT_EQ(size, n);
  return out;
}

// Compresses `data` once and checks both joined forms and every piece.
void CheckRoundTrip(const std::string& data, int segments, int level) {
  zThread z;
  z.hardwareThreads = 0;  // exercise the requested segment count on any machine
  z.DivideJobs(data.size(), segments, level);
  ASSERT_TRUE(z.CompressSegments(Bytes(data)));

  for (size_t i = 0; i < z.outputs.size(); i++) {
    const auto* piece = reinterpret_cast<const unsigned char*>(z.outputs[i].data);
    uint64_t blocks = z.outputs[i].size - 6;
    EXPECT_EQ(z.endCodes[i].bitsAfter, static_cast<uint32_t>(TrueEndBits(piece + 2, blocks)))
        << "piece " << i;
    EXPECT_EQ(zThread::BuffToInteger(piece + blocks + 2),
              adler32(1, Bytes(data) + z.segments[i].offset, z.segments[i].size));
  }

  AppCore::CharBuffer raw = Merge(z, true);
  const auto* r = reinterpret_cast<const unsigned char*>(raw.data);
  ASSERT_GE(raw.size, 4u);
  EXPECT_EQ(std::string(raw.data + raw.size - 4, 4), std::string("\0\0\xFF\xFF", 4));
  Inflated fromRaw = InflateAll(r, raw.size, -15);
  EXPECT_EQ(fromRaw.status, Z_OK) << "a raw merge has no final block";
  EXPECT_EQ(fromRaw.consumed, raw.size);
  EXPECT_TRUE(fromRaw.out == data);

  AppCore::CharBuffer zl = Merge(z, false);
  Inflated fromZlib = InflateAll(reinterpret_cast<unsigned char*>(zl.data), zl.size, 15);
  EXPECT_EQ(fromZlib.status, Z_STREAM_END) << "the zlib form must end and pass its check";
  EXPECT_EQ(fromZlib.consumed, zl.size);
  EXPECT_TRUE(fromZlib.out == data);
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<Kind, size_t, int>> {};

TEST_P(RoundTrip, BothFormsInflateToTheInput) {
  auto [kind, size, level] = GetParam();
  std::string data = MakeData(kind, size, static_cast<uint32_t>(size * 31 + level));
  for (int segments = 1; segments <= 8; segments++) {
    SCOPED_TRACE("segments " + std::to_string(segments));
    CheckRoundTrip(data, segments, level);
  }
}

INSTANTIATE_TEST_SUITE_P(Small, RoundTrip,
                         ::testing::Combine(::testing::Values(Kind::kRandom, Kind::kText,
                                                              Kind::kMixed),
                                            ::testing::Values(0, 1, 49, 50, 51, 3000, 70001),
                                            ::testing::Values(0, 1, 6, 9)));

// Several megabytes: fewer segment counts, since each compression is costly.
TEST(zThreadTest, LargeInputsRoundTrip) {
  const size_t kSize = 3 * 1024 * 1024 + 17;
  for (Kind kind : {Kind::kRandom, Kind::kText, Kind::kMixed}) {
    std::string data = MakeData(kind, kSize, 7 + static_cast<int>(kind));
    for (int level : {0, 1, 6, 9}) {
      for (int segments : {1, 3, 8}) {
        SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + "/" + std::to_string(level) + "/" +
                     std::to_string(segments));
        CheckRoundTrip(data, segments, level);
      }
    }
  }
}

TEST(zThreadTest, DivideJobsPlansSegments) {
  zThread z;
  z.hardwareThreads = 8;
  z.DivideJobs(49, 4, 6);
  ASSERT_EQ(z.segments.size(), 1u);
  EXPECT_EQ(z.segments[0].size, 49u);
  EXPECT_EQ(z.nbThreads, 1);

  z.DivideJobs(50, 4, 6);
  ASSERT_EQ(z.segments.size(), 4u);
  uint64_t expectSize[] = {12, 12, 12, 14}, expectOffset[] = {0, 12, 24, 36};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(z.segments[i].size, expectSize[i]);
    EXPECT_EQ(z.segments[i].offset, expectOffset[i]);
  }
  EXPECT_EQ(z.outputs.size(), 4u);
  EXPECT_EQ(z.endCodes.size(), 4u);
  EXPECT_EQ(z.state, -1);

  z.DivideJobs(1000, 16, 6);
  EXPECT_EQ(z.segments.size(), 7u) << "one hardware thread is left free";
  z.DivideJobs(1000, 0, 6);
  EXPECT_EQ(z.segments.size(), 1u);
  z.hardwareThreads = 1;
  z.DivideJobs(1000, 4, 6);
  EXPECT_EQ(z.segments.size(), 1u);
  z.hardwareThreads = 0;  // unknown count: no limit
  z.DivideJobs(1000, 16, 6);
  EXPECT_EQ(z.segments.size(), 16u);
}

// Every piece is followed by exactly the sync-flush bytes its end bit count calls for,
// and across many inputs both kinds of ending occur.
TEST(zThreadTest, PadFlagsFollowTheTrueEnd) {
  std::set<uint32_t> seenBits;
  std::mt19937 rng(99);
  for (int round = 0; round < 60; round++) {
    std::string data = MakeData(static_cast<Kind>(round % 3), 60 + rng() % 5000, rng());
    zThread z;
    z.hardwareThreads = 0;
    z.DivideJobs(data.size(), 2, static_cast<int>(rng() % 10));
    ASSERT_TRUE(z.CompressSegments(Bytes(data)));
    AppCore::CharBuffer raw = Merge(z, true);
    uint64_t firstBlocks = z.outputs[0].size - 6;
    uint32_t bits = z.endCodes[0].bitsAfter;
    seenBits.insert(bits);
    EXPECT_EQ(z.padFlags[0], bits >= 1 && bits <= 5 ? 1 : 0);
    std::string joint(raw.data + firstBlocks, z.padFlags[0] ? 4 : 5);
    EXPECT_EQ(joint, z.padFlags[0] ? std::string("\0\0\xFF\xFF", 4)
                                   : std::string("\0\0\0\xFF\xFF", 5));
    EXPECT_TRUE(InflateAll(reinterpret_cast<unsigned char*>(raw.data), raw.size, -15).out == data);
  }
  EXPECT_TRUE(seenBits.count(0) || seenBits.count(6) || seenBits.count(7));
  EXPECT_GE(seenBits.size(), 5u);
}

TEST(zThreadTest, CorruptedChecksumIsDetected) {
  std::string data = MakeData(Kind::kText, 20000, 5);
  zThread z;
  z.hardwareThreads = 0;
  AppCore::CharBuffer out;
  ASSERT_TRUE(z.Compress(Bytes(data), data.size(), out, 4, 6));
  out.data[out.size - 1] ^= 1;
  EXPECT_EQ(InflateAll(reinterpret_cast<unsigned char*>(out.data), out.size, 15).status,
            Z_DATA_ERROR);
}

TEST(zThreadTest, CompressAndCompressRawReuseTheObject) {
  zThread z(8, 6);
  z.hardwareThreads = 0;
  for (size_t size : {100000u, 0u, 5000u}) {
    std::string data = MakeData(Kind::kMixed, size, static_cast<uint32_t>(size));
    AppCore::CharBuffer zl, raw;
    ASSERT_TRUE(z.Compress(Bytes(data), data.size(), zl, 3, 6));
    EXPECT_EQ(zl.size, z.mergeSize);
    ASSERT_TRUE(z.CompressRaw(Bytes(data), data.size(), raw, 3, 6));
    EXPECT_TRUE(InflateAll(reinterpret_cast<unsigned char*>(zl.data), zl.size, 15).out == data);
    EXPECT_TRUE(InflateAll(reinterpret_cast<unsigned char*>(raw.data), raw.size, -15).out == data);
  }
}

TEST(zThreadTest, MergeRefusesSmallDestinationWithoutWriting) {
  std::string data = MakeData(Kind::kText, 4000, 1);
  zThread z;
  z.DivideJobs(data.size(), 2, 6);
  ASSERT_TRUE(z.CompressSegments(Bytes(data)));
  for (bool raw : {false, true}) {
    uint64_t need = raw ? z.ComputeMergeRawSize() : z.ComputeMergeSize();
    std::string dst(need, 'x');
    unsigned long size = need - 1;
    auto* p = reinterpret_cast<unsigned char*>(dst.data());
    EXPECT_FALSE(raw ? z.MergeBuffersRaw(p, size) : z.MergeBuffers(p, size));
    EXPECT_EQ(size, need - 1);
    EXPECT_EQ(dst, std::string(need, 'x'));
  }
}

// A size computed before the segments were compressed again belongs to the old pieces:
// the merge measures the new ones, which no longer fit.
TEST(zThreadTest, MergeMeasuresPiecesCompressedAfterTheSize) {
  std::string text = MakeData(Kind::kText, 40000, 1);
  std::string noise = MakeData(Kind::kRandom, text.size(), 2);
  for (bool raw : {false, true}) {
    zThread z;
    z.DivideJobs(text.size(), 2, 6);
    ASSERT_TRUE(z.CompressSegments(Bytes(text)));
    uint64_t need = raw ? z.ComputeMergeRawSize() : z.ComputeMergeSize();
    ASSERT_TRUE(z.CompressSegments(Bytes(noise)));
    std::string dst(need, 'x');
    unsigned long size = need;
    auto* p = reinterpret_cast<unsigned char*>(dst.data());
    EXPECT_FALSE(raw ? z.MergeBuffersRaw(p, size) : z.MergeBuffers(p, size));
    EXPECT_EQ(dst, std::string(need, 'x'));
  }
}

// A segment that failed leaves an empty piece: nothing may be joined without it.
TEST(zThreadTest, MissingPieceFailsTheMerge) {
  std::string data = MakeData(Kind::kText, 4000, 2);
  zThread z;
  z.hardwareThreads = 0;
  z.DivideJobs(data.size(), 3, 6);
  ASSERT_TRUE(z.CompressSegments(Bytes(data)));
  z.outputs[1].Clear();
  EXPECT_EQ(z.ComputeMergeRawSize(), 0u);
  EXPECT_EQ(z.ComputeMergeSize(), 0u);
  std::string dst(1 << 16, 'x');
  unsigned long size = dst.size();
  auto* p = reinterpret_cast<unsigned char*>(dst.data());
  EXPECT_FALSE(z.MergeBuffersRaw(p, size));
  EXPECT_FALSE(z.MergeBuffers(p, size));
  EXPECT_EQ(size, dst.size());
}

TEST(zThreadTest, FailedSegmentFailsTheCompression) {
  // Segments so large that their output room cannot be allocated: each one fails before
  // reading any input.
  unsigned char input[64] = {};
  zThread z;
  z.hardwareThreads = 0;
  z.DivideJobs(uint64_t{1} << 61, 2, 6);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(z.CompressSegments(input));
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("Failed to compress zThread with error: out of memory\n"),
            std::string::npos);
  EXPECT_EQ(z.outputs[0].size, 0u);
  EXPECT_EQ(z.ComputeMergeRawSize(), 0u);

  AppCore::CharBuffer out;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(z.CompressRaw(input, uint64_t{1} << 61, out, 2, 6));
  testing::internal::GetCapturedStdout();
}

// Input beyond zlib's 32-bit counters is compressed whole, not cut at 4 GiB: each of the
// three segments is itself too large for one zlib call. The input is an untouched
// anonymous mapping, so it reads as zeros without taking memory.
TEST(zThreadTest, InputOf4GiBIsCompressedWhole) {
  const uint64_t kSize = (uint64_t{1} << 32) + 4099;
  void* map = mmap(nullptr, kSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  zThread z;
  z.hardwareThreads = 0;
  z.DivideJobs(kSize, 3, 1);
  ASSERT_TRUE(z.CompressSegments(static_cast<unsigned char*>(map)));
  munmap(map, kSize);
  AppCore::CharBuffer zl = Merge(z, false);

  // Inflate in a stream, counting bytes instead of keeping them; the inflater's check of
  // the combined Adler-32 vouches for the contents.
  z_stream s{};
  ASSERT_EQ(inflateInit(&s), Z_OK);
  s.next_in = reinterpret_cast<unsigned char*>(zl.data);
  s.avail_in = static_cast<uInt>(zl.size);
  std::string buf(1 << 20, '\0');
  uint64_t total = 0;
  int status;
  do {
    s.next_out = reinterpret_cast<unsigned char*>(buf.data());
    s.avail_out = static_cast<uInt>(buf.size());
    status = inflate(&s, Z_NO_FLUSH);
    total += buf.size() - s.avail_out;
  } while (status == Z_OK);
  inflateEnd(&s);
  EXPECT_EQ(status, Z_STREAM_END);
  EXPECT_EQ(total, kSize);
}

TEST(zThreadTest, ChecksumHelpers) {
  unsigned char be[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(zThread::BuffToInteger(be), 0x12345678u);
  std::mt19937 rng(3);
  for (int i = 0; i < 50; i++) {
    std::string a = RandomBytes(rng() % 3000, rng), b = RandomBytes(rng() % 3000, rng);
    unsigned long whole = adler32(1, Bytes(a + b), static_cast<uInt>(a.size() + b.size()));
    unsigned long sa = adler32(1, Bytes(a), static_cast<uInt>(a.size()));
    unsigned long sb = adler32(1, Bytes(b), static_cast<uInt>(b.size()));
    EXPECT_EQ(zThread::Adler32Combine(sa, sb, b.size()), whole);
  }
}

}  // namespace
