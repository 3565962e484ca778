#pragma once

// RoadPath: geometry of roads and junctions on 2-D single-precision points.
//
// The central object is the PLS, a polyline resampled into kPlsSteps equal arc-length steps:
// point i of the PLS of a polyline of length len lies at i / kPlsSteps * len along it, so a
// position at any distance is one index computation and one blend (Get_PLS_Pos). The
// junction curve (GetIntersectionCurve) joins the end of an incoming lane to the start of an
// outgoing lane: a half circle for a U-turn, a rounded corner for a turn, a cubic Bezier for
// (nearly) straight on.
//
// Every function is pure and thread-safe. Degenerate input never yields NaN: dot products are
// clamped to [-1, 1] before acos, zero-length directions give an empty junction curve, and a
// corner that cannot be rounded (a zero-length side, or no turn at all) is kept as a point.

#include <glm/vec2.hpp>
#include <vector>

namespace RoadPath {

using Polyline = std::vector<glm::vec2>;

// Number of equal steps of a PLS; a polyline of positive length gives kPlsSteps + 1 points.
constexpr int kPlsSteps = 1000;

// out := the PLS of `poly`, len := its arc length. An empty `poly` gives an empty `out` and
// len 0; a polyline of length 0 gives its first and last point.
void Fill_PLS(const Polyline& poly, float& len, Polyline& out);
// The point at distance d along a PLS of length len: the first point for d <= 0 (or NaN) or
// len <= 0, the last point for d >= len; (0, 0) for an empty PLS.
glm::vec2 Get_PLS_Pos(float d, float len, const Polyline& pls);

// `poly` with every interior corner replaced by a 20-point circular arc: 2 + 20 (n - 2)
// points, empty for fewer than 3.
Polyline MakeRoundedCurve(const Polyline& poly);
// The junction curve from p0 (last point of the incoming lane, p1 the one before it) to p2
// (first point of the outgoing lane, p3 the one after it). Empty when the lane lines are
// parallel for a turn, or when p0 = p1 or p2 = p3 (no direction).
Polyline GetIntersectionCurve(const glm::vec2& p0, const glm::vec2& p1, const glm::vec2& p2,
                              const glm::vec2& p3);

float GetDot(const glm::vec2& a, const glm::vec2& b);               // dot(unit(a), unit(b))
float MClockwiseAngleNorm(const glm::vec2& a, const glm::vec2& b);  // acos(dot), unit input
float MClockwiseAngle(const glm::vec2& a, const glm::vec2& b);      // unsigned angle, 0..pi
bool MCrossSign(const glm::vec2& a, const glm::vec2& b);            // cross(a, b) >= 0
float MAdjustedAngle(const glm::vec2& a, const glm::vec2& b);       // signed angle, -pi..pi
float GetAngle(const glm::vec2& a, const glm::vec2& b);             // atan2(cross, dot)
float GetHalfAngle(const glm::vec2& a, const glm::vec2& b);
glm::vec2 MBezier2D(const glm::vec2& p0, const glm::vec2& p1, const glm::vec2& p2,
                    const glm::vec2& p3, float t);
glm::vec2 BlendPoints(const glm::vec2& a, const glm::vec2& b, float t);  // a(1 - t) + b t

inline float ClockwiseAngle(const glm::vec2& a, const glm::vec2& b) {
  return MClockwiseAngle(a, b);
}
inline bool CrossSign(const glm::vec2& a, const glm::vec2& b) { return MCrossSign(a, b); }
inline float AdjustedAngle(const glm::vec2& a, const glm::vec2& b) { return MAdjustedAngle(a, b); }

}  // namespace RoadPath
