// RoadPath: resampling against a double-precision model, positions, rounded corners, the
// three kinds of junction curve, and angles of nearly parallel vectors.

#include "streams/RoadPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <glm/geometric.hpp>
#include <random>

namespace {

using RoadPath::Polyline;

void ExpectNear(const glm::vec2& actual, const glm::vec2& expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
}

bool AllFinite(const Polyline& line) {
  for (const glm::vec2& p : line) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  }
  return true;
}

// The point at arc length s along `line`, walked in double precision.
glm::dvec2 ModelPointAt(const Polyline& line, double s) {
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    const glm::dvec2 a(line[i]), b(line[i + 1]);
    const double seg = glm::length(b - a);
    if (s <= seg && seg > 0) return a + (b - a) * (s / seg);
    s -= seg;
  }
  return glm::dvec2(line.back());
}

TEST(Resampling, StraightLineGivesEvenSteps) {
  Polyline pls;
  float len = -1;
  RoadPath::Fill_PLS({{0, 0}, {10, 0}}, len, pls);
  EXPECT_FLOAT_EQ(len, 10);
  ASSERT_EQ(pls.size(), 1001u);
  for (size_t i = 0; i < pls.size(); ++i) ExpectNear(pls[i], glm::vec2(i / 100.0f, 0), 1e-5f);
}

TEST(Resampling, CoincidentPointsGiveTwoPointsAndNoLength) {
  Polyline pls{{9, 9}};
  float len = -1;
  RoadPath::Fill_PLS({{3, 4}, {3, 4}, {3, 4}}, len, pls);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(pls, (Polyline{{3, 4}, {3, 4}}));
  RoadPath::Fill_PLS({{5, 6}}, len, pls);
  EXPECT_EQ(pls, (Polyline{{5, 6}, {5, 6}}));
  RoadPath::Fill_PLS({}, len, pls);
  EXPECT_TRUE(pls.empty());
  EXPECT_EQ(len, 0);
}

TEST(Resampling, RandomPolylinesMatchTheArcLengthModel) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-200, 200);
  for (int trial = 0; trial < 50; ++trial) {
    Polyline line;
    const int points = 2 + trial % 9;
    for (int i = 0; i < points; ++i) line.push_back({coord(rng), coord(rng)});
    if (trial % 5 == 0) line.insert(line.begin() + 1, line[1]);  // a zero-length segment
    Polyline pls;
    float len = 0;
    RoadPath::Fill_PLS(line, len, pls);
    double modelLen = 0;
    for (size_t i = 1; i < line.size(); ++i)
      modelLen += glm::length(glm::dvec2(line[i] - line[i - 1]));
    ASSERT_NEAR(len, modelLen, 1e-4 * modelLen);
    ASSERT_EQ(pls.size(), 1001u);
    for (int i = 0; i <= 1000; ++i) {
      const glm::dvec2 model = ModelPointAt(line, modelLen * i / 1000.0);
      ASSERT_NEAR(pls[i].x, model.x, 2e-2) << trial << " " << i;
      ASSERT_NEAR(pls[i].y, model.y, 2e-2) << trial << " " << i;
    }
  }
}

TEST(Positions, ReadAlongThePls) {
  Polyline pls;
  float len = 0;
  RoadPath::Fill_PLS({{0, 0}, {10, 0}, {10, 10}}, len, pls);
  ExpectNear(RoadPath::Get_PLS_Pos(0, len, pls), {0, 0}, 1e-6f);
  ExpectNear(RoadPath::Get_PLS_Pos(len, len, pls), {10, 10}, 1e-6f);
  ExpectNear(RoadPath::Get_PLS_Pos(len * 3, len, pls), {10, 10}, 1e-6f);
  ExpectNear(RoadPath::Get_PLS_Pos(5.005f, len, pls), {5.005f, 0}, 1e-4f);
  ExpectNear(RoadPath::Get_PLS_Pos(15, len, pls), {10, 5}, 1e-4f);
}

