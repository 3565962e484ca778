#include "foundation/FileEngine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "foundation/FileAccess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using AppCore::FileEngine;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// The selected back end's sizes, whichever it is.
uint64_t FileSize(const FileEngine& e) { return e.useMMap ? e.mm.fileSize : e.basic.fileSize; }
uint64_t ViewSize(const FileEngine& e) { return e.useMMap ? e.mm.viewSize : e.basic.viewSize; }
uint64_t ViewStart(const FileEngine& e) {
  return e.useMMap ? e.mm.viewStart : e.basic.viewStart;
}
std::string View(const FileEngine& e) {
  return std::string(reinterpret_cast<const char*>(e.view), ViewSize(e));
}
const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

class FileEngineTest : public testing::TestWithParam<bool> {
 protected:
  TempDir dir;
  FileEngine engine{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(BothBackEnds, FileEngineTest, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "mmap" : "stdio"; });

TEST(AccessTypeTest, OnlyExactlyROrW) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(AppCore::IsValidAccessType("r"));
  EXPECT_TRUE(AppCore::IsValidAccessType("w"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  for (const char* bad : {"", "rw", "W", "r ", "a"}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(AppCore::IsValidAccessType(bad));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("Requested file access, \"") + bad +
                  "\" not valid. Valid options: \"r\", \"w\"");
  }
}

TEST_P(FileEngineTest, NewFileWriteFlushReopenRoundTrip) {
  std::string path = dir.File("round");
  std::string data = RandomBytes(10000, 1);
  ASSERT_TRUE(engine.NewFile(path, data.size()));
  ASSERT_EQ(FileSize(engine), data.size());
  ASSERT_EQ(ViewSize(engine), data.size());
  std::memcpy(engine.view, data.data(), data.size());
  ASSERT_TRUE(engine.FlushView());
  EXPECT_EQ(ReadFileBytes(path), data);

  FileEngine reader(GetParam());
  ASSERT_TRUE(reader.OpenFile(path.c_str(), "r"));
  EXPECT_EQ(View(reader), data);
  EXPECT_FALSE(reader.FlushView());  // read-only
}

TEST_P(FileEngineTest, NewFileOfSizeZeroHasOneZeroByteAndOrdinaryPermissions) {
  std::string path = dir.File("one");
  mode_t old = umask(0);
  bool created = engine.NewFile(path.c_str(), 0);
  umask(old);
  ASSERT_TRUE(created);
  ASSERT_EQ(FileSize(engine), 1u);
  EXPECT_EQ(engine.view[0], 0);
  ASSERT_TRUE(engine.FlushView());
  EXPECT_EQ(ReadFileBytes(path), std::string(1, '\0'));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Only regular files open: a missing one, a directory (whose size reads as huge) and a
// FIFO (whose open would wait for a writer) are refused at once, with the error number.
TEST_P(FileEngineTest, OpenOfWhatIsNotAFileFailsAndLeavesNothingOpen) {
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.File("dir").c_str(), 0700), 0);
  struct Case {
    std::string name;
    std::string access;
    int error;
  } cases[] = {{"missing", "w", ENOENT}, {"dir", "r", EISDIR}, {"dir", "w", EISDIR},
               {"fifo", "r", EINVAL}, {"fifo", "w", EINVAL}};
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(engine.OpenFile(path, c.access)) << c.name;
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    if (GetParam()) {
      EXPECT_NE(err.find(std::string("MMFile - CreateFile failed with error: ") + std::strerror(c.error)),
                std::string::npos) << c.name << err;
    } else {
      EXPECT_NE(out.find("BasicFile - Error opening file " + path + " with error no: " +
                         std::to_string(c.error) + "\n"), std::string::npos) << c.name << out;
    }
    EXPECT_EQ(engine.view, nullptr);
    EXPECT_EQ(engine.mm.fd, -1);
    EXPECT_EQ(engine.basic.stream, nullptr);
  }
}

