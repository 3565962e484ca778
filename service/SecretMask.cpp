#include "service/SecretMask.h"

#include <cstdio>

bool IsSecretKey(std::string_view key) { return key == "PASSWORD"; }

namespace {

// JSON string literal of `text`, escaped as the JSON library's minifier escapes it.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void AppendMasked(std::string& out, simdjson::dom::element value) {
  switch (value.type()) {
    case simdjson::dom::element_type::OBJECT: {
      out += '{';
      bool first = true;
      for (simdjson::dom::key_value_pair field : simdjson::dom::object(value)) {
        if (!first) out += ',';
        first = false;
        AppendQuoted(out, field.key);
        out += ':';
        if (IsSecretKey(field.key)) {
          AppendQuoted(out, kMaskedValue);
        } else {
          AppendMasked(out, field.value);
        }
      }
      out += '}';
      break;
    }
    case simdjson::dom::element_type::ARRAY: {
      out += '[';
      bool first = true;
      for (simdjson::dom::element item : simdjson::dom::array(value)) {
        if (!first) out += ',';
        first = false;
        AppendMasked(out, item);
      }
      out += ']';
      break;
    }
    case simdjson::dom::element_type::STRING:
      AppendQuoted(out, std::string_view(value));
      break;
    default:
      out += simdjson::minify(value);
  }
}

}  // namespace

std::string MaskedJson(simdjson::dom::element value) {
  std::string out;
  AppendMasked(out, value);
  return out;
}
