// The developer's views of a container on standard output: LogInfo and the record dump.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <string>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"
#include "record/ByteStreamText.h"

namespace {

// Calls fn with a value of the element type of a number or text array code, given as its
// distance from the first code of its family (0 int8 ... 9 double, 10 string).
template <class Fn>
void WithElementType(int element, Fn fn) {
  switch (element) {
    case 0: fn(int8_t{}); break;
    case 1: fn(uint8_t{}); break;
    case 2: fn(int16_t{}); break;
    case 3: fn(uint16_t{}); break;
    case 4: fn(int32_t{}); break;
    case 5: fn(uint32_t{}); break;
    case 6: fn(int64_t{}); break;
    case 7: fn(uint64_t{}); break;
    case 8: fn(float{}); break;
    case 9: fn(double{}); break;
    case 10: fn(std::string{}); break;
  }
}

// The scalar of a code 1 to 10 as text; a short value fills only the leading bytes.
std::string ScalarText(const ByteStreamBuffer& record) {
  std::string text;
  WithElementType(record.GetType() - dt_int8, [&](auto zero) {
    using T = decltype(zero);
    if constexpr (!std::is_same_v<T, std::string>) {
      T value{};
      std::memcpy(&value, record.GetValue(), std::min<uint64_t>(record.GetValueSize(), sizeof(T)));
      text = bstext::ValueText(value);
    }
  });
  return text;
}

void Indent(int indent) {
  if (indent > 0) std::printf("%*s", indent, "");
}

}  // namespace

void ByteStream::LogInfo() const {
  for (const auto& record : records) {
    std::printf("Type: %s, Key: %s, Values Size: %lu, Entry Size %lu\n",
                ByteStreamTypeName(record.GetType()), record.GetKey().c_str(),
                static_cast<unsigned long>(record.GetValueSize()),
                static_cast<unsigned long>(record.size));
  }
}

void ByteStream::LogRecords(int indent, bool oneLine) const {
  for (const auto& record : records) LogRecord(record, indent, oneLine);
}

void ByteStream::LogRecord(const ByteStreamBuffer& record, int indent, bool oneLine) const {
  if (!record.IsValid()) return;
  uint8_t type = record.GetType();
  std::string key = record.GetKey();
  Indent(indent);
  if (oneLine) {
    std::printf("%s (%s) --> ", key.c_str(), ByteStreamDataStrings[type]);
  } else {
    std::printf("Type: %s, Key: %s, Values Size: %lu, Entry Size %lu\n",
                ByteStreamDataStrings[type], key.c_str(),
                static_cast<unsigned long>(record.GetValueSize()),
                static_cast<unsigned long>(record.size));
  }
  if (type == dt_stream) {
    if (oneLine) std::printf("\n");
    ByteStream child(false);
    GetStream(key, child);
    child.LogRecords(indent + 4, oneLine);
    return;
  }
  if (type == dt_stream_vector) {
    if (oneLine) std::printf("\n");
    std::vector<ByteStream> children;
    GetStreamVector(key, children);
    for (size_t i = 0; i < children.size(); ++i) {
      Indent(indent);
      std::printf("    ------------ [%i] ------------\n", static_cast<int>(i));
      children[i].LogRecords(indent + 4, oneLine);
    }
    return;
  }
  bool is2D = type >= dt_int8_vector2D && type <= dt_string_vector2D;
  if (!oneLine) {
    Indent(indent);
    if (!is2D) std::printf("    ");
  }
  std::string text;
  if (type >= dt_int8 && type <= dt_double) {
    text = ScalarText(record) + "\n";
  } else if (type == dt_string) {
    text = record.ValueToString<std::string>() + "\n";
  } else if (type >= dt_int8_vector && type <= dt_string_vector) {
    WithElementType(type - dt_int8_vector, [&](auto zero) {
      text = record.VectorValueToString<decltype(zero)>() + "\n";
    });
  } else if (is2D) {
    WithElementType(type - dt_int8_vector2D, [&](auto zero) {
      text = record.Vector2DValueToString<decltype(zero)>(indent + 4) + "\n";
    });
  } else if (type == dt_buffer) {
    text = " [Buffer of Size " + std::to_string(record.GetValueSize()) + "]\n";
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}
