// Plain and compressed container files and the compressed form in memory, including every
// way a load can fail without disturbing the container.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"
#include "support/TempDir.h"

using namespace bstest;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

ByteStream Sample() {
  ByteStream bs;
  bs.AddString("Func", "API");
  bs.AddInt32("KeyIndex", -1);
  bs.AddDoubleVector("d", {1.5, -2.25});
  ByteStream child;
  child.AddString("inner", "yes");
  bs.AddStream("Data", child);
  return bs;
}

// A compressed form made by zlib directly, independently of the container.
Bytes Compressed(const Bytes& image, uint64_t storedLength) {
  uLongf packed = compressBound(image.size());
  Bytes out(8 + packed);
  std::memcpy(out.data(), &storedLength, 8);
  compress2(reinterpret_cast<Bytef*>(out.data() + 8), &packed,
            reinterpret_cast<const Bytef*>(image.data()), image.size(), 6);
  out.resize(8 + packed);
  return out;
}

}  // namespace

TEST(ByteStreamFile, SaveThenReadGivesTheSameRecords) {
  testsupport::TempDir dir;
  std::string path = dir.File("s.bs");
  ByteStream bs = Sample();
  ASSERT_TRUE(bs.Save(path));
  EXPECT_EQ(FileBytes(path), ImageOf(bs));
  ByteStream view(true);
  ASSERT_TRUE(view.Read(path));
  EXPECT_EQ(ImageOf(view), ImageOf(bs));
  for (const auto& r : view.records) EXPECT_FALSE(r.owned);  // views of the file's image
  ByteStream copy;
  ASSERT_TRUE(copy.Read(path));
  EXPECT_EQ(copy.mode, 1u);
  EXPECT_EQ(ImageOf(copy), ImageOf(bs));
  EXPECT_TRUE(ByteStream::Validate(path));

  ByteStream empty;
  ASSERT_TRUE(empty.Save(dir.File("empty.bs")));
  EXPECT_EQ(FileBytes(dir.File("empty.bs")).size(), 16u);
  ByteStream readBack;
  EXPECT_TRUE(readBack.Read(dir.File("empty.bs")));
  EXPECT_TRUE(readBack.records.empty());
}

TEST(ByteStreamFile, FailedReadsLeaveTheContainerAsItWas) {
  testsupport::TempDir dir;
  std::string good = dir.File("good.bs"), bad = dir.File("bad.bs");
  ASSERT_TRUE(Sample().Save(good));
  Bytes damaged = FileBytes(good);
  damaged[16] = 0x70;  // a directory entry past the end of the file
  WriteFile(bad, damaged);
  // Only regular files are read: a FIFO is refused at once, never waiting for a writer.
  ASSERT_EQ(mkfifo(dir.File("fifo.bs").c_str(), 0600), 0);
  for (bool view : {false, true}) {
    ByteStream bs(view);
    ASSERT_TRUE(bs.Read(good));
    Bytes before = ImageOf(bs);
    for (const char* unreadable : {"missing.bs", "fifo.bs", ""}) {
      CaptureStdout();
      EXPECT_FALSE(bs.Read(dir.File(unreadable)));
      EXPECT_EQ(GetCapturedStdout(), "Failed to open file: " + dir.File(unreadable) + "\n");
      EXPECT_EQ(ImageOf(bs), before);  // views still readable: the old image stays
    }
    EXPECT_FALSE(bs.Read(bad));
    EXPECT_EQ(ImageOf(bs), before);
    std::string s;
    EXPECT_TRUE(bs.GetString("Func", s));
  }
  CaptureStdout();
  EXPECT_FALSE(ByteStream::Validate(dir.File("missing.bs")));
  EXPECT_EQ(GetCapturedStdout(), "Failed to open file: " + dir.File("missing.bs") + "\n");
}

TEST(ByteStreamFile, BinaryImagesThatLookLikeTextSignaturesKeepEveryByte) {
  // 65534 records: the count starts FE FF, a UTF-16 byte-order signature.
  testsupport::TempDir dir;
  ByteStream bs;
  for (int i = 0; i < 0xfffe; ++i) bs.AddUInt8(std::to_string(i), static_cast<uint8_t>(i));
  std::string path = dir.File("bom.bs");
  ASSERT_TRUE(bs.Save(path));
  ASSERT_EQ(static_cast<unsigned char>(FileBytes(path)[0]), 0xfe);
  ByteStream back(true);
  ASSERT_TRUE(back.Read(path));
  EXPECT_EQ(back.records.size(), 0xfffeu);
  ByteStream opened;
  ASSERT_TRUE(opened.Open(path));
  EXPECT_EQ(opened.records.size(), 0xfffeu);
}

TEST(ByteStreamFile, SavingOverTheFileItViews) {
  testsupport::TempDir dir;
  std::string path = dir.File("self.bs");
  ASSERT_TRUE(Sample().Save(path));
  ByteStream view(true);
  ASSERT_TRUE(view.Read(path));
  ASSERT_TRUE(view.Save(path));
  EXPECT_EQ(FileBytes(path), ImageOf(Sample()));
  ByteStream opened;
  ASSERT_TRUE(opened.Open(path));
  opened.AddString("extra", "1");
  ASSERT_TRUE(opened.Save(path));
  EXPECT_EQ(FileBytes(path), ImageOf(opened));
}

TEST(ByteStreamFile, SaveReportsAFileThatCannotBeCreated) {
  CaptureStdout();
  EXPECT_FALSE(Sample().Save("/nonexistent-dir/x.bs"));
  EXPECT_FALSE(Sample().SaveCompressed("/nonexistent-dir/x.bsz"));
  EXPECT_NE(GetCapturedStdout().find("Failed to create new file: /nonexistent-dir/x.bs\n"),
            std::string::npos);
}

