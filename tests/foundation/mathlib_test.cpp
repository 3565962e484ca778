// MLib: intervals, ticks, intersections, blends, easing curves and vector text.

#include "foundation/MathLib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

TEST(MathIntervals, GetIntervalPicksPowerOfTenOrItsParts) {
  EXPECT_DOUBLE_EQ(MLib::Impl::GetInterval(100, 1), 100);
  EXPECT_DOUBLE_EQ(MLib::Impl::GetInterval(100, 2), 50);
  EXPECT_DOUBLE_EQ(MLib::Impl::GetInterval(100, 5), 20);
  EXPECT_DOUBLE_EQ(MLib::Impl::GetInterval(100, 8), 12.5);
}

TEST(MathIntervals, ScaleRangeOffsetsOnlyFarFromZero) {
  double step = 0, offset = 0;
  MLib::Impl::ScaleRange(0, 10, 5, step, offset);
  EXPECT_DOUBLE_EQ(offset, 0);
  EXPECT_DOUBLE_EQ(step, 1);
  MLib::Impl::ScaleRange(-1001, -1000, 2, step, offset);
  EXPECT_DOUBLE_EQ(offset, -1000);
  EXPECT_DOUBLE_EQ(step, 0.1);
}

TEST(MathIntervals, CloseToToleranceGrowsWithOffsetButStaysBelowHalf) {
  EXPECT_TRUE(MLib::Impl::CloseTo(1.0 + 1e-11, 1.0, 0, 1));
  EXPECT_FALSE(MLib::Impl::CloseTo(1.0 + 1e-9, 1.0, 0, 1));
  EXPECT_TRUE(MLib::Impl::CloseTo(1.0 + 1e-4, 1.0, 1e10, 1e-3));  // 10^(13 - 12) capped
  EXPECT_FALSE(MLib::Impl::CloseTo(1.5, 1.0, 1e10, 1e-3));
}

TEST(MathIntervals, SplitRange) {
  EXPECT_EQ(MLib::MSplitRange(4, 0, 1), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
  EXPECT_TRUE(MLib::MSplitRange(-1, 0, 1).empty());
  EXPECT_EQ(MLib::MSplitRange(0, 3, 7), std::vector<double>{3});
}

TEST(MathTicks, CoverTheRangeWithEvenSteps) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> start(-1e4, 1e4), width(1e-3, 1e4);
  for (int trial = 0; trial < 2000; ++trial) {
    const double a = start(rng), b = a + width(rng);
    const int n = 1 + trial % 12;
    const std::vector<double> ticks = MLib::MGetTickLocations(n, a, b);
    ASSERT_GE(ticks.size(), 2u) << a << " " << b << " " << n;
    EXPECT_LE(ticks.front(), a + 1e-9 * std::fabs(a));
    EXPECT_GE(ticks.back(), b - 1e-9 * std::fabs(b));
    const double step = ticks[1] - ticks[0];
    for (size_t i = 1; i < ticks.size(); ++i) {
      EXPECT_NEAR(ticks[i] - ticks[i - 1], step, 1e-6 * step + 1e-9 * std::fabs(ticks[i]));
    }
    // Never absurdly many: at most a few per requested interval.
    EXPECT_LE(ticks.size(), size_t(10 * n + 3));
  }
}

TEST(MathTicks, RoundNumbersForASimpleRange) {
  // The nice-step search lays one tick past an end that falls exactly on a tick.
  EXPECT_EQ(MLib::MGetTickLocations(5, 0, 10), (std::vector<double>{0, 2, 4, 6, 8, 10, 12}));
  EXPECT_EQ(MLib::MGetTickLocations(4, 0, 1), (std::vector<double>{0, 0.25, 0.5, 0.75, 1, 1.25}));
}

TEST(MathTicks, FallbackStepReachesTheTopOfTheRange) {
  // Far from zero the search is abandoned for plain steps of 10 / 12, whose count comes out
  // just below a whole number.
  const double a = 4466.8961348444045, b = 4482.04973039367;
  const std::vector<double> ticks = MLib::MGetTickLocations(12, a, b);
  EXPECT_LE(ticks.front(), a);
  EXPECT_GE(ticks.back(), b);
}

TEST(MathTicks, DegenerateRangesGiveTheirEnds) {
  EXPECT_EQ(MLib::MGetTickLocations(5, 3, 3), (std::vector<double>{3, 3}));
  EXPECT_EQ(MLib::MGetTickLocations(5, 4, 1), (std::vector<double>{4, 1}));
  EXPECT_EQ(MLib::MGetTickLocations(0, 0, 1), (std::vector<double>{0, 1}));
  EXPECT_EQ(MLib::MGetTickLocations(3, 0, INFINITY).size(), 2u);
}

TEST(MathLines, LineIntersection) {
  glm::vec2 out(-7, -7);
  EXPECT_FALSE(MLib::MLineIntersect({0, 0}, {1, 0}, {0, 1}, {1, 1}, out));
  EXPECT_EQ(out, glm::vec2(-7, -7));
  ASSERT_TRUE(MLib::MLineIntersect({0, 0}, {2, 2}, {0, 2}, {2, 0}, out));
  EXPECT_NEAR(out.x, 1, 1e-6);
  EXPECT_NEAR(out.y, 1, 1e-6);
  // Lines, not segments: the crossing may lie outside both.
  ASSERT_TRUE(MLib::MLineIntersect({0, 0}, {1, 0}, {5, 3}, {5, 4}, out));
  EXPECT_NEAR(out.x, 5, 1e-5);
  EXPECT_NEAR(out.y, 0, 1e-5);
}

