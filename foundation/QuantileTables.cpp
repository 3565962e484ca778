// The quantile curves behind RLib's shaped draws.
//
// Each curve is given by its values at six fixed points. Curves 0, 2, 12, 22 and 23 carry
// their own anchor values; every other curve takes its anchors by blending the two given
// curves around it, so the family changes shape gradually from one given curve to the next.
// The 1295 points of a curve are then filled in by monotone cubic (Fritsch-Carlson)
// interpolation through its anchors, which never overshoots: a curve with non-decreasing
// anchors is non-decreasing everywhere.

#include <cmath>

#include "foundation/RandLib.h"

namespace RLib {

namespace {

const int kAnchorCount = 6;
const double kAnchorPoints[kAnchorCount] = {0, 100, 323, 647, 971, 1294};

struct GivenCurve {
  int index;
  double values[kAnchorCount];
};

const GivenCurve kGivenCurves[] = {
    {0, {0.0, 0.1226, 0.3517, 0.6768, 0.8925, 0.9996}},
    {2, {0.0, 0.3087, 0.6892, 0.9173, 0.9618, 0.9998}},
    {12, {0.0, 0.0193, 0.0924, 0.3837, 0.8060, 0.9993}},
    {22, {0.0, 0.1229, 0.3467, 0.7764, 0.9707, 0.9999}},
    {23, {0.0, 0.0728, 0.2359, 0.5629, 0.8057, 0.9995}},
};

using Anchors = std::vector<double>;

// Anchors of curve c: its own when given, else the blend of the given curves around it.
// The last curve, QuantNb, is given, so every c in 0..QuantNb has a given curve at or above it.
Anchors CurveAnchors(int c) {
  int upper = 0;
  while (kGivenCurves[upper].index < c) ++upper;
  const GivenCurve& hi = kGivenCurves[upper];
  const GivenCurve& lo = kGivenCurves[upper > 0 ? upper - 1 : 0];
  const double t = (hi.index == lo.index) ? 1.0 : double(c - lo.index) / (hi.index - lo.index);
  Anchors anchors(kAnchorCount);
  for (int k = 0; k < kAnchorCount; ++k) anchors[k] = (1 - t) * lo.values[k] + t * hi.values[k];
  return anchors;
}

// Fritsch-Carlson end slope: the three-point estimate, limited so the curve keeps its sense.
double EndSlope(double h0, double h1, double d0, double d1) {
  double slope = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
  if (slope * d0 <= 0) return 0;
  if (d0 * d1 <= 0 && std::fabs(slope) > 3 * std::fabs(d0)) return 3 * d0;
  return slope;
}

// Slopes at the anchors that keep the cubic pieces monotone between monotone anchors.
std::vector<double> AnchorSlopes(const Anchors& y) {
  const int n = kAnchorCount;
  std::vector<double> h(n - 1), d(n - 1), slopes(n);
  for (int k = 0; k + 1 < n; ++k) {
    h[k] = kAnchorPoints[k + 1] - kAnchorPoints[k];
    d[k] = (y[k + 1] - y[k]) / h[k];
  }
  for (int k = 1; k + 1 < n; ++k) {
    if (d[k - 1] * d[k] <= 0) continue;
    const double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
    slopes[k] = (w1 + w2) / (w1 / d[k - 1] + w2 / d[k]);
  }
  slopes[0] = EndSlope(h[0], h[1], d[0], d[1]);
  slopes[n - 1] = EndSlope(h[n - 2], h[n - 3], d[n - 2], d[n - 3]);
  return slopes;
}

std::vector<float> InterpolateCurve(const Anchors& y) {
  const std::vector<double> m = AnchorSlopes(y);
  std::vector<float> curve(QuantLen + 1);
  int k = 0;
  float previous = 0;
  for (int i = 0; i <= QuantLen; ++i) {
    while (k + 2 < kAnchorCount && i > kAnchorPoints[k + 1]) ++k;
    const double h = kAnchorPoints[k + 1] - kAnchorPoints[k];
    const double t = (i - kAnchorPoints[k]) / h;
    const double t2 = t * t, t3 = t2 * t;
    const double value = (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * m[k] +
                         (-2 * t3 + 3 * t2) * y[k + 1] + (t3 - t2) * h * m[k + 1];
    // Rounding alone could dip a point below its predecessor by an ulp; never let it.
    previous = std::fmax(static_cast<float>(value), previous);
    curve[i] = previous;
  }
  return curve;
}

std::vector<std::vector<float>> BuildQuantiles() {
  std::vector<std::vector<float>> curves;
  for (int c = 0; c <= QuantNb; ++c) curves.push_back(InterpolateCurve(CurveAnchors(c)));
  return curves;
}

}  // namespace

const std::vector<std::vector<float>> Quantile = BuildQuantiles();

}  // namespace RLib