TEST_P(FileEngineTest, InvalidAccessChangesNothing) {
  std::string path = dir.File("f");
  WriteFileBytes(path, "hello");
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(engine.OpenFile(path, "rw"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(View(engine), "hello");
}

TEST_P(FileEngineTest, EmptyFileOpensOnlyThroughStdio) {
  std::string path = dir.File("empty");
  WriteFileBytes(path, "");
  testing::internal::CaptureStdout();
  bool opened = engine.OpenFile(path, "r");
  std::string out = testing::internal::GetCapturedStdout();
  if (GetParam()) {
    EXPECT_FALSE(opened);
    EXPECT_EQ(out, "MMFile - File is empty: " + path + "\n");
    EXPECT_EQ(engine.mm.fd, -1);
  } else {
    EXPECT_TRUE(opened);
    EXPECT_EQ(ViewSize(engine), 0u);
    EXPECT_EQ(engine.view, nullptr);
  }
}

// Binary files keep every byte, whatever they start with: a count or a cell that happens
// to begin like a byte-order signature must not lose bytes.
TEST_P(FileEngineTest, BinaryFilesKeepSignatureLikeBytes) {
  for (std::string head : {std::string("\xEF\xBB\xBF", 3), std::string("\xFE\xFF", 2),
                           std::string("\xFF\xFE\0\0", 4), std::string("\xFF\xFE", 2),
                           std::string("\0\0\xFE\xFF", 4)}) {
    std::string path = dir.File("bin");
    std::string data = head + "payload";
    WriteFileBytes(path, data);
    ASSERT_TRUE(engine.OpenFile(path, "r"));
    EXPECT_EQ(FileSize(engine), data.size());
    EXPECT_EQ(View(engine), data);
  }
}

TEST_P(FileEngineTest, TextFilesSkipTheirSignature) {
  struct Case {
    std::string bytes;
    std::string content;
  };
  for (const Case& c : {Case{std::string("\xEF\xBB\xBF" "abc"), "abc"},
                        Case{std::string("\xFE\xFF" "ab", 4), "ab"},
                        Case{std::string("\xFF\xFE\0\0", 4), ""},
                        Case{std::string("\xFF\xFE\x41\0", 4), std::string("\x41\0", 2)},
                        Case{std::string("\0\0\xFE\xFF" "z", 5), "z"},
                        Case{"plain", "plain"}}) {
    std::string path = dir.File("text");
    WriteFileBytes(path, c.bytes);
    ASSERT_TRUE(engine.OpenFile(path, "r", true));
    EXPECT_EQ(FileSize(engine), c.content.size());
    EXPECT_EQ(View(engine), c.content);
  }
}

// Offsets of a text file count from after its signature, and writes never touch it.
TEST_P(FileEngineTest, TextFileWritesKeepTheSignature) {
  std::string path = dir.File("text");
  const std::string bom = "\xEF\xBB\xBF";
  WriteFileBytes(path, bom + "abcdef");
  ASSERT_TRUE(engine.OpenFile(path, "w", true));
  ASSERT_TRUE(engine.WriteToDisk(Bytes("XY"), 1, 2));
  EXPECT_EQ(ReadFileBytes(path), bom + "aXYdef");
  ASSERT_TRUE(engine.ResizeFile(8));
  EXPECT_EQ(ReadFileBytes(path), bom + "aXYdef" + std::string(2, '\0'));
  ASSERT_TRUE(engine.SetView(2, 3));
  EXPECT_EQ(View(engine), "Yde");
  ASSERT_TRUE(engine.ChangeAccess("r"));
  EXPECT_EQ(View(engine), "aXYdef" + std::string(2, '\0'));
}

TEST_P(FileEngineTest, ResizeToZeroLeavesOneByte) {
  std::string path = dir.File("z");
  WriteFileBytes(path, "some bytes");
  ASSERT_TRUE(engine.OpenFile(path, "w"));
  ASSERT_TRUE(engine.ResizeFile(0));
  EXPECT_EQ(FileSize(engine), 1u);
  ASSERT_TRUE(engine.FlushView());
  EXPECT_EQ(ReadFileBytes(path).size(), 1u);
}

TEST_P(FileEngineTest, WritesOnReadOnlyFilesAreRefusedSilently) {
  std::string path = dir.File("ro");
  WriteFileBytes(path, "abc");
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(engine.WriteToDisk(Bytes("x"), 0, 1));
  EXPECT_FALSE(engine.ResizeFile(10));
  EXPECT_FALSE(engine.FlushView());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ReadFileBytes(path), "abc");
}

// Writing a few bytes into a large file must keep the rest of it.
TEST_P(FileEngineTest, WriteToDiskNeverShrinksTheFile) {
  std::string path = dir.File("big");
  std::string model = RandomBytes(1 << 20, 2);
  WriteFileBytes(path, model);
  ASSERT_TRUE(engine.OpenFile(path, "w"));
  ASSERT_TRUE(engine.WriteToDisk(Bytes("0123456789"), 0, 10));
  model.replace(0, 10, "0123456789");
  EXPECT_EQ(FileSize(engine), model.size());
  EXPECT_EQ(ReadFileBytes(path), model);

  // Past the end the file grows; a gap reads as zeros.
  ASSERT_TRUE(engine.WriteToDisk(Bytes("tail"), model.size() + 6, 4));
  model += std::string(6, '\0') + "tail";
  EXPECT_EQ(FileSize(engine), model.size());
  EXPECT_EQ(ReadFileBytes(path), model);
}

TEST_P(FileEngineTest, RandomViewsMatchTheFile) {
  std::string path = dir.File("views");
  std::string data = RandomBytes(3 * 4096 + 123, 3);
  WriteFileBytes(path, data);
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  std::mt19937 rng(4);
  for (int i = 0; i < 300; ++i) {
    unsigned long start = rng() % (data.size() + 1);
    unsigned long size = rng() % 6000;
    ASSERT_TRUE(engine.SetView(start, size));
    EXPECT_EQ(ViewStart(engine), start);
    EXPECT_EQ(View(engine), data.substr(start, size));
  }
  ASSERT_TRUE(engine.SetView());
  EXPECT_EQ(View(engine), data);
}

TEST_P(FileEngineTest, ViewStartPastTheEndIsRefused) {
  std::string path = dir.File("short");
  WriteFileBytes(path, "0123456789");
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  ASSERT_TRUE(engine.SetView(2, 3));
  EXPECT_FALSE(engine.SetView(11, 5));
  EXPECT_EQ(ViewSize(engine), 3u);
  EXPECT_EQ(View(engine), "234");
  ASSERT_TRUE(engine.SetView(10, 5));
  EXPECT_EQ(ViewSize(engine), 0u);
}

TEST(MMFileTest, PageOffsetView) {
  TempDir dir;
  std::string path = dir.File("paged");
  std::string data = RandomBytes(10000, 5);
  WriteFileBytes(path, data);
  AppCore::MMFile f;
  ASSERT_TRUE(f.OpenFile(path, "r"));
  ASSERT_TRUE(f.SetView(f.pageSize + 904, 100));
  EXPECT_EQ(f.mapOffset, f.pageSize);
  EXPECT_EQ(f.viewSkip, 904u);
  EXPECT_EQ(f.mapLength, 1004u);
  EXPECT_EQ(f.view, f.mapAddress + 904);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.view), 100), data.substr(f.pageSize + 904, 100));
}

