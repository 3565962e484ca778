#pragma once

// RLib: random draws for the traffic simulation. A uniform draw seeded afresh on every call,
// draws shaped by 24 fixed quantile curves, plain and weighted choices from lists, integers
// and floats from a range, and digit strings.
//
// Threading: RAND_GetPerc and RAND_GetSPerc reseed the process-wide rand() generator, so
// calls from several threads interleave on it; everything else is pure apart from drawing.
// RAND_GetPerc reads a fresh value from the platform random device (opened once per thread)
// on each call: it suits occasional draws, not bulk sampling.
//
// Arguments are checked: fractions outside [0, 1] (and NaN) are clamped, empty lists and
// weights that do not fit their values give the documented "none" result, never a read
// outside a table.

#include <string>
#include <vector>

namespace RLib {

// 24 inverse cumulative distributions, each 1295 non-decreasing points from 0 to just below
// 1: Quantile[c][i] is the value below which a fraction i / QuantLen of curve c's draws lie.
// Built before main() runs; read-only afterwards.
constexpr int QuantNb = 23;     // the last curve index
constexpr int QuantLen = 1294;  // the last point index
extern const std::vector<std::vector<float>> Quantile;

float RAND_GetPerc();                        // uniform in [0, 1]
float RAND_GetXPerc(unsigned int s);         // xorshift (21, 31, 4) of s, times 2^-32
unsigned int RAND_GetXRand(unsigned int s);  // xorshift (13, 17, 5) of s
float RAND_GetSPerc(int s);                  // reseeds rand() from s; its next value times 2^-31

// Point a of curve b, both as fractions of the table.
float RAND_RCB_Perc(float a, float b);
// A uniform draw blended with RAND_RCB_Perc(a, b) by weight w.
float RAND_Layered_Perc(float a, float b, float w);
float RAND_Blend_Perc(float x, float y, float t);  // (1 - t)x + t y

// A curve rising from 0 built from cumulative weights; empty when there are no weights or
// they are negative, not finite or do not rise above their smallest value.
std::vector<float> RAND_GenCurve(std::vector<float>& weights);
// The curve's value at fraction p of its length; 0 for an empty curve.
float RAND_ReadCurve(std::vector<float>& curve, float p);
float RAND_PercFromCurve(std::vector<float>& curve);

// A uniformly chosen element: 0 (integers) or empty text for an empty list.
int RAND_Choice(std::vector<int> v);
std::string RAND_Choice(std::vector<std::string> v);
std::string RAND_GetRandStrItem(std::vector<std::string>& v);

// A value chosen with probability proportional to its weight. None (-1, -1.0 or empty text)
// when there are no weights, fewer values than weights, a negative or non-finite weight, or
// weights summing to 0.
int RAND_Choices(std::vector<int> values, std::vector<float> weights);
float RAND_Choices(std::vector<float> values, std::vector<float> weights);
std::string RAND_Choices(std::vector<std::string> values, std::vector<float> weights);

int RAND_GetRandIntFromRange(int a, int b);  // in [min(a, b), max(a, b)]
float RAND_GetRandFloatFromRange(float a, float b);
std::string RAND_Numeric_Code(int n);  // n random decimal digits; empty for n < 1

}  // namespace RLib
