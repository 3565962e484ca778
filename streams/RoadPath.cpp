// Polyline resampling, rounded corners, junction curves and angle helpers.

#include "streams/RoadPath.h"

#include <cmath>
#include <glm/geometric.hpp>

#include "foundation/MathLib.h"

namespace RoadPath {

namespace {

const double kPi = 3.141592653589793;
const float kTwoPi = 6.2831855f;
const int kArcSteps = 19;  // points of an arc after its first

float Cross(const glm::vec2& a, const glm::vec2& b) { return a.x * b.y - b.x * a.y; }

// acos of a cosine that rounding may have pushed just outside [-1, 1].
float SafeAcos(float c) { return std::acos(std::fmax(-1.0f, std::fmin(1.0f, c))); }

// The signed angle of v: acos of its unit x, negated below the x axis.
float SignedAngle(const glm::vec2& v) {
  const float angle = SafeAcos(glm::normalize(v).x);
  return v.y < 0 ? -angle : angle;
}

// Appends the kArcSteps points after `from` of the shorter arc (within rounding) around
// `centre` from `from` to `to`, the last one at `to`. A zero radius repeats the centre.
void AppendArc(const glm::vec2& centre, const glm::vec2& from, const glm::vec2& to, float radius,
               Polyline& out) {
  if (!(radius > 0) || from == centre || to == centre) {
    out.insert(out.end(), kArcSteps, centre);
    return;
  }
  const float a0 = SignedAngle(from - centre), a1 = SignedAngle(to - centre);
  float sweep = a1 - a0;
  if (std::fabs(double(sweep)) > kPi) sweep += (a1 < a0) ? kTwoPi : -kTwoPi;
  for (int s = 1; s <= kArcSteps; ++s) {
    const float a = a0 + s * sweep / kArcSteps;
    out.push_back(centre + radius * glm::vec2(std::cos(a), std::sin(a)));
  }
}

// Appends the 20 points that replace corner P with incoming side (length lin, direction din)
// and outgoing side (lout, dout). A corner without a turn, a full reversal or a zero-length
// side has no arc: the corner point stands for all 20.
void AppendRoundedCorner(const glm::vec2& p, float lin, const glm::vec2& din, float lout,
                         const glm::vec2& dout, Polyline& out) {
  const float half = SafeAcos(-glm::dot(din, dout)) * 0.5f;
  const glm::vec2 bend = dout - din;
  if (!(lin > 0) || !(lout > 0) || !(half > 0) || glm::dot(bend, bend) == 0) {
    out.insert(out.end(), kArcSteps + 1, p);
    return;
  }
  float r = 0.9f * std::fmax(lin, lout);
  float t = r / std::tan(half);
  if (0.9f * lin < t || 0.9f * lout < t) {
    t = std::fmin(0.9f * lin, 0.9f * lout);
    r = std::tan(half) * t;
  }
  const glm::vec2 centre = p + (r / std::sin(half)) * glm::normalize(bend);
  const glm::vec2 entry = p - t * din, exit = p + t * dout;
  out.push_back(entry);
  AppendArc(centre, entry, exit, r, out);
}

}  // namespace

void Fill_PLS(const Polyline& poly, float& len, Polyline& out) {
  out.clear();
  len = 0;
  if (poly.empty()) return;
  const size_t n = poly.size();
  std::vector<float> cum(n, 0.0f);
  for (size_t i = 1; i < n; ++i) cum[i] = cum[i - 1] + glm::length(poly[i] - poly[i - 1]);
  len = cum[n - 1];
  out.reserve(kPlsSteps + 1);
  out.push_back(poly[0]);
  size_t k = 0;
  for (int i = 1; i <= kPlsSteps; ++i) {
    const float target = (float(i) / 1000.0f) * len;
    while (k + 1 < n && !(cum[k + 1] > target)) ++k;
    if (k + 1 >= n) break;  // at or past the end: only the last point remains
    const float f = (target - cum[k]) / (cum[k + 1] - cum[k]);
    out.push_back(poly[k] * (1 - f) + poly[k + 1] * f);
  }
  out.push_back(poly[n - 1]);
}

glm::vec2 Get_PLS_Pos(float d, float len, const Polyline& pls) {
  if (pls.empty()) return glm::vec2(0);
  if (!(d > 0) || !(len > 0)) return pls.front();
  const float scaled = d / len * kPlsSteps;
  if (!(scaled < float(pls.size() - 1))) return pls.back();
  const size_t k = static_cast<size_t>(scaled);
  const float f = scaled - k;
  return pls[k] * (1 - f) + pls[k + 1] * f;
}

Polyline MakeRoundedCurve(const Polyline& poly) {
  Polyline out;
  const size_t n = poly.size();
  if (n < 3) return out;
  std::vector<float> lengths(n - 1);
  Polyline directions(n - 1);
  for (size_t i = 0; i + 1 < n; ++i) {
    const glm::vec2 side = poly[i + 1] - poly[i];
    lengths[i] = glm::length(side);
    directions[i] = lengths[i] > 0 ? side / lengths[i] : glm::vec2(0);
  }
  out.reserve(2 + 20 * (n - 2));
  out.push_back(poly[0]);
  for (size_t j = 1; j + 1 < n; ++j) {
    AppendRoundedCorner(poly[j], lengths[j - 1], directions[j - 1], lengths[j], directions[j], out);
  }
  out.push_back(poly[n - 1]);
  return out;
}

Polyline GetIntersectionCurve(const glm::vec2& p0, const glm::vec2& p1, const glm::vec2& p2,
                              const glm::vec2& p3) {
  Polyline out;
  if (p0 == p1 || p2 == p3) return out;
  const glm::vec2 dIn = glm::normalize(p0 - p1), dOut = glm::normalize(p2 - p3);
  const float c = glm::dot(dOut, dIn);
  if (double(c) > 0.999 && double(c) < 1.0001) {  // U-turn: half circle from p0 to p2
    const glm::vec2 middle = (p0 + p2) * 0.5f;
    out.push_back(p0);
    AppendArc(middle, p0, p2, glm::length(p2 - p0) * 0.5f, out);
    return out;
  }
  const float angle = SafeAcos(c);
  if (angle >= 0.6f && double(angle) <= 2.541592629747935) {  // a turn: round the corner
    glm::vec2 crossing;
    if (!MLib::MLineIntersect(p0, p1, p2, p3, crossing)) return out;
    return MakeRoundedCurve({p0, crossing, p2});
  }
  const float l = glm::length(p0 - p2);
  const glm::vec2 c1 = p0 + dIn * l * 0.5f, c2 = p2 + dOut * l * 0.5f;
  out.push_back(p0);
  for (int s = 0; s <= 80; ++s) out.push_back(MBezier2D(p0, c1, c2, p2, float(s) / 80.0f));
  return out;
}

float GetDot(const glm::vec2& a, const glm::vec2& b) {
  return glm::dot(glm::normalize(a), glm::normalize(b));
}

float MClockwiseAngleNorm(const glm::vec2& a, const glm::vec2& b) {
  return SafeAcos(glm::dot(a, b));
}

float MClockwiseAngle(const glm::vec2& a, const glm::vec2& b) { return SafeAcos(GetDot(a, b)); }

bool MCrossSign(const glm::vec2& a, const glm::vec2& b) { return !(Cross(a, b) < 0); }

float MAdjustedAngle(const glm::vec2& a, const glm::vec2& b) {
  const float angle = MClockwiseAngle(a, b);
  return Cross(a, b) < 0 ? -angle : angle;
}

float GetAngle(const glm::vec2& a, const glm::vec2& b) {
  return std::atan2(Cross(a, b), glm::dot(a, b));
}

float GetHalfAngle(const glm::vec2& a, const glm::vec2& b) {
  const float t = std::fabs(GetAngle(a, b));
  return t > 1.5707964f ? t - 1.5707964f : t;
}

glm::vec2 MBezier2D(const glm::vec2& p0, const glm::vec2& p1, const glm::vec2& p2,
                    const glm::vec2& p3, float t) {
  const float u = 1 - t;
  return u * u * u * p0 + 3 * t * u * u * p1 + 3 * t * t * u * p2 + t * t * t * p3;
}

glm::vec2 BlendPoints(const glm::vec2& a, const glm::vec2& b, float t) {
  return a * (1 - t) + b * t;
}

}  // namespace RoadPath