TEST(Positions, OutOfRangeReadsStayOnThePls) {
  Polyline pls;
  float len = 0;
  RoadPath::Fill_PLS({{1, 2}, {11, 2}}, len, pls);
  ExpectNear(RoadPath::Get_PLS_Pos(-4, len, pls), {1, 2}, 0);
  ExpectNear(RoadPath::Get_PLS_Pos(NAN, len, pls), {1, 2}, 0);
  ExpectNear(RoadPath::Get_PLS_Pos(INFINITY, len, pls), {11, 2}, 0);
  ExpectNear(RoadPath::Get_PLS_Pos(3, 0, pls), {1, 2}, 0);
  EXPECT_EQ(RoadPath::Get_PLS_Pos(3, 10, {}), glm::vec2(0));
}

TEST(RoundedCurves, QuarterCircleAtARightAngle) {
  const Polyline curve = RoadPath::MakeRoundedCurve({{0, 0}, {10, 0}, {10, 10}});
  ASSERT_EQ(curve.size(), 22u);
  ExpectNear(curve[0], {0, 0}, 0);
  ExpectNear(curve[1], {1, 0}, 1e-4f);
  for (size_t i = 1; i <= 20; ++i) {
    EXPECT_NEAR(glm::length(curve[i] - glm::vec2(1, 9)), 9, 1e-4f) << i;
  }
  ExpectNear(curve[20], {10, 9}, 1e-4f);
  ExpectNear(curve[21], {10, 10}, 0);
  // The arc runs the short way round, inside the corner.
  for (size_t i = 2; i < 20; ++i) EXPECT_TRUE(curve[i].x > 1 && curve[i].y < 9) << i;
}

TEST(RoundedCurves, PointCountsAndDegenerateCorners) {
  EXPECT_TRUE(RoadPath::MakeRoundedCurve({{0, 0}, {1, 1}}).empty());
  const Polyline zigzag = RoadPath::MakeRoundedCurve({{0, 0}, {10, 0}, {10, 10}, {20, 10}});
  EXPECT_EQ(zigzag.size(), 42u);
  // No turn, a full reversal and a zero-length side cannot be rounded; they stay points.
  for (const Polyline& corner :
       {Polyline{{0, 0}, {5, 0}, {10, 0}}, Polyline{{0, 0}, {5, 0}, {1, 0}},
        Polyline{{0, 0}, {0, 0}, {5, 5}}}) {
    const Polyline curve = RoadPath::MakeRoundedCurve(corner);
    ASSERT_EQ(curve.size(), 22u);
    EXPECT_TRUE(AllFinite(curve));
    EXPECT_EQ(curve[10], corner[1]);
  }
}

TEST(JunctionCurves, StraightOnIsABezier) {
  const Polyline curve = RoadPath::GetIntersectionCurve({10, 0}, {0, 0}, {30, 0}, {40, 0});
  ASSERT_EQ(curve.size(), 82u);
  EXPECT_EQ(curve[0], glm::vec2(10, 0));
  EXPECT_EQ(curve[1], glm::vec2(10, 0));
  ExpectNear(curve.back(), {30, 0}, 1e-5f);
  for (const glm::vec2& p : curve) EXPECT_NEAR(p.y, 0, 1e-5f);
}

TEST(JunctionCurves, ReversalIsAHalfCircle) {
  const Polyline curve = RoadPath::GetIntersectionCurve({10, 0}, {0, 0}, {10, 4}, {0, 4});
  ASSERT_EQ(curve.size(), 20u);
  EXPECT_EQ(curve[0], glm::vec2(10, 0));
  ExpectNear(curve.back(), {10, 4}, 1e-5f);
  for (const glm::vec2& p : curve) EXPECT_NEAR(glm::length(p - glm::vec2(10, 2)), 2, 1e-5f);
  // The side of the half circle follows from the angles as rounded in single precision.
  EXPECT_NEAR(std::fabs(curve[10].x - 10), 2, 0.01f);  // the arc point nearest its middle
}

