#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "table/ColumnTypes.h"
#include "table/TextCell.h"

namespace {

TEST(NullCells, FloatNullsAreTheAllOnesPatternOnly) {
  EXPECT_TRUE(IsNullFloat(_null_value_float));
  EXPECT_TRUE(IsNullBigFloat(_null_value_bigfloat));
  EXPECT_TRUE(std::isnan(_null_value_float));
  EXPECT_TRUE(std::isnan(_null_value_bigfloat));
  // Other NaNs, infinities and zeros are ordinary values.
  EXPECT_FALSE(IsNullFloat(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(IsNullFloat(-std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(IsNullFloat(std::numeric_limits<float>::infinity()));
  EXPECT_FALSE(IsNullFloat(-0.0f));
  EXPECT_FALSE(IsNullBigFloat(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(IsNullBigFloat(-std::numeric_limits<double>::infinity()));
  uint32_t almost = 0xFFFFFFFEu;
  float almost_null;
  std::memcpy(&almost_null, &almost, sizeof almost_null);
  EXPECT_FALSE(IsNullFloat(almost_null));
}

TEST(NullCells, IntegerNullsAreTheMostNegativeValues) {
  EXPECT_TRUE(IsNullInt(std::numeric_limits<int32_t>::min()));
  EXPECT_FALSE(IsNullInt(std::numeric_limits<int32_t>::min() + 1));
  EXPECT_TRUE(IsNullBigInt(std::numeric_limits<int64_t>::min()));
  EXPECT_FALSE(IsNullBigInt(0));
}

TEST(NullCells, OnlyTheZeroByteMakesANullText) {
  const char zero[] = {'\0'};
  EXPECT_TRUE(IsNullText(zero, 1));
  EXPECT_FALSE(IsNullText("0", 1));
  EXPECT_FALSE(IsNullText("", 0));
  const char two[] = {'\0', '\0'};
  EXPECT_FALSE(IsNullText(two, 2));
}

TEST(TextCell, OffsetsThenLengthsFillTheColumnSliceExactly) {
  // Two text columns side by side in a 3-row table: each slice is 3 * 10 bytes and the
  // positions of all offsets and lengths cover it without overlap.
  const size_t rows = 3;
  for (size_t col_offset : {size_t(0), size_t(kTextCellStride)}) {
    std::vector<int> used(2 * rows * kTextCellStride, 0);
    for (size_t r = 0; r < rows; ++r) {
      for (size_t b = 0; b < kTextOffsetBytes; ++b) ++used[TextOffsetPosition(col_offset, rows, r) + b];
      for (size_t b = 0; b < kTextLengthBytes; ++b) ++used[TextLengthPosition(col_offset, rows, r) + b];
    }
    for (size_t i = 0; i < used.size(); ++i) {
      bool inside = i >= col_offset * rows && i < (col_offset + kTextCellStride) * rows;
      EXPECT_EQ(used[i], inside ? 1 : 0) << "byte " << i << " column offset " << col_offset;
    }
  }
}

}  // namespace
