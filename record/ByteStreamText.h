#pragma once

// Text forms of record values, shared by the record dump and the ByteStreamBuffer text
// templates: integers in plain decimal (8-bit values as numbers), floats with "%f" of the
// value widened to double, texts between double quotes with their bytes unchanged.

#include <cstdio>
#include <string>
#include <type_traits>

namespace bstext {

template <class T>
std::string ValueText(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return "\"" + value + "\"";
  } else if constexpr (std::is_floating_point_v<T>) {
    char text[512];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return text;
  } else if constexpr (std::is_signed_v<T>) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(static_cast<unsigned long long>(value));
  }
}

// "{ a, b }", or "{  }" for no elements.
template <class T>
std::string ListText(const T* values, size_t count) {
  std::string text = "{ ";
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += ", ";
    text += ValueText(values[i]);
  }
  return text + " }";
}

}  // namespace bstext