// A cut at or below the view's start must not leave a wrapped-around view size, nor an
// empty remapping when the start is a page boundary.
TEST(MMFileTest, ResizeBelowTheViewStartViewsTheWholeFile) {
  TempDir dir;
  std::string path = dir.File("cut");
  std::string data = RandomBytes(10000, 6);
  const uint64_t page = AppCore::MMFile().pageSize;
  struct Cut {
    uint64_t viewStart, size;
  } cuts[] = {{5000, 5050}, {5000, 5000}, {5000, 3000}, {page, page}, {page, page + 1}};
  for (const Cut& c : cuts) {
    SCOPED_TRACE(std::to_string(c.viewStart) + " cut to " + std::to_string(c.size));
    WriteFileBytes(path, data);
    AppCore::MMFile f;
    ASSERT_TRUE(f.OpenFile(path, "w"));
    ASSERT_TRUE(f.SetView(c.viewStart, 100));
    ASSERT_TRUE(f.ResizeFile(c.size));
    uint64_t start = c.size > c.viewStart ? c.viewStart : 0;
    EXPECT_EQ(f.viewStart, start);
    EXPECT_EQ(f.viewSize, c.size - start);
    ASSERT_NE(f.view, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(f.view), c.size - start),
              data.substr(start, c.size - start));
    EXPECT_EQ(ReadFileBytes(path), data.substr(0, c.size));
  }
}

