#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "record/ByteStream.h"
#include "table/ColumnFormat.h"

namespace {

// A format goes through a container image and back under the keys a table image reads.
TEST(ColumnFormat, ImageRoundTripKeepsFieldsKeysAndOrder) {
  ColumnFormat format;
  format.Code = "dd/mm/yyyy HH:mm";
  format.Formula = "=A1*2";
  format.Theme = {0, -1, 2147483647, -2147483647 - 1};
  format.Reference = std::string("ref\0with zero", 13);
  format.DisplayName = "Départ";

  ByteStream stream = format.ToByteStream();
  std::vector<char> image(stream.GetStreamSize());
  stream.GetStream(image.data());
  ByteStream loaded;
  ASSERT_TRUE(loaded.LoadStream(image.data(), image.size()));

  const char* keys[] = {"Code", "Formula", "Theme", "Reference", "DisplayName"};
  const ByteStreamDataType types[] = {dt_string, dt_string, dt_int32_vector, dt_string, dt_string};
  ASSERT_EQ(loaded.records.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(loaded.GetRecordKey(i), keys[i]);
    EXPECT_EQ(loaded.GetRecord(i)->GetType(), types[i]) << keys[i];
  }
  ColumnFormat back;
  ASSERT_TRUE(loaded.GetString("Code", back.Code));
  ASSERT_TRUE(loaded.GetString("Formula", back.Formula));
  ASSERT_TRUE(loaded.GetInt32Vector("Theme", back.Theme));
  ASSERT_TRUE(loaded.GetString("Reference", back.Reference));
  ASSERT_TRUE(loaded.GetString("DisplayName", back.DisplayName));
  EXPECT_EQ(back.Code, format.Code);
  EXPECT_EQ(back.Formula, format.Formula);
  EXPECT_EQ(back.Theme, format.Theme);
  EXPECT_EQ(back.Reference, format.Reference);
  EXPECT_EQ(back.DisplayName, format.DisplayName);
}

TEST(ColumnFormat, DefaultFormatHoldsEmptyRecords) {
  ByteStream stream = ColumnFormat().ToByteStream();
  ASSERT_EQ(stream.records.size(), 5u);
  std::string code = "unchanged";
  ASSERT_TRUE(stream.GetString("Code", code));
  EXPECT_EQ(code, "");
  std::vector<int32_t> theme = {7};
  ASSERT_TRUE(stream.GetInt32Vector("Theme", theme));
  EXPECT_TRUE(theme.empty());
}

}  // namespace
