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

// Prints the header and the value of one record. True for the nested codes, whose
// containers the caller dumps next.
bool PrintRecord(const ByteStreamBuffer& record, int indent, bool oneLine) {
  if (!record.IsValid()) return false;
  uint8_t type = record.GetType();
  Indent(indent);
  if (oneLine) {
    std::printf("%s (%s) --> ", record.GetKey().c_str(), ByteStreamDataStrings[type]);
  } else {
    std::printf("Type: %s, Key: %s, Values Size: %lu, Entry Size %lu\n",
                ByteStreamDataStrings[type], record.GetKey().c_str(),
                static_cast<unsigned long>(record.GetValueSize()),
                static_cast<unsigned long>(record.size));
  }
  if (type == dt_stream || type == dt_stream_vector) {
    if (oneLine) std::printf("\n");
    return true;
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
  return false;
}

// A nested container still being dumped: its records from `next` on, at `indent`. An item
// of a stream vector first prints the line of its `label`.
struct DumpFrame {
  ByteStream view{true};
  size_t next = 0;
  int indent = 0;
  int label = -1;
  int depth = 1;
};

// Levels of nesting the dump shows: an image may nest containers thousands deep, and every
// level indents its lines by 4 more, so the text would grow with the square of the depth.
constexpr int kDumpDepth = 64;

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
  if (!PrintRecord(record, indent, oneLine)) return;
  // The walk keeps its own stack rather than recursing once per level, and the nested
  // containers view the record's bytes instead of copying the rest of the image each time.
  // The nested value is the one its key holds in the container that owns the record (this
  // one at the top, a nested container below it), not the bytes of the record handed in:
  // only a value of the right kind under that key is shown.
  std::vector<DumpFrame> stack;
  auto pushNested = [&stack](const ByteStream& owner, const ByteStreamBuffer& header, int at,
                             int depth) {
    if (depth > kDumpDepth) {
      Indent(at + 4);
      std::printf("[deeper levels not shown]\n");
      return;
    }
    std::vector<ByteStream> children;
    bool labelled = header.GetType() == dt_stream_vector;
    const std::string key = header.GetKey();
    if (labelled) {
      if (const ByteStreamBuffer* nested = owner.Find(key, dt_stream_vector)) {
        LoadItems(*nested, true, children);
      }
    } else {
      children.emplace_back(true);
      owner.GetStream(key, children.back());  // as read-only views of the owner's bytes
    }
    for (size_t i = children.size(); i-- > 0;) {  // the first child on top
      DumpFrame frame;
      frame.view = std::move(children[i]);
      frame.indent = at + 4;
      frame.label = labelled ? static_cast<int>(i) : -1;
      frame.depth = depth;
      stack.push_back(std::move(frame));
    }
  };
  pushNested(*this, record, indent, 1);
  while (!stack.empty()) {
    DumpFrame& top = stack.back();
    if (top.label >= 0) {
      Indent(top.indent - 4);
      std::printf("    ------------ [%i] ------------\n", top.label);
      top.label = -1;
    }
    if (top.next == top.view.records.size()) {
      stack.pop_back();
      continue;
    }
    const ByteStreamBuffer& next = top.view.records[top.next++];
    const int at = top.indent, depth = top.depth + 1;
    // pushNested reads `next` and its owner before it pushes, which may move `top`.
    if (PrintRecord(next, at, oneLine)) pushNested(top.view, next, at, depth);
  }
}
