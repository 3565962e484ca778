// The contiguous modes: pre-allocated layouts in a buffer, a mapped file and caller memory,
// in-place growth and shrinking, and a Reset that keeps the image true to the records.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"
#include "support/TempDir.h"

using namespace bstest;

namespace {

Bytes Image16() { return Image({}); }

// Caps the size of files this process may write, so that growing a mapped file fails the
// way it does on a full disk; restores the limit when it goes out of scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = saved_;
    capped.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &capped);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int);
};

}  // namespace

TEST(ByteStreamContiguous, GrowingABufferInPlaceKeepsItsLeadingBytes) {
  ByteStream bs;
  ASSERT_TRUE(bs.PreAllocate({{"cTile", dt_buffer, 8}, {"cMint", dt_buffer, 4}}, ""));
  char* tile = bs.AddBuffer("cTile", static_cast<uint64_t>(8));
  ASSERT_NE(tile, nullptr);
  std::memcpy(tile, "ABCDEFGH", 8);
  char* mint = bs.AddBuffer("cMint", static_cast<uint64_t>(4));
  std::memcpy(mint, "wxyz", 4);
  tile = bs.AddBuffer("cTile", static_cast<uint64_t>(4096));
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(std::string(tile, 8), "ABCDEFGH");
  uint64_t size = 0;
  mint = bs.GetBufferPtr("cMint", size);
  EXPECT_EQ(std::string(mint, size), "wxyz");
  tile = bs.AddBuffer("cTile", static_cast<uint64_t>(3));
  EXPECT_EQ(std::string(tile, 3), "ABC");
  EXPECT_EQ(bs.mode, 2u);
}

// Growth, shrinking and replacement in place are compared with separate records in the
// property test; these are the edits it does not make.

// Reset leaves an image true to its (no) records, in the buffer and in the mapped file, and
// later growth starts from the empty image, not from the old directory.
TEST(ByteStreamContiguous, ResetRewritesTheImage) {
  testsupport::TempDir dir;
  for (const std::string& path : {std::string(), dir.File("c.bs")}) {
    ByteStream bs;
    ASSERT_TRUE(bs.PreAllocate({{"a", dt_int64, 0}, {"b", dt_string, 10}}, path));
    bs.Reset();
    EXPECT_EQ(ImageOf(bs), Image16());
    std::vector<uint64_t> entries;
    EXPECT_EQ(bs.GetPosList(entries), 0u);
    bs.AddInt32("n", 3);
    EXPECT_EQ(ImageOf(bs), Image({Record(dt_int32, "n", Bytes{3, 0, 0, 0})}));
    Bytes stored = path.empty() ? Bytes(bs.buffer.data, bs.buffer.data + bs.buffer.size)
                                : FileBytes(path);
    EXPECT_EQ(stored, ImageOf(bs));
  }
}

TEST(ByteStreamContiguous, ReplacingWithADifferentTypeAndMixedRecordAdds) {
  ByteStream bs, model;
  ASSERT_TRUE(bs.PreAllocate({{"k", dt_int32, 0}}, ""));
  for (ByteStream* s : {&bs, &model}) {
    s->AddInt32("k", 1);
    s->AddDoubleVector("k", {1.0, 2.0});
    s->AddString("z", "zz");
    ByteStreamBuffer record("q", dt_uint16, 2);
    uint16_t v = 513;
    record.SetValue(&v);
    s->AddRecord(record);
    ByteStream source;
    source.AddString("copied", "c");
    s->CopyEntry(source, "copied");
    source.AddString("copied", "d");  // same length: copied over in place
    s->CopyEntry(source, "copied");
  }
  EXPECT_EQ(bs.mode, 2u);
  EXPECT_EQ(ImageOf(bs), ImageOf(model));
  EXPECT_EQ(Bytes(bs.buffer.data, bs.buffer.data + bs.buffer.size), ImageOf(model));
}

TEST(ByteStreamContiguous, FailedPreAllocateLeavesAnEmptyConsistentContainer) {
  ByteStream bs;
  ASSERT_TRUE(bs.PreAllocate({{"a", dt_int32, 0}}, ""));
  EXPECT_FALSE(bs.PreAllocate({{"b", dt_int32, 0}}, "/nonexistent-dir/x/y"));
  EXPECT_TRUE(bs.records.empty());
  EXPECT_EQ(ImageOf(bs), Image16());
  EXPECT_FALSE(ByteStream(true).PreAllocate({}, ""));
}