TEST(ByteStreamCompressed, RoundTripInMemoryAndOnDisk) {
  ByteStream bs = Sample();
  Bytes packed(bs.GetCompressedSize());
  uint64_t length = bs.GetCompressedStream(packed.data());
  ASSERT_GT(length, 8u);
  EXPECT_EQ(ByteStream::GetUncompressedSize(packed.data()), bs.GetStreamSize());
  // Independently inflated, it is the image.
  Bytes image(bs.GetStreamSize());
  uLongf n = image.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(image.data()), &n,
                       reinterpret_cast<const Bytef*>(packed.data() + 8), length - 8),
            Z_OK);
  EXPECT_EQ(image, ImageOf(bs));
  for (bool view : {false, true}) {
    ByteStream back(view);
    ASSERT_TRUE(back.LoadCompressedStream(packed.data(), length));
    EXPECT_EQ(ImageOf(back), ImageOf(bs));
    if (view) {
      EXPECT_GE(back.records[0].data, back.buffer.data);
      EXPECT_LT(back.records[0].data, back.buffer.data + back.buffer.size);
    }
  }
  testsupport::TempDir dir;
  ASSERT_TRUE(bs.SaveCompressed(dir.File("c.bsz")));
  EXPECT_EQ(FileBytes(dir.File("c.bsz")), Bytes(packed.begin(), packed.begin() + length));
  ByteStream fromFile;
  ASSERT_TRUE(fromFile.ReadCompressed(dir.File("c.bsz")));
  EXPECT_EQ(ImageOf(fromFile), ImageOf(bs));
}

TEST(ByteStreamCompressed, EmptyContainerAndTheBound) {
  ByteStream empty;
  // The bound of 16 bytes: the larger of 128 + 17 and 128 + 16 + 5.
  EXPECT_EQ(empty.GetCompressedSize(), 8u + 149u);
  Bytes packed(empty.GetCompressedSize());
  uint64_t length = empty.GetCompressedStream(packed.data());
  EXPECT_EQ(ByteStream::GetUncompressedSize(packed.data()), 16u);
  Bytes zlibOnly = Compressed(Image({}), 16);
  EXPECT_EQ(length, zlibOnly.size());
  ByteStream big;
  big.AddBuffer("b", Bytes(1 << 20, 'x').data(), 1 << 20);
  uint64_t s = big.GetStreamSize();
  EXPECT_EQ(big.GetCompressedSize(), 8 + std::max(128 + s * 110 / 100, 128 + s + (s / (31 * 1024) + 1) * 5));
}

TEST(ByteStreamCompressed, BadFormsLeaveTheContainerAsItWas) {
  ByteStream bs = Sample();
  Bytes before = ImageOf(bs);
  Bytes seven(7, 0);
  EXPECT_FALSE(bs.LoadCompressedStream(seven.data(), 7));
  EXPECT_EQ(ImageOf(bs), before);

  Bytes corrupt = Compressed(ImageOf(Sample()), before.size());
  corrupt[12] ^= 0x55;
  corrupt[corrupt.size() - 1] ^= 0x55;
  CaptureStdout();
  EXPECT_FALSE(bs.LoadCompressedStream(corrupt.data(), corrupt.size()));
  std::string out = GetCapturedStdout();
  EXPECT_EQ(out.rfind("Failed to uncompress ByteStream with error: ", 0), 0u) << out;
  EXPECT_EQ(ImageOf(bs), before);

  // A stored length shorter than the data: zlib's "buf error" in the original's words.
  Bytes shortLength = Compressed(ImageOf(Sample()), 20);
  CaptureStdout();
  EXPECT_FALSE(bs.LoadCompressedStream(shortLength.data(), shortLength.size()));
  EXPECT_EQ(GetCapturedStdout(), "Failed to uncompress ByteStream with error: buf error\n");
  EXPECT_EQ(ImageOf(bs), before);

  // A valid stream of something that is not an image.
  Bytes notImage = Compressed(Bytes(40, 'q'), 40);
  EXPECT_FALSE(bs.LoadCompressedStream(notImage.data(), notImage.size()));
  EXPECT_EQ(ImageOf(bs), before);
}

TEST(ByteStreamCompressed, AStoredLengthBeyondDeflatesReachIsNotAllocated) {
  // 2^60 bytes could never come out of a few bytes of deflate: refused before allocating.
  Bytes lie = Compressed(Image({}), 1ull << 60);
  ByteStream bs;
  bs.AddInt32("keep", 1);
  CaptureStdout();
  EXPECT_FALSE(bs.LoadCompressedStream(lie.data(), lie.size()));
  EXPECT_EQ(GetCapturedStdout(), "Failed to uncompress ByteStream with error: data error\n");
  EXPECT_TRUE(bs.HasRecord("keep"));
  // A highly compressible image within the bound still loads.
  ByteStream zeros;
  zeros.AddBuffer("z", Bytes(4 << 20, 0).data(), 4 << 20);
  Bytes packed(zeros.GetCompressedSize());
  uint64_t length = zeros.GetCompressedStream(packed.data());
  ASSERT_TRUE(bs.LoadCompressedStream(packed.data(), length));
  EXPECT_EQ(bs.GetRecordValueSize("z"), 4u << 20);
}

TEST(ByteStreamCompressed, ReadCompressedOfAMissingFile) {
  ByteStream bs;
  CaptureStdout();
  EXPECT_FALSE(bs.ReadCompressed("/nonexistent-dir/x.bsz"));
  EXPECT_EQ(GetCapturedStdout(), "Failed to open file: /nonexistent-dir/x.bsz\n");
}
