// RLib: quantile curves, draws over many calls with loose statistical bounds, and argument
// checks.

#include "foundation/RandLib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

namespace {

TEST(Quantiles, EveryCurveRisesFromZeroToJustBelowOne) {
  ASSERT_EQ(RLib::Quantile.size(), size_t(RLib::QuantNb + 1));
  for (const std::vector<float>& curve : RLib::Quantile) {
    ASSERT_EQ(curve.size(), size_t(RLib::QuantLen + 1));
    EXPECT_EQ(curve.front(), 0.0f);
    EXPECT_LT(curve.back(), 1.0f);
    EXPECT_GT(curve.back(), 0.999f);
    for (size_t i = 1; i < curve.size(); ++i) ASSERT_GE(curve[i], curve[i - 1]) << i;
  }
}

TEST(Quantiles, GivenCurvesPassThroughTheirSamples) {
  const int points[] = {0, 100, 323, 647, 971, 1294};
  const std::map<int, std::vector<double>> samples = {
      {0, {0.0000, 0.1226, 0.3517, 0.6768, 0.8925, 0.9996}},
      {2, {0.0000, 0.3087, 0.6892, 0.9173, 0.9618, 0.9998}},
      {12, {0.0000, 0.0193, 0.0924, 0.3837, 0.8060, 0.9993}},
      {22, {0.0000, 0.1229, 0.3467, 0.7764, 0.9707, 0.9999}},
      {23, {0.0000, 0.0728, 0.2359, 0.5629, 0.8057, 0.9995}},
  };
  for (const auto& [curve, values] : samples) {
    for (int k = 0; k < 6; ++k) {
      EXPECT_NEAR(RLib::Quantile[curve][points[k]], values[k], 5e-5) << curve << " " << k;
    }
  }
}

TEST(Quantiles, CurvesDifferInShape) {
  // Curve 2 rises early, curve 12 late: their medians are far apart.
  EXPECT_GT(RLib::Quantile[2][647], RLib::Quantile[12][647] + 0.4f);
  std::set<float> medians;
  for (const std::vector<float>& curve : RLib::Quantile) medians.insert(curve[647]);
  EXPECT_GT(medians.size(), 20u);
}

TEST(Quantiles, ReadByFraction) {
  EXPECT_EQ(RLib::RAND_RCB_Perc(1, 1), RLib::Quantile[23][1294]);
  for (float b : {0.0f, 0.3f, 0.77f, 1.0f}) EXPECT_EQ(RLib::RAND_RCB_Perc(0, b), 0.0f);
  EXPECT_EQ(RLib::RAND_RCB_Perc(0.5f, 0.5f), RLib::Quantile[11][647]);
}

TEST(Quantiles, FractionsOutsideTheTableAreClamped) {
  EXPECT_EQ(RLib::RAND_RCB_Perc(-3, 0.5f), 0.0f);
  EXPECT_EQ(RLib::RAND_RCB_Perc(7, 9), RLib::Quantile[23][1294]);
  EXPECT_EQ(RLib::RAND_RCB_Perc(NAN, NAN), 0.0f);
  const float layered = RLib::RAND_Layered_Perc(2, -1, 1);
  EXPECT_EQ(layered, RLib::Quantile[0][1294]);
}

TEST(RandomDraws, XorshiftValues) {
  EXPECT_EQ(RLib::RAND_GetXRand(1), 270369u);
  EXPECT_EQ(RLib::RAND_GetXPerc(1), 35651601 * 0x1p-32f);
  const float a = RLib::RAND_GetSPerc(42), b = RLib::RAND_GetSPerc(42);
  EXPECT_EQ(a, b);  // same seed, same draw
  EXPECT_GE(a, 0.0f);
  EXPECT_LT(a, 1.0f);
  const float extreme = RLib::RAND_GetSPerc(2147483647);  // 2s + 7 wraps, no overflow
  EXPECT_GE(extreme, 0.0f);
}

TEST(RandomDraws, PercIsUniformOnTheUnitInterval) {
  const int draws = 20000;
  int buckets[10] = {};
  double sum = 0;
  for (int i = 0; i < draws; ++i) {
    const float p = RLib::RAND_GetPerc();
    ASSERT_GE(p, 0.0f);
    ASSERT_LE(p, 1.0f);
    sum += p;
    ++buckets[std::min(int(p * 10), 9)];
  }
  EXPECT_NEAR(sum / draws, 0.5, 0.02);
  for (int count : buckets) EXPECT_NEAR(count, draws / 10, draws / 10 * 0.2);
}

TEST(RandomDraws, IntegersCoverTheirRangeAndNothingElse) {
  std::map<int, int> seen;
  for (int i = 0; i < 6000; ++i) ++seen[RLib::RAND_GetRandIntFromRange(1, 6)];
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen.begin()->first, 1);
  EXPECT_EQ(seen.rbegin()->first, 6);
  for (const auto& [value, count] : seen) EXPECT_NEAR(count, 1000, 250) << value;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(RLib::RAND_GetRandIntFromRange(3, 3), 3);
}

TEST(RandomDraws, IntegerRangeArgumentsAreChecked) {
  for (int i = 0; i < 200; ++i) {
    const int reversed = RLib::RAND_GetRandIntFromRange(6, 1);
    EXPECT_GE(reversed, 1);
    EXPECT_LE(reversed, 6);
    const int full = RLib::RAND_GetRandIntFromRange(INT32_MIN, INT32_MAX);  // no overflow
    (void)full;
    const int top = RLib::RAND_GetRandIntFromRange(INT32_MAX - 1, INT32_MAX);
    EXPECT_GE(top, INT32_MAX - 1);
  }
}