TEST(MathLines, SegmentIntersection) {
  glm::vec2 out(-7, -7);
  EXPECT_FALSE(MLib::MLineSegIntersect({0, 0}, {1, 0}, {2, -1}, {2, 1}, out));
  EXPECT_FALSE(MLib::MLineSegIntersect({0, 0}, {1, 0}, {0, 1}, {1, 1}, out));  // parallel
  EXPECT_EQ(out, glm::vec2(-7, -7));
  ASSERT_TRUE(MLib::MLineSegIntersect({0, 0}, {4, 0}, {1, -1}, {1, 3}, out));
  EXPECT_NEAR(out.x, 1, 1e-6);
  EXPECT_NEAR(out.y, 0, 1e-6);
}

TEST(MathBlend, LinearBlends) {
  EXPECT_EQ(MLib::MBlendPos({0, 10}, {10, 20}, 0.25f), glm::vec2(2.5f, 12.5f));
  EXPECT_FLOAT_EQ(MLib::MBlendPerc(7, 25, 0), 7);
  EXPECT_FLOAT_EQ(MLib::MBlendPerc(7, 25, 1), 25);
  EXPECT_FLOAT_EQ(MLib::MBlendPerc(6, 3, 0.5f), 4.5f);
}

TEST(MathEasing, ValuesAtTheirLandmarks) {
  EXPECT_NEAR(MLib::MEaseInOut(0.5f), 0.5f, 1e-6);
  EXPECT_NEAR(MLib::MEaseInOut(0), 0, 1e-6);
  EXPECT_NEAR(MLib::MEaseInOut(1), 1, 1e-6);
  EXPECT_NEAR(MLib::MEaseIOBell(0.5f), 1, 1e-6);
  EXPECT_EQ(MLib::MEaseIOBell(-0.1f), 0);
  EXPECT_EQ(MLib::MEaseIOBell(1.1f), 0);
  EXPECT_EQ(MLib::MSharpIn(-1), 0);
  EXPECT_EQ(MLib::MSharpIn(2), 1);
  EXPECT_EQ(MLib::MSharpIn(0), 0);
  EXPECT_NEAR(MLib::MSharpIn(1), 1.171772f / 1.1635285f, 1e-6);
  EXPECT_NEAR(MLib::MSharpRamp(0), 0, 1e-6);
  EXPECT_NEAR(MLib::MSharpRamp(1), 1, 1e-6);
  EXPECT_NEAR(MLib::MSigmoid(1), 0.5f, 1e-6);
  EXPECT_NEAR(MLib::MSigmoid(-3), -0.75f, 1e-6);
  EXPECT_EQ(MLib::MSharpBlend(0), 0);
  EXPECT_NEAR(MLib::MSharpBlend(1), 1, 1e-6);
  EXPECT_EQ(MLib::MSharpOut(0.3f), MLib::MSharpBlend(0.3f));
  EXPECT_NEAR(MLib::MEaseInOutSharp(0.5f), 1, 1e-6);
  EXPECT_EQ(MLib::MEaseInOutSharp(-1), 0);
  EXPECT_EQ(MLib::MEaseInOutSharp(2), 1);
}

TEST(MathEasing, ZeroOverZeroPointsTakeTheirLimits) {
  EXPECT_FLOAT_EQ(MLib::MSharpIOBell(0.5f), 4);
  EXPECT_NEAR(MLib::MSharpIOBell(0.5f + 1e-4f), 4, 1e-3);
  EXPECT_FLOAT_EQ(MLib::MAsymOut(0), 1);
  EXPECT_FLOAT_EQ(MLib::MAsymOut(0.4f), 1);
  EXPECT_EQ(MLib::MAsymOut(-1), 0);
  EXPECT_EQ(MLib::MSharpIOBell(-1), 0);
}

TEST(MathEasing, SharpInRisesMonotonically) {
  float previous = MLib::MSharpIn(0);
  for (int i = 1; i <= 1000; ++i) {
    const float value = MLib::MSharpIn(i / 1000.0f);
    EXPECT_GT(value, previous);
    previous = value;
  }
}

TEST(MathText, VectorLists) {
  EXPECT_EQ(MLib::GLMVectorToString(std::vector<glm::vec2>{}), "{  }");
  EXPECT_EQ(MLib::GLMVectorToString(std::vector<glm::vec2>{{1, 2.5f}, {-3, 1.0f / 3}}),
            "{ (1,2.5), (-3,0.333333) }");
  EXPECT_EQ(MLib::GLMVectorToString(std::vector<glm::vec3>{{1, 2, 3}}), "{ (1,2,3) }");
}

TEST(MathText, Dates) {
  const std::string date = MLib::CurrentDate("/");
  ASSERT_EQ(date.size(), 10u);
  EXPECT_EQ(date[2], '/');
  EXPECT_EQ(date[5], '/');
  const std::string dateTime = MLib::CurrentDateTime("-");
  EXPECT_EQ(dateTime.substr(0, 2), MLib::CurrentDate("-").substr(0, 2));
  EXPECT_EQ(dateTime.size(), 10u + 1 + 5 + 1 + 2);  // "%m-%d-%Y %R %p"
}

}  // namespace
