#pragma once

// MLib: small stateless numeric helpers. Axis intervals and tick positions for a value range,
// 2-D line and segment intersection, linear blends, easing curves on [0, 1], local date strings
// and a text form of GLM vector lists. Every function is free, pure (except the date helpers,
// which read the local clock) and safe to call from any thread.

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <string>
#include <vector>

namespace MLib {

namespace Impl {
// Tick interval for `range` split into about `n` parts: the power of ten below `range`, or its
// half, fifth or n-th, whichever first gives at least n parts.
double GetInterval(double range, int n);
// Offset (a power of ten carrying the sign of the centre, 0 unless the centre of a..b is at
// least 100 ranges from zero) and step (the power of ten below |b - a| / n) for a..b.
void ScaleRange(double a, double b, int n, double& step, double& offset);
// True when x lies within the rounding tolerance of `edge` for ticks of `step` shown
// relative to `offset`.
bool CloseTo(double x, double edge, double offset, double step);
}  // namespace Impl

// n + 1 evenly spaced values from a to b; just {a} for n = 0, empty for n < 0.
std::vector<double> MSplitRange(int n, double a, double b);
// Tick positions covering a..b with about n intervals. A range that is empty, reversed or not
// finite, or n < 1, gives {a, b}.
std::vector<double> MGetTickLocations(int n, double a, double b);

// Crossing of the infinite lines p1-p2 and p3-p4 into `out`; false (out untouched) when they
// are parallel within 1e-5.
bool MLineIntersect(const glm::vec2& p1, const glm::vec2& p2, const glm::vec2& p3,
                    const glm::vec2& p4, glm::vec2& out);
// Crossing of the segments p1-p2 and p3-p4 into `out`; false (out untouched) when they do not
// cross or are parallel.
bool MLineSegIntersect(const glm::vec2& p1, const glm::vec2& p2, const glm::vec2& p3,
                       const glm::vec2& p4, glm::vec2& out);

glm::vec2 MBlendPos(const glm::vec2& a, const glm::vec2& b, float t);  // a(1 - t) + b t
inline float MBlendPerc(float a, float b, float t) { return (1 - t) * a + t * b; }

// Local date "%m<sep>%d<sep>%Y", and the same followed by " %R %p".
std::string CurrentDate(std::string sep);
std::string CurrentDateTime(std::string sep);

// "{ (x,y), (x,y) }" with six significant digits; "{  }" for an empty list.
std::string GLMVectorToString(const std::vector<glm::vec2>& v);
std::string GLMVectorToString(const std::vector<glm::vec3>& v);

// Easing curves. The first four apply their formula to any x; MEaseInOut, MEaseInOutSharp,
// MSharpIn, MAsymOut give 0 below 0 and 1 above 1; the two bells give 0 outside [0, 1].
float MSigmoid(float x);
float MSharpRamp(float x);
float MSharpBlend(float x);
float MSharpOut(float x);
float MEaseInOut(float x);
float MEaseInOutSharp(float x);
float MSharpIn(float x);  // maps 1 to about 1.00709, not exactly 1
float MEaseIOBell(float x);
float MSharpIOBell(float x);  // continuous at 0.5, where it is 4
float MAsymOut(float x);      // 1 at 0 (its limit there), capped at 1

}  // namespace MLib