TEST(ByteStreamContiguous, CallerMemory) {
  std::vector<ByteStreamSlotSpec> slots = {{"a", dt_int32, 0}, {"b", dt_string, 3}};
  uint64_t total = ByteStream::GetPreAllocateSize(slots);
  std::vector<char> memory(total + 4, '#');
  ByteStream bs;
  uint64_t tooSmall = total - 1;
  EXPECT_FALSE(bs.PreAllocate(slots, memory.data(), tooSmall));
  EXPECT_EQ(memory, std::vector<char>(total + 4, '#'));  // untouched
  ASSERT_TRUE(bs.PreAllocate(slots, memory.data(), total));
  EXPECT_EQ(bs.mode, 4u);
  // Values are written into the caller's memory by the adds' separate-record path only when
  // the caller writes them there; the layout itself is in place.
  int32_t v = 77;
  ASSERT_TRUE(bs.GetRecord("a")->SetValue(&v));
  std::memcpy(bs.GetRecord("b")->GetValue(), "xyz", 3);
  EXPECT_EQ(Bytes(memory.begin(), memory.begin() + total), ImageOf(bs));
  // A later add replaces the view with a record of its own; the image follows the records.
  bs.AddString("b", "longer");
  std::string s;
  EXPECT_TRUE(bs.GetString("b", s));
  EXPECT_EQ(s, "longer");
  ByteStream check;
  Bytes image = ImageOf(bs);
  ASSERT_TRUE(check.LoadStream(image.data(), image.size()));
  int32_t got = 0;
  EXPECT_TRUE(check.GetInt32("a", got));
  EXPECT_EQ(got, 77);
}

TEST(ByteStreamContiguous, OpenEditsAFileInPlace) {
  testsupport::TempDir dir;
  std::string path = dir.File("open.bs");
  {
    ByteStream bs;
    ASSERT_TRUE(bs.Open(path));  // missing: created as the empty image
    EXPECT_EQ(bs.mode, 3u);
    EXPECT_EQ(FileBytes(path), Image16());
    bs.AddString("name", "first");
    bs.AddInt32("n", 1);
  }
  ByteStream bs;
  ASSERT_TRUE(bs.Open(path));
  EXPECT_EQ(bs.mode, 3u);
  std::string s;
  EXPECT_TRUE(bs.GetString("name", s));
  EXPECT_EQ(s, "first");
  bs.AddString("name", "second, longer");
  EXPECT_EQ(FileBytes(path), ImageOf(bs));
  // Caller memory too small for a layout is refused before the open file is touched.
  Bytes before = FileBytes(path);
  char small[16];
  const uint64_t capacity = sizeof small;
  EXPECT_FALSE(bs.PreAllocate({{"x", dt_int32, 0}}, small, capacity));
  EXPECT_EQ(bs.mode, 3u);
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_EQ(ImageOf(bs), before);
  bs.ClearAll();  // closes without touching the file
  ByteStream again(true);
  ASSERT_TRUE(again.Open(path));  // read-only: a plain Read
  EXPECT_TRUE(again.GetString("name", s));
  EXPECT_EQ(s, "second, longer");
}

TEST(ByteStreamContiguous, OpenRefusesImagesThatAreNotExact) {
  testsupport::TempDir dir;
  std::string path = dir.File("gap.bs");
  Bytes a = Record(dt_uint8, "a", Bytes{1});
  Bytes image;
  PutU64(image, 2);
  PutU64(image, 32);
  PutU64(image, 32);  // an empty entry: the load would skip it, the directory would not
  PutU64(image, 32 + a.size());
  image.insert(image.end(), a.begin(), a.end());
  WriteFile(path, image);
  ByteStream bs;
  EXPECT_FALSE(bs.Open(path));
  EXPECT_TRUE(bs.records.empty());
  EXPECT_EQ(FileBytes(path), image);  // untouched
  bs.AddInt32("x", 1);                // usable afterwards
  EXPECT_TRUE(bs.HasRecord("x"));
}

