// Axis helpers of MLib: intervals, scale and offset of a range, and tick positions.

#include <cmath>

#include "foundation/MathLib.h"

namespace MLib {

namespace Impl {

double GetInterval(double range, int n) {
  const double m = std::pow(10.0, std::floor(std::log10(range)));
  if (range / m >= n) return m;
  if (n <= range / (m / 2)) return m / 2;
  if (n <= range / (m / 5)) return m / 5;
  return m / n;
}

void ScaleRange(double a, double b, int n, double& step, double& offset) {
  const double centre = (a + b) / 2;
  const double span = std::fabs(b - a);
  offset = 0;
  if (std::fabs(centre) / span >= 100) {
    offset = std::copysign(std::pow(10.0, std::floor(std::log10(std::fabs(centre)))), centre);
  }
  step = std::pow(10.0, std::floor(std::log10(span / n)));
}

bool CloseTo(double x, double edge, double offset, double step) {
  double tolerance = 1e-10;
  if (offset > 0) {
    tolerance = std::pow(10.0, std::log10(offset / step) - 12);
    tolerance = std::fmin(std::fmax(tolerance, 1e-10), 0.4999);
  }
  return std::fabs(x - edge) < tolerance;
}

}  // namespace Impl

namespace {

// Index of the last tick at or below `e` (a distance from the tick base) for ticks `s` apart,
// counting a distance within rounding of the next tick as reaching it.
long long EdgeIndex(double e, double s, double offset) {
  long long k = static_cast<long long>(std::trunc(e / s));
  const double wholeStep = std::trunc(s);
  if (wholeStep != 0) e = std::fmod(std::trunc(e), wholeStep);
  if (Impl::CloseTo(e / s, 1.0, offset, s)) ++k;
  return k;
}

// Ticks of the largest "nice" step, from the first one fine enough downwards, that puts at
// least two ticks inside a..b (both relative to the offset); empty when no step is fine enough.
std::vector<double> SearchTicks(int n, double a, double b, double scale, double offset) {
  static const double kSteps[] = {0.1, 0.15, 0.2, 0.25, 0.3, 0.4, 0.5, 0.6, 0.8, 1,
                                  1.5, 2,    2.5, 3,    4,   5,   6,   8,   10,  15};
  const int count = sizeof(kSteps) / sizeof(kSteps[0]);
  int first = 0;
  while (first < count && kSteps[first] * scale < (b - a) / n) ++first;
  std::vector<double> ticks;
  if (first == count) return ticks;
  for (int i = first; i >= 0; --i) {
    const double s = kSteps[i] * scale;
    const double base = std::floor(a / s) * s;
    const long long low = EdgeIndex(a - base, s, offset);
    const long long high = EdgeIndex(b - base, s, offset);
    ticks.clear();
    int inside = 0;
    for (long long k = low; k <= high + 1; ++k) {
      ticks.push_back(base + k * s);
      if (ticks.back() >= a && ticks.back() <= b) ++inside;
    }
    if (inside >= 2) break;
  }
  return ticks;
}

// Evenly stepped ticks from below a to the first one at or past b.
std::vector<double> FallbackTicks(int n, double a, double b) {
  const double step = Impl::GetInterval(b - a, n);
  if (step == 0) return {a, b};
  const double start = std::floor(a / step) * step;
  const double end = std::ceil(b / step) * step;
  // Rounded, not truncated: (end - start) / step can come out just below a whole number, and
  // dropping the last step would leave the top of the range without a tick.
  const long long count = std::llround((end - start) / step + 1);
  std::vector<double> ticks{start};
  for (long long i = 1; i < count; ++i) {
    const double value = start + i * step;
    if (value >= end) {
      if (ticks.back() < b) ticks.push_back(value);
      break;
    }
    ticks.push_back(value);
  }
  return ticks;
}

}  // namespace

std::vector<double> MSplitRange(int n, double a, double b) {
  std::vector<double> values;
  if (n < 0) return values;
  if (n == 0) return {a};
  const double step = (b - a) / n;
  for (int i = 0; i <= n; ++i) values.push_back(std::fma(i, step, a));
  return values;
}

std::vector<double> MGetTickLocations(int n, double a, double b) {
  if (n < 1 || !std::isfinite(a) || !std::isfinite(b) || !(b > a)) return {a, b};
  double scale = 0, offset = 0;
  Impl::ScaleRange(a, b, n, scale, offset);
  std::vector<double> ticks = SearchTicks(n, a - offset, b - offset, scale, offset);
  // The search works relative to the offset, but its ticks are checked against the range
  // itself: an offset range falls back to plain steps.
  if (ticks.empty() || ticks.front() > a || ticks.back() < b) return FallbackTicks(n, a, b);
  return ticks;
}

}  // namespace MLib
