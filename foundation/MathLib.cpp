// Intersections, blends, dates and vector text of MLib.

#include "foundation/MathLib.h"

#include <ctime>
#include <sstream>

namespace MLib {

bool MLineIntersect(const glm::vec2& p1, const glm::vec2& p2, const glm::vec2& p3,
                    const glm::vec2& p4, glm::vec2& out) {
  const float a1 = p2.y - p1.y, b1 = p1.x - p2.x, c1 = a1 * p1.x + b1 * p1.y;
  const float a2 = p4.y - p3.y, b2 = p3.x - p4.x, c2 = a2 * p3.x + b2 * p3.y;
  const float det = a1 * b2 - a2 * b1;
  if (det > -1e-5f && det < 1e-5f) return false;
  out = glm::vec2((b2 * c1 - b1 * c2) / det, (a1 * c2 - a2 * c1) / det);
  return true;
}

bool MLineSegIntersect(const glm::vec2& p1, const glm::vec2& p2, const glm::vec2& p3,
                       const glm::vec2& p4, glm::vec2& out) {
  const glm::vec2 d1 = p2 - p1, d2 = p4 - p3;
  const float den = d1.x * d2.y - d1.y * d2.x;
  if (den == 0) return false;
  const float s = ((p1.y - p3.y) * d1.x - (p1.x - p3.x) * d1.y) / den;
  const float t = ((p1.y - p3.y) * d2.x - (p1.x - p3.x) * d2.y) / den;
  if (!(s >= 0 && s <= 1 && t >= 0 && t <= 1)) return false;
  out = p1 + t * d1;
  return true;
}

glm::vec2 MBlendPos(const glm::vec2& a, const glm::vec2& b, float t) { return a * (1 - t) + b * t; }

namespace {

std::string FormatLocalNow(const std::string& format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[80];
  const size_t length = std::strftime(text, sizeof(text), format.c_str(), &local);
  return std::string(text, length);
}

template <typename Vec>
std::string VectorsToString(const std::vector<Vec>& vectors) {
  std::ostringstream out;
  out << "{ ";
  for (size_t i = 0; i < vectors.size(); ++i) {
    if (i > 0) out << ", ";
    out << "(";
    for (int c = 0; c < Vec::length(); ++c) out << (c > 0 ? "," : "") << vectors[i][c];
    out << ")";
  }
  out << " }";
  return out.str();
}

}  // namespace

std::string CurrentDate(std::string sep) { return FormatLocalNow("%m" + sep + "%d" + sep + "%Y"); }

std::string CurrentDateTime(std::string sep) {
  return FormatLocalNow("%m" + sep + "%d" + sep + "%Y %R %p");
}

std::string GLMVectorToString(const std::vector<glm::vec2>& v) { return VectorsToString(v); }
std::string GLMVectorToString(const std::vector<glm::vec3>& v) { return VectorsToString(v); }

}  // namespace MLib
