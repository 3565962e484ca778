// Easing curves of MLib, in single precision.

#include <cmath>

#include "foundation/MathLib.h"

namespace MLib {

namespace {
const float kPi = 3.14159265358979f;
const double kHalfPi = 1.5707963267948966;
}  // namespace

float MSigmoid(float x) { return x / (std::fabs(x) + 1); }

float MSharpRamp(float x) {
  const float s = (x - 1) * 6;
  return 1 + (s / (std::fabs(s) + 1)) / 0.857143f;
}

float MSharpBlend(float x) {
  if (x == 0) return 0;
  return static_cast<float>(std::asin(x) / kHalfPi);
}

float MSharpOut(float x) { return MSharpBlend(x); }

float MEaseInOut(float x) {
  if (x < 0) return 0;
  if (x > 1) return 1;
  return 0.5f + 0.5f * static_cast<float>(std::sin(x * kPi - kHalfPi));
}

float MEaseInOutSharp(float x) {
  if (x < 0) return 0;
  if (x > 1) return 1;
  const float r = x / (1 - x);
  return 1 / (2 - r * r * r);
}

float MSharpIn(float x) {
  if (x < 0) return 0;
  if (x > 1) return 1;
  return x * 1.171772f / (x + 0.1635285f);
}

float MEaseIOBell(float x) {
  if (x < 0 || x > 1) return 0;
  return 0.5f + 0.5f * static_cast<float>(std::sin(2 * x * kPi - kHalfPi));
}

float MSharpIOBell(float x) {
  if (x < 0 || x > 1) return 0;
  const float y = 2 * x - 1;
  // asin(y) / y tends to 1 as y tends to 0: take that limit instead of dividing 0 by 0.
  const float ratio = (y == 0) ? 2.0f : std::asin(y) / (y / 2);
  return std::fmax(ratio + 2, 0.0f);
}

float MAsymOut(float x) {
  if (x < 0) return 0;
  if (x > 1) return 1;
  const float ratio = (x == 0) ? 2.0f : std::asin(x) / (x / 2);
  return std::fmin(ratio, 1.0f);
}

}  // namespace MLib
