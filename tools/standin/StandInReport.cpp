#include "tools/standin/StandInReport.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace standin {

using testsupport::WireCell;
using testsupport::WireContainer;
using testsupport::WireNumber;
using testsupport::WireRecord;
using testsupport::WireTable;
namespace wire = testsupport::wire;

namespace {

template <typename T>
std::string JsonFloat(T v) {
  if (!std::isfinite(v)) return JsonString(std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity"));
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string NumberJson(const WireNumber& n) {
  if (auto i = std::get_if<int64_t>(&n)) return std::to_string(*i);
  if (auto u = std::get_if<uint64_t>(&n)) return std::to_string(*u);
  return JsonFloat(std::get<double>(n));
}

std::string CellJson(const WireCell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return "null";
  if (auto i = std::get_if<int64_t>(&cell)) return std::to_string(*i);
  if (auto f = std::get_if<float>(&cell)) return JsonFloat(*f);
  if (auto d = std::get_if<double>(&cell)) return JsonFloat(*d);
  return JsonString(std::get<std::string>(cell));
}

template <typename T, typename F>
std::string Array(const std::vector<T>& items, F each) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ",";
    out += each(items[i]);
  }
  return out + "]";
}

std::string BufferJson(const std::string& bytes) { return "{\"buffer\":" + std::to_string(bytes.size()) + "}"; }

std::string ValueJson(const WireRecord& r) {
  uint8_t t = r.type;
  if (t >= wire::kInt8 && t <= wire::kDouble) return NumberJson(r.numbers[0]);
  if (t == wire::kString) return JsonString(r.texts[0]);
  if (t == wire::kBuffer) return BufferJson(r.texts[0]);
  if (t == wire::kStream) return ContainerJson(r.containers[0]);
  if (t == wire::kStringVector) return Array(r.texts, JsonString);
  if (t == wire::kBufferVector) return Array(r.texts, BufferJson);
  if (t == wire::kStreamVector) return Array(r.containers, ContainerJson);
  if (t == wire::kStringVector2D)
    return Array(r.textRows, [](const std::vector<std::string>& row) { return Array(row, JsonString); });
  if (!r.numberRows.empty() || (t >= wire::kInt8Vector2D && t <= wire::kDoubleVector2D))
    return Array(r.numberRows, [](const std::vector<WireNumber>& row) { return Array(row, NumberJson); });
  if (t >= wire::kInt8Vector && t <= wire::kDoubleVector) return Array(r.numbers, NumberJson);
  return "{\"type\":" + std::to_string(t) + ",\"bytes\":" + std::to_string(r.raw.size()) + "}";
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string ContainerJson(const WireContainer& container) {
  std::string out = "{";
  for (size_t i = 0; i < container.records.size(); ++i) {
    if (i) out += ",";
    out += JsonString(container.records[i].key) + ":" + ValueJson(container.records[i]);
  }
  return out + "}";
}

std::string TableJson(const WireTable& t) {
  std::string out = "{\"name\":" + JsonString(t.name) + ",\"columns\":" + Array(t.colNames, JsonString) +
                    ",\"types\":" + Array(t.colTypes, [](int32_t v) { return std::to_string(v); });
  if (t.viewStart >= 0) out += ",\"viewStart\":" + std::to_string(t.viewStart);
  return out + ",\"rows\":" +
         Array(t.rows, [](const std::vector<WireCell>& row) { return Array(row, CellJson); }) + "}";
}

std::string EventLine(std::string_view event, const std::string& fields) {
  return "{\"event\":" + JsonString(event) + fields + "}";
}

std::string HandshakeLine(const Handshake& h) {
  return EventLine("handshake", ",\"conn\":" + std::to_string(h.connection) + ",\"path\":" + JsonString(h.path) +
                                    ",\"extensions\":" + JsonString(h.offeredExtensions) +
                                    ",\"deflate\":" + (h.deflate ? "true" : "false"));
}

std::string MessageLine(const Received& m) {
  std::string fields = ",\"conn\":" + std::to_string(m.connection) + ",\"seq\":" + std::to_string(m.seq) +
                       ",\"compressed\":" + (m.compressed ? "true" : "false") +
                       ",\"binary\":" + (m.binary ? "true" : "false") +
                       ",\"bytes\":" + std::to_string(m.payload.size());
  if (!m.decoded) return EventLine("bad-message", fields + ",\"error\":" + JsonString(m.error));
  fields += ",\"message\":" + ContainerJson(m.message);
  if (m.hasTable) fields += ",\"table\":" + TableJson(m.table);
  else if (!m.error.empty()) fields += ",\"error\":" + JsonString(m.error);
  return EventLine("message", fields);
}

std::string CloseLine(const Closed& c) {
  return EventLine("close", ",\"conn\":" + std::to_string(c.connection) + ",\"code\":" + std::to_string(c.remoteCode) +
                                ",\"reason\":" + JsonString(c.remoteReason));
}

}  // namespace standin
