// Random draws of RLib. The quantile curves are built in QuantileTables.cpp.

#include "foundation/RandLib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>

namespace RLib {

namespace {

// Just below 1, so that a draw of exactly 1 still picks the last element.
const float kBelowOne = 0.9999999f;

// NaN and values outside [0, 1] brought into it, so they can never index past a table.
float ClampFraction(float x) {
  if (!(x > 0)) return 0;
  return std::min(x, 1.0f);
}

// trunc(n * p * kBelowOne) for a fresh draw p, kept below n even when rounding reaches it.
size_t DrawIndex(size_t n) {
  const float scaled = static_cast<float>(n) * (RAND_GetPerc() * kBelowOne);
  return std::min(static_cast<size_t>(scaled), n - 1);
}

// Index of the value chosen by the weights, or -1 when the weights cannot choose.
long ChooseWeighted(size_t valueCount, const std::vector<float>& weights) {
  if (weights.empty() || valueCount < weights.size()) return -1;
  float sum = 0;
  for (float w : weights) {
    if (!std::isfinite(w) || w < 0) return -1;
    sum += w;
  }
  if (!(sum > 0) || !std::isfinite(sum)) return -1;
  const float threshold = RAND_GetPerc() * kBelowOne;
  float running = 0;
  for (size_t i = 0; i < weights.size(); ++i) {
    running += weights[i] / sum;
    if (running > threshold) return static_cast<long>(i);
  }
  return -1;
}

}  // namespace

unsigned int RAND_GetXRand(unsigned int s) {
  uint32_t x = s;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

float RAND_GetXPerc(unsigned int s) {
  uint32_t x = s;
  x ^= x << 21;
  x ^= x >> 31;
  x ^= x << 4;
  return static_cast<float>(x) * 0x1p-32f;
}

float RAND_GetSPerc(int s) {
  std::srand(RAND_GetXRand(2u * static_cast<unsigned int>(s) + 7u));
  return static_cast<float>(std::rand()) * 0x1p-31f;
}

float RAND_GetPerc() {
  // Opening the device is what costs (on some virtual machines its CPU-feature probe traps);
  // each draw still reads a fresh value from it.
  thread_local std::random_device device("default");
  const uint32_t s = device() ^ static_cast<uint32_t>(std::time(nullptr));
  // One xorshift decides which of the two generators gives this draw.
  if (RAND_GetXPerc(s + 37) > 0.5f) return RAND_GetXPerc(s);
  return RAND_GetSPerc(static_cast<int>(s));
}

float RAND_RCB_Perc(float a, float b) {
  const int curve = static_cast<int>(QuantNb * ClampFraction(b));
  const int point = static_cast<int>(QuantLen * ClampFraction(a));
  return Quantile[curve][point];
}

float RAND_Layered_Perc(float a, float b, float w) {
  return (1 - w) * RAND_GetPerc() + w * RAND_RCB_Perc(a, b);
}

float RAND_Blend_Perc(float x, float y, float t) { return (1 - t) * x + t * y; }

std::vector<float> RAND_GenCurve(std::vector<float>& weights) {
  std::vector<float> curve;
  if (weights.empty()) return curve;
  std::vector<float> cumulative;
  float sum = 0;
  for (float w : weights) {
    if (!std::isfinite(w) || w < 0) return curve;
    sum += w;
    cumulative.push_back(sum);
  }
  const float smallest = *std::min_element(weights.begin(), weights.end());
  const float total = cumulative.back() - smallest;
  if (!(total > 0) || !std::isfinite(total)) return curve;
  const size_t n = weights.size();
  for (size_t j = 0; j < n; ++j) curve.push_back(1 - (cumulative[n - 1 - j] - smallest) / total);
  return curve;
}

float RAND_ReadCurve(std::vector<float>& curve, float p) {
  if (curve.empty()) return 0;
  const size_t last = curve.size() - 1;
  const float scaled = static_cast<float>(last) * ClampFraction(p);
  return curve[std::min(static_cast<size_t>(scaled), last)];
}

float RAND_PercFromCurve(std::vector<float>& curve) {
  return RAND_ReadCurve(curve, RAND_GetPerc());
}

int RAND_Choice(std::vector<int> v) { return v.empty() ? 0 : v[DrawIndex(v.size())]; }

std::string RAND_Choice(std::vector<std::string> v) {
  return v.empty() ? std::string() : v[DrawIndex(v.size())];
}

std::string RAND_GetRandStrItem(std::vector<std::string>& v) { return RAND_Choice(v); }

int RAND_Choices(std::vector<int> values, std::vector<float> weights) {
  const long i = ChooseWeighted(values.size(), weights);
  return i < 0 ? -1 : values[i];
}

float RAND_Choices(std::vector<float> values, std::vector<float> weights) {
  const long i = ChooseWeighted(values.size(), weights);
  return i < 0 ? -1.0f : values[i];
}

std::string RAND_Choices(std::vector<std::string> values, std::vector<float> weights) {
  const long i = ChooseWeighted(values.size(), weights);
  return i < 0 ? std::string() : values[i];
}

int RAND_GetRandIntFromRange(int a, int b) {
  if (a > b) std::swap(a, b);
  const int64_t span = int64_t(b) + 1 - a;
  const float scaled = static_cast<float>(span) * (RAND_GetPerc() * kBelowOne);
  return static_cast<int>(std::min(a + static_cast<int64_t>(scaled), int64_t(b)));
}

float RAND_GetRandFloatFromRange(float a, float b) { return std::fma(b - a, RAND_GetPerc(), a); }

std::string RAND_Numeric_Code(int n) {
  std::string code;
  for (int i = 0; i < n; ++i) code += "0123456789"[DrawIndex(10)];
  return code;
}

}  // namespace RLib
