// The sample table generator's files, read back by the independent decoder.

#include <gtest/gtest.h>

#include <chrono>

#include "support/FileBytes.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/WireDecoder.h"

namespace {

using namespace std::chrono_literals;

testsupport::WireTable Generate(const std::string& path, const std::string& rows) {
  testsupport::Subprocess tool;
  EXPECT_TRUE(tool.Start({TVX_BUILD_DIR "/tools/samplegen/tvx_samplegen", path, rows}));
  EXPECT_EQ(tool.Wait(10s), 0);
  testsupport::WireContainer container;
  testsupport::WireTable table;
  std::string error;
  EXPECT_TRUE(testsupport::DecodeContainer(testsupport::ReadFileBytes(path), &container, &error)) << error;
  EXPECT_TRUE(testsupport::DecodeTable(container, &table, &error)) << error;
  return table;
}

TEST(SampleGen, RowsAndSchema) {
  testsupport::TempDir dir;
  const testsupport::WireTable sample = Generate(dir.File("s.ostrel"), "3");
  EXPECT_EQ(sample.colNames, (std::vector<std::string>{"n", "name", "price"}));
  ASSERT_EQ(sample.rows.size(), 3u);
  EXPECT_EQ(testsupport::RowTexts(sample.rows[2]), (std::vector<std::string>{"2", "item 2", "74.5"}));
  EXPECT_TRUE(Generate(dir.File("t.ostrel"), "0").rows.empty());

  testsupport::Subprocess bad;
  ASSERT_TRUE(bad.Start({TVX_BUILD_DIR "/tools/samplegen/tvx_samplegen", dir.File("x"), "-1"}));
  EXPECT_EQ(bad.Wait(10s), 2);
}

}  // namespace