TEST(ByteStreamContiguous, AFileThatCannotGrowKeepsItsBytesOrTheAddMovesToMemory) {
  testsupport::TempDir dir;
  std::string path = dir.File("full.bs");
  ByteStream bs;
  ASSERT_TRUE(bs.PreAllocate({{"cTile", dt_buffer, 64}, {"n", dt_int32, 0}}, path));
  char* tile = bs.AddBuffer("cTile", static_cast<uint64_t>(64));
  ASSERT_NE(tile, nullptr);
  std::memset(tile, 'T', 64);
  bs.AddInt32("n", 5);
  Bytes lastGood = ImageOf(bs);
  {
    FileSizeLimit limit(4096);
    // Growing the block in place is impossible: refused, never a fresh unwritten record.
    EXPECT_EQ(bs.AddBuffer("cTile", static_cast<uint64_t>(100000)), nullptr);
    EXPECT_EQ(bs.mode, 3u);
    uint64_t size = 0;
    char* kept = bs.GetBufferPtr("cTile", size);
    ASSERT_EQ(size, 64u);
    EXPECT_EQ(std::string(kept, 64), std::string(64, 'T'));
    EXPECT_EQ(FileBytes(path), lastGood);
    EXPECT_EQ(ImageOf(bs), lastGood);
    // Any other add keeps its value: the container moves to separate records and the file
    // keeps the last image it had.
    bs.AddString("big", std::string(100000, 'x'));
    EXPECT_EQ(bs.mode, 1u);
  }
  std::string big;
  EXPECT_TRUE(bs.GetString("big", big));
  EXPECT_EQ(big, std::string(100000, 'x'));
  int32_t n = 0;
  EXPECT_TRUE(bs.GetInt32("n", n));
  EXPECT_EQ(n, 5);
  EXPECT_EQ(FileBytes(path), lastGood);
  Bytes image = ImageOf(bs);
  ByteStream check;
  ASSERT_TRUE(check.LoadStream(image.data(), image.size()));
  EXPECT_EQ(ImageOf(check), image);
  EXPECT_EQ(check.records.size(), 3u);
}

TEST(ByteStreamContiguous, AddsWhoseSourceIsTheImageItself) {
  // Making room in place may move the image; values read from it are staged first.
  ByteStream bs, model;
  ASSERT_TRUE(bs.PreAllocate({}, ""));
  for (ByteStream* s : {&bs, &model}) {
    ByteStream inner;
    inner.AddString("name", std::string(300, 'n'));
    s->AddStream("inner", inner);
    s->AddBuffer("block", std::string(500, 'b').data(), 500);
  }
  for (ByteStream* s : {&bs, &model}) {
    ByteStream view(true);
    ASSERT_TRUE(s->GetStream("inner", view));  // views the container's own bytes
    s->AddStream("again", view);
    // The add may have moved the image: views taken before it are gone.
    ASSERT_TRUE(s->GetStream("inner", view));
    std::vector<ByteStream> kids;
    kids.push_back(std::move(view));
    s->AddStreamVector("kids", kids);
    uint64_t size = 0;
    char* block = s->GetBufferPtr("block", size);
    s->AddBuffer("copy", block, size);
    block = s->GetBufferPtr("block", size);
    s->AddBufferVector("pieces", {block, block + 10}, {10, 20});
  }
  EXPECT_EQ(bs.mode, 2u);
  EXPECT_EQ(ImageOf(bs), ImageOf(model));
  std::vector<char*> data;
  std::vector<uint64_t> sizes;
  ASSERT_TRUE(bs.GetBufferVector("pieces", data, sizes));
  EXPECT_EQ(std::string(data[1], sizes[1]), std::string(20, 'b'));
  // A container among its own items, before and after it holds records of its own.
  for (bool empty : {true, false}) {
    std::vector<ByteStream> items(1);
    ASSERT_TRUE(items[0].PreAllocate({}, ""));
    if (!empty) items[0].AddInt32("n", 1);
    Bytes before = ImageOf(items[0]);
    items[0].AddStreamVector("self", items);
    std::vector<ByteStream> got;
    ASSERT_TRUE(items[0].GetStreamVector("self", got));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(ImageOf(got[0]), before);
  }
}