TEST(JunctionCurves, RightAngleRoundsTheCornerOfTheLaneLines) {
  // Arriving eastwards at (10, 0), leaving southwards (y grows downward) from (14, 4).
  const Polyline curve = RoadPath::GetIntersectionCurve({10, 0}, {0, 0}, {14, 4}, {14, 14});
  ASSERT_EQ(curve.size(), 22u);
  EXPECT_EQ(curve.front(), glm::vec2(10, 0));
  EXPECT_EQ(curve.back(), glm::vec2(14, 4));
  // The corner (14, 0) of the lane lines is rounded with radius 0.9 x 4 around (10.4, 3.6).
  ExpectNear(curve[1], {10.4f, 0}, 1e-4f);
  ExpectNear(curve[20], {14, 3.6f}, 1e-4f);
  for (size_t i = 1; i <= 20; ++i) {
    EXPECT_NEAR(glm::length(curve[i] - glm::vec2(10.4f, 3.6f)), 3.6f, 1e-4f) << i;
  }
}

TEST(JunctionCurves, LanesWithoutDirectionGiveNoCurve) {
  EXPECT_TRUE(RoadPath::GetIntersectionCurve({10, 0}, {10, 0}, {14, 4}, {14, 14}).empty());
  EXPECT_TRUE(RoadPath::GetIntersectionCurve({10, 0}, {0, 0}, {14, 4}, {14, 4}).empty());
  // A U-turn onto the very same point has no radius: a curve of no length, but no NaN.
  const Polyline same = RoadPath::GetIntersectionCurve({10, 0}, {0, 0}, {10, 0}, {0, 0});
  EXPECT_TRUE(AllFinite(same));
  Polyline pls;
  float len = -1;
  RoadPath::Fill_PLS(same, len, pls);
  EXPECT_EQ(len, 0);
}

TEST(Angles, NearlyParallelVectorsNeverGiveNaN) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> coord(-1000, 1000);
  for (int i = 0; i < 20000; ++i) {
    const glm::vec2 v(coord(rng), coord(rng));
    const glm::vec2 u = glm::normalize(v);
    ASSERT_FALSE(std::isnan(RoadPath::MClockwiseAngle(v, v * 3.0f))) << v.x << " " << v.y;
    ASSERT_FALSE(std::isnan(RoadPath::MClockwiseAngleNorm(u, u)));
    ASSERT_NEAR(RoadPath::MClockwiseAngle(v, -v), M_PI, 1e-3);
    ASSERT_FALSE(std::isnan(RoadPath::MAdjustedAngle(v, -v)));
  }
}

TEST(Angles, SignsAndValues) {
  const glm::vec2 east(1, 0), south(0, 1), north(0, -1);
  EXPECT_FLOAT_EQ(RoadPath::GetDot(east * 5.0f, glm::vec2(1, 1)), std::sqrt(0.5f));
  EXPECT_NEAR(RoadPath::MAdjustedAngle(east, south), M_PI / 2, 1e-6);
  EXPECT_NEAR(RoadPath::AdjustedAngle(east, north), -M_PI / 2, 1e-6);
  EXPECT_TRUE(RoadPath::MCrossSign(east, south));
  EXPECT_FALSE(RoadPath::CrossSign(east, north));
  EXPECT_TRUE(RoadPath::CrossSign(east, east));
  EXPECT_NEAR(RoadPath::GetAngle(east, north), -M_PI / 2, 1e-6);
  EXPECT_NEAR(RoadPath::ClockwiseAngle(east, glm::vec2(-1, 1)), 3 * M_PI / 4, 1e-6);
  EXPECT_NEAR(RoadPath::GetHalfAngle(east, glm::vec2(-1, 1)), M_PI / 4, 1e-6);
  EXPECT_NEAR(RoadPath::GetHalfAngle(east, glm::vec2(1, 1)), M_PI / 4, 1e-6);
}

TEST(Angles, BezierAndBlend) {
  const glm::vec2 p0(0, 0), p1(1, 2), p2(3, 2), p3(4, 0);
  EXPECT_EQ(RoadPath::MBezier2D(p0, p1, p2, p3, 0), p0);
  EXPECT_EQ(RoadPath::MBezier2D(p0, p1, p2, p3, 1), p3);
  ExpectNear(RoadPath::MBezier2D(p0, p1, p2, p3, 0.5f), {2, 1.5f}, 1e-6f);
  EXPECT_EQ(RoadPath::BlendPoints({0, 0}, {4, 8}, 0.25f), glm::vec2(1, 2));
}

}  // namespace