// Growth that cannot happen in place moves the mapping; the new view must hold the old
// bytes and take new writes that reach the file.
TEST(MMFileTest, ResizeThatMovesTheMappingKeepsAndWritesBytes) {
  TempDir dir;
  std::string path = dir.File("moving");
  FileEngine engine(true);
  ASSERT_TRUE(engine.NewFile(path, 4096));
  std::string model = RandomBytes(4096, 7);
  std::memcpy(engine.view, model.data(), model.size());
  // Occupy the address range right after the mapping so that it cannot grow in place.
  unsigned char* end = engine.mm.mapAddress + engine.mm.mapLength;
  // When something already lives there, that is just as good.
  void* blocker = mmap(end, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                       -1, 0);
  ASSERT_TRUE(blocker == static_cast<void*>(end) || (blocker == MAP_FAILED && errno == EEXIST));
  unsigned char* before = engine.view;
  ASSERT_TRUE(engine.ResizeFile(1 << 20));
  EXPECT_NE(engine.view, before);
  ASSERT_EQ(engine.mm.viewSize, 1u << 20);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(engine.view), 4096), model);
  std::string more = RandomBytes((1 << 20) - 4096, 8);
  std::memcpy(engine.view + 4096, more.data(), more.size());
  model += more;
  ASSERT_TRUE(engine.FlushView());
  if (blocker != MAP_FAILED) munmap(blocker, 4096);
  engine.ClearAll();
  EXPECT_EQ(engine.view, nullptr);

  FileEngine reader(true);
  ASSERT_TRUE(reader.OpenFile(path, "r"));
  EXPECT_EQ(View(reader), model);
}

// Growth reserves the added bytes only, not the whole file again (a cost that would grow with
// the file on every append): a hole that another program left in the file stays a hole.
TEST(MMFileTest, GrowthReservesOnlyTheAddedBytes) {
  TempDir dir;
  const std::string path = dir.File("sparse");
  const uint64_t kHole = 16 << 20;
  {
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "x", 1, static_cast<off_t>(kHole)), 1);
    close(fd);
  }
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  if (static_cast<uint64_t>(before.st_blocks) * 512 >= kHole) GTEST_SKIP() << "no holes on this file system";
  AppCore::MMFile f;
  ASSERT_TRUE(f.OpenFile(path, "w"));
  ASSERT_TRUE(f.ResizeFile(kHole + 1 + 8192));
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(static_cast<uint64_t>(after.st_size), kHole + 1 + 8192);
  EXPECT_LT(static_cast<uint64_t>(after.st_blocks - before.st_blocks) * 512, 1u << 20);
  EXPECT_EQ(f.view[kHole], 'x');
}

// The stdio resize keeps what lies outside the view, writes the view's changes, and puts
// zeros (never stray heap bytes) in the new part.
TEST(BasicFileTest, ResizeKeepsBytesOutsideTheView) {
  TempDir dir;
  std::string path = dir.File("stdio");
  std::string model = RandomBytes(10000, 9);
  WriteFileBytes(path, model);
  AppCore::BasicFile f;
  ASSERT_TRUE(f.OpenFile(path, "w"));
  ASSERT_TRUE(f.SetView(100, 50));
  std::memcpy(f.view, "changed", 7);
  model.replace(100, 7, "changed");
  ASSERT_TRUE(f.ResizeFile(20000));
  model += std::string(10000, '\0');
  EXPECT_EQ(ReadFileBytes(path), model);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.view), f.viewSize), model);
  ASSERT_TRUE(f.ResizeFile(5000));
  EXPECT_EQ(ReadFileBytes(path), model.substr(0, 5000));
}

