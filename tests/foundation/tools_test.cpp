#include "foundation/Tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

using AppCore::Tools::SplitRange;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;
using Bounds = std::vector<uint64_t>;

TEST(SplitRangeTest, Examples) {
  EXPECT_EQ(SplitRange(0, 10, 3u), (Bounds{0, 4, 7, 10}));
  EXPECT_EQ(SplitRange(100, 7, 3u), (Bounds{100, 103, 105, 107}));
  EXPECT_EQ(SplitRange(5, 10, 0u), (Bounds{5}));
  EXPECT_EQ(SplitRange(5, 0, 2u), (Bounds{5, 5, 5}));
  EXPECT_EQ(SplitRange(0, 10, 8u, 4ul), (Bounds{0, 4, 7, 10}));  // 3 parts
  EXPECT_EQ(SplitRange(0, 8, 8u, 4ul), (Bounds{0, 4, 8}));
  EXPECT_EQ(SplitRange(0, 10, 2u, 1ul), (Bounds{0, 5, 10}));
  EXPECT_EQ(SplitRange(3, 10, 8u, 0ul), (Bounds{3, 13}));
  EXPECT_EQ(SplitRange(3, 0, 8u, 0ul), (Bounds{3}));
}

// Ranges cover the whole span in order, lengths differ by at most one and the longer ones
// come first.
TEST(SplitRangeTest, RandomRangesPartitionTheSpan) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; ++i) {
    uint64_t start = rng() % 1000000, count = rng() % 100000;
    unsigned parts = 1 + rng() % 64;
    Bounds b = SplitRange(start, count, parts);
    ASSERT_EQ(b.size(), parts + 1u);
    ASSERT_EQ(b.front(), start);
    ASSERT_EQ(b.back(), start + count);
    for (unsigned p = 0; p < parts; ++p) {
      uint64_t len = b[p + 1] - b[p];
      ASSERT_TRUE(len == count / parts || len == count / parts + 1);
      if (p > 0) {
        ASSERT_LE(len, b[p] - b[p - 1]);
      }
    }
  }
}

// The number of chunks of a huge range must not wrap to a small count.
TEST(SplitRangeTest, ChunkCountOfHugeRangesDoesNotWrap) {
  uint64_t count = (1ull << 32) + 4;
  Bounds b = SplitRange(0, count, 8u, 1ul);
  ASSERT_EQ(b.size(), 9u);
  EXPECT_EQ(b.back(), count);
}

TEST(ToolsTest, StampHasTwelveDigits) {
  std::string stamp = AppCore::Tools::GetStampYMDHMS();
  ASSERT_EQ(stamp.size(), 12u);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
}

TEST(ToolsTest, BinaryFileContents) {
  TempDir dir;
  std::string data("\xEF\xBB\xBF\0binary\xFF", 11);
  WriteFileBytes(dir.File("b"), data);
  std::vector<unsigned char> bytes = AppCore::Tools::GetBinaryFileContents(dir.File("b"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data);
  WriteFileBytes(dir.File("e"), "");
  EXPECT_TRUE(AppCore::Tools::GetBinaryFileContents(dir.File("e")).empty());

  for (const std::string& bad : {dir.File("missing"), dir.Path()}) {
    try {
      AppCore::Tools::GetBinaryFileContents(bad);
      ADD_FAILURE() << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Could not open \"" + bad + "\" file!");
    }
  }
}

// The link reaches xdg-open as one argument, and no shell ever interprets it.
TEST(ToolsTest, OpenWebLinkPassesTheLinkAsOneArgument) {
  TempDir dir;
  std::string script = dir.File("xdg-open");
  WriteFileBytes(script, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\n");
  chmod(script.c_str(), 0755);
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (dir.Path() + ":" + oldPath).c_str(), 1);
  std::string link = "http://x/?a=1&b=2; touch " + dir.File("pwned") + " $(touch " +
                     dir.File("pwned2") + ")";
  AppCore::Tools::OpenWebLink(link);
  setenv("PATH", oldPath.c_str(), 1);
  EXPECT_EQ(ReadFileBytes(dir.File("args")), link + "|");
  EXPECT_FALSE(std::filesystem::exists(dir.File("pwned")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("pwned2")));
}

TEST(ToolsTest, OpenWebLinkWithoutXdgOpenDoesNothing) {
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  TempDir dir;
  setenv("PATH", dir.Path().c_str(), 1);
  AppCore::Tools::OpenWebLink("http://example.invalid/");
  setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