TEST(RandomDraws, FloatsStayInTheirRange) {
  double sum = 0;
  for (int i = 0; i < 5000; ++i) {
    const float f = RLib::RAND_GetRandFloatFromRange(-2, 8);
    ASSERT_GE(f, -2.0f);
    ASSERT_LE(f, 8.0f);
    sum += f;
  }
  EXPECT_NEAR(sum / 5000, 3, 0.3);
}

TEST(RandomDraws, NumericCodes) {
  const std::string code = RLib::RAND_Numeric_Code(400);
  ASSERT_EQ(code.size(), 400u);
  std::set<char> digits(code.begin(), code.end());
  for (char c : digits) EXPECT_TRUE(c >= '0' && c <= '9');
  EXPECT_EQ(digits.size(), 10u);  // 400 draws miss a digit with odds below 1e-16
  EXPECT_EQ(RLib::RAND_Numeric_Code(0), "");
  EXPECT_EQ(RLib::RAND_Numeric_Code(-4), "");
}

TEST(Choices, UnweightedChoiceReachesEveryElement) {
  std::map<int, int> seen;
  for (int i = 0; i < 3000; ++i) ++seen[RLib::RAND_Choice(std::vector<int>{4, 8, 15})];
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& [value, count] : seen) EXPECT_NEAR(count, 1000, 200) << value;
  EXPECT_EQ(RLib::RAND_Choice(std::vector<int>{}), 0);
  EXPECT_EQ(RLib::RAND_Choice(std::vector<std::string>{}), "");
  std::vector<std::string> one{"only"};
  EXPECT_EQ(RLib::RAND_GetRandStrItem(one), "only");
}

TEST(Choices, WeightedChoiceFollowsTheWeights) {
  std::map<int, int> seen;
  for (int i = 0; i < 4000; ++i) ++seen[RLib::RAND_Choices(std::vector<int>{1, 2, 3}, {1, 0, 3})];
  EXPECT_EQ(seen.count(2), 0u);  // weight 0 is never chosen
  EXPECT_NEAR(seen[1], 1000, 200);
  EXPECT_NEAR(seen[3], 3000, 200);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<std::string>{"a", "b"}, {0, 5}), "b");
  EXPECT_EQ(RLib::RAND_Choices(std::vector<float>{0.5f, 2.5f}, {2, 0}), 0.5f);
}

TEST(Choices, WeightsThatCannotChooseGiveNone) {
  EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{1, 2}, {0, 0}), -1);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<float>{1, 2}, {0, 0}), -1.0f);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<std::string>{"a", "b"}, {0, 0}), "");
  EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{1, 2}, {}), -1);
  // More weights than values would pick a value that does not exist.
  for (int i = 0; i < 50; ++i) EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{7}, {0, 1}), -1);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{}, {1}), -1);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{1, 2}, {-1, 2}), -1);
  EXPECT_EQ(RLib::RAND_Choices(std::vector<int>{1, 2}, {NAN, 2}), -1);
}

TEST(Curves, GeneratedCurveFromWeights) {
  std::vector<float> weights{1, 1, 1};
  std::vector<float> curve = RLib::RAND_GenCurve(weights);
  ASSERT_EQ(curve.size(), 3u);
  EXPECT_FLOAT_EQ(curve[0], 0);
  EXPECT_FLOAT_EQ(curve[1], 0.5f);
  EXPECT_FLOAT_EQ(curve[2], 1);
  EXPECT_FLOAT_EQ(RLib::RAND_ReadCurve(curve, 0.99f), 0.5f);
  EXPECT_FLOAT_EQ(RLib::RAND_ReadCurve(curve, 1), 1);
  std::vector<float> uneven{3, 1, 2, 5};
  curve = RLib::RAND_GenCurve(uneven);
  ASSERT_EQ(curve.size(), 4u);
  EXPECT_FLOAT_EQ(curve.front(), 0);
  for (size_t i = 1; i < curve.size(); ++i) EXPECT_GE(curve[i], curve[i - 1]);
  for (int i = 0; i < 100; ++i) {
    const float p = RLib::RAND_PercFromCurve(curve);
    EXPECT_TRUE(p == curve[0] || p == curve[1] || p == curve[2] || p == curve[3]);
  }
}

TEST(Curves, BadWeightsAndReadsAreRefused) {
  std::vector<float> none, single{5}, negative{1, -2, 3}, infinite{1, INFINITY};
  EXPECT_TRUE(RLib::RAND_GenCurve(none).empty());
  EXPECT_TRUE(RLib::RAND_GenCurve(single).empty());  // would divide 0 by 0
  EXPECT_TRUE(RLib::RAND_GenCurve(negative).empty());
  EXPECT_TRUE(RLib::RAND_GenCurve(infinite).empty());
  std::vector<float> empty;
  EXPECT_EQ(RLib::RAND_ReadCurve(empty, 0.5f), 0.0f);
  EXPECT_EQ(RLib::RAND_PercFromCurve(empty), 0.0f);
  std::vector<float> curve{0, 0.5f, 1};
  EXPECT_EQ(RLib::RAND_ReadCurve(curve, -0.5f), 0.0f);
  EXPECT_EQ(RLib::RAND_ReadCurve(curve, 3), 1.0f);
  EXPECT_EQ(RLib::RAND_ReadCurve(curve, NAN), 0.0f);
}

TEST(Curves, Blends) {
  EXPECT_FLOAT_EQ(RLib::RAND_Blend_Perc(2, 4, 0.25f), 2.5f);
  for (int i = 0; i < 200; ++i) {
    const float layered = RLib::RAND_Layered_Perc(0.5f, 0.5f, 0.5f);
    EXPECT_GE(layered, 0.5f * RLib::Quantile[11][647]);
    EXPECT_LE(layered, 0.5f + 0.5f * RLib::Quantile[11][647]);
  }
}

}  // namespace