TEST(BasicFileTest, NewFileThenResizeWritesOnlyZeros) {
  TempDir dir;
  std::string path = dir.File("fresh");
  AppCore::BasicFile f;
  ASSERT_TRUE(f.NewFile(path, 100));
  ASSERT_TRUE(f.ResizeFile(300));
  EXPECT_EQ(ReadFileBytes(path), std::string(300, '\0'));
}

// A write through the stdio back end must not be undone by the older copy in its view.
TEST(BasicFileTest, WriteToDiskSurvivesALaterFlushOfTheView) {
  TempDir dir;
  std::string path = dir.File("coherent");
  WriteFileBytes(path, "0123456789");
  AppCore::BasicFile f;
  ASSERT_TRUE(f.OpenFile(path, "w"));
  ASSERT_TRUE(f.SetView(2, 4));
  ASSERT_TRUE(f.WriteToDisk(Bytes("abcd"), 4, 4));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(f.view), 4), "23ab");
  ASSERT_TRUE(f.FlushView());
  EXPECT_EQ(ReadFileBytes(path), "0123abcd89");
}

// A full disk (here the file-size limit) is reported, never taken for a write that happened.
TEST(BasicFileTest, WritesToAFullDiskAreReported) {
  TempDir dir;
  const std::string path = dir.File("full");
  WriteFileBytes(path, "0123");
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limited = old;
  limited.rlim_cur = 4096;  // the captured output goes to a file as well
  AppCore::BasicFile f;
  ASSERT_TRUE(f.OpenFile(path, "w"));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(f.ResizeFile(5000));
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(f.OpenFile(path, "w"));
  testing::internal::CaptureStdout();
  const std::string bytes(5000, 'x');
  EXPECT_FALSE(f.WriteToDisk(Bytes(bytes), 0, bytes.size()));
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  EXPECT_EQ(out.rfind("BasicFile - Error writing file, characters written: ", 0), 0u);
  EXPECT_EQ(f.stream, nullptr);
}

TEST_P(FileEngineTest, ChangeAccessReopens) {
  std::string path = dir.File("acc");
  WriteFileBytes(path, "abc");
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  EXPECT_TRUE(engine.ChangeAccess("r"));
  ASSERT_TRUE(engine.ChangeAccess("w"));
  ASSERT_TRUE(engine.WriteToDisk(Bytes("Z"), 1, 1));
  EXPECT_EQ(ReadFileBytes(path), "aZc");
}

TEST_P(FileEngineTest, MoveLeavesTheSourceClosed) {
  std::string path = dir.File("mv");
  WriteFileBytes(path, "abc");
  ASSERT_TRUE(engine.OpenFile(path, "w"));
  FileEngine moved(std::move(engine));
  EXPECT_EQ(engine.view, nullptr);
  EXPECT_EQ(engine.mm.fd, -1);
  EXPECT_EQ(engine.basic.stream, nullptr);
  EXPECT_EQ(View(moved), "abc");

  FileEngine other(GetParam());
  ASSERT_TRUE(other.NewFile(dir.File("other"), 5));
  other = std::move(moved);
  EXPECT_EQ(View(other), "abc");
  ASSERT_TRUE(other.WriteToDisk(Bytes("X"), 0, 1));
  EXPECT_EQ(ReadFileBytes(path), "Xbc");
}

TEST(FileEngineSwitchTest, SetEngineLeavesTheOtherBackEndOpen) {
  TempDir dir;
  std::string path = dir.File("sw");
  WriteFileBytes(path, "abc");
  FileEngine engine(false);
  ASSERT_TRUE(engine.OpenFile(path, "r"));
  engine.SetEngine(true);
  EXPECT_TRUE(engine.useMMap);
  EXPECT_NE(engine.basic.stream, nullptr);
  ASSERT_TRUE(engine.NewFile(dir.File("mapped"), 4));
  EXPECT_EQ(engine.view, engine.mm.view);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(engine.basic.view), 3), "abc");
}

}  // namespace
