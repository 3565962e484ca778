#include "service/ConfigParser.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "foundation/FileAccess.h"
#include "foundation/LogManager.h"
#include "foundation/StringLib.h"
#include "service/SecretMask.h"

ConfigParser ConfigParser::Global;

namespace {

using simdjson::dom::element;

// A port text is a decimal integer in 0..2^31-1. Never throws: anything else is refused
// with the configuration's own message.
enum class PortText { kValid, kNotInteger, kInvalid };

PortText ParsePort(const std::string& text, int32_t& port) {
  if (!SLib::STR_IsInt(text)) return PortText::kNotInteger;
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  const char* last = text.data() + text.size();
  long long value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  if (end != last) return PortText::kNotInteger;  // a zero byte inside the text
  if (error != std::errc() || value < 0 || value > std::numeric_limits<int32_t>::max()) {
    return PortText::kInvalid;
  }
  port = static_cast<int32_t>(value);
  return PortText::kValid;
}

// As the C library reads an unsigned decimal: leading blanks, a sign (minus negates modulo
// 2^64), digits up to the first other character, none giving 0.
uint32_t ParseRate(const std::string& text) {
  return static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 10));
}

std::string Json(const std::optional<element>& value) { return value ? MaskedJson(*value) : std::string(); }

}  // namespace

ConfigParser::ConfigParser() : log(&LogManager::Global) {}

bool ConfigParser::Fail(const std::string& message) {
  *log += message;
  *log += "\n";
  return false;
}

bool ConfigParser::ReadText(element object, const char* key, const std::string& scope, std::string& out) {
  element value;
  if (!object.is_object() || object.get_object().at_key(key).get(value)) {
    return Fail("Invalid - " + scope + " missing parameter: " + key);
  }
  std::string_view text;
  if (value.get_string().get(text)) {
    return Fail("Invalid - " + scope + " parameter: " + key + ", ERROR not a string");
  }
  out.assign(text);
  return true;
}

bool ConfigParser::ScanConfig(const std::string& configPath) {
  *log << "Scanning Config";
  path = configPath;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return Fail("Unable to Locate Config File: " + path);
  *log += "Found Config File: " + path;
  *log += "\n";

  // The old streams refer into the document that parsing replaces.
  streams.clear();
  // Read as a regular file only: the parser's own load would wait forever on a FIFO.
  AppCore::CharBuffer text;
  element root;
  if (!AppCore::ReadWholeFile(path, text) || text.size == 0 || parser.parse(text.data, text.size).get(root)) {
    return Fail("Invalid JSON in file: " + path);
  }
  element global, list;
  if (!root.is_object() || root.get_object().at_key("Global Config").get(global)) {
    return Fail("Invalid config file, missing \"Global Config\" section");
  }
  if (!global.is_object()) return Fail("Invalid config file - did not find \"Global Config\" Dictionary");
  if (root.get_object().at_key("Stream List").get(list)) {
    return Fail(" Invalid config file, missing \"Stream List\" section");
  }
  if (!list.is_array()) return Fail(" Invalid config file - did not find Stream List array");
  if (!ReadGlobals(global)) return false;

  simdjson::dom::array items = list.get_array().value_unsafe();
  size_t i = 0;
  for (element item : items) {
    if (!ReadStream(item, i++)) return false;
  }
  if (!ValidateConfig()) return false;
  DebugLog();
  return true;
}

bool ConfigParser::ReadGlobals(element global) {
  const std::string scope = "Global Config";
  std::string portText, rateText;
  if (!ReadText(global, "WEBSOCKET_PORT", scope, portText)) return false;
  switch (ParsePort(portText, port)) {
    case PortText::kNotInteger:
      return Fail("Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: " + portText);
    case PortText::kInvalid:
      return Fail("Global Config parameter: WEBSOCKET_PORT, ERROR port is invalid: " + portText);
    case PortText::kValid:
      break;
  }
  if (!ReadText(global, "WEBSERVER_PROTOCOL", scope, protocol)) return false;
  SLib::STR_ToLower(protocol);
  if (!ReadText(global, "WEBSERVER_ADDRESS", scope, address)) return false;
  if (!ReadText(global, "UPDATE_RATE", scope, rateText)) return false;
  updateRate = ParseRate(rateText);
  return true;
}

bool ConfigParser::ReadStream(element item, size_t i) {
  const std::string scope = "Stream[" + std::to_string(i) + "]";
  if (!item.is_object()) return Fail(" Invalid config structure - " + scope);
  StreamDef def;
  if (!ReadText(item, "NAME", scope, def.name)) return false;
  if (streams.count(def.name)) return Fail("Invalid config stream - duplicate name: " + def.name);
  std::string status;
  if (!ReadText(item, "TYPE", scope, def.type) || !ReadText(item, "STATUS", scope, status)) return false;
  def.active = status == "ON";

  simdjson::dom::object fields = item.get_object().value_unsafe();
  element value;
  if (!fields.at_key("METADATA").get(value)) def.metadata = value;
  if (fields.at_key("ROUTES").get(value)) return Fail("Invalid - " + scope + " missing ROUTES");
  if (!value.is_array()) return Fail("Invalid - " + scope + " - did not find ROUTES array");
  simdjson::dom::array routeItems = value.get_array().value_unsafe();
  size_t j = 0;
  for (element routeItem : routeItems) {
    RouteDef route;
    if (!ReadRoute(routeItem, scope + ", ROUTES[" + std::to_string(j++) + "]", route)) return false;
    def.routes.push_back(std::move(route));
  }
  std::string name = def.name;
  streams.emplace(std::move(name), std::move(def));
  return true;
}

bool ConfigParser::ReadRoute(element item, const std::string& where, RouteDef& route) {
  if (!item.is_object()) return Fail("Invalid config structure - " + where);
  simdjson::dom::object fields = item.get_object().value_unsafe();
  element value;
  if (!fields.at_key("INPUT").get(value)) route.input = value;
  element target, logic;
  if (fields.at_key("TARGET").get(target)) return Fail("Invalid - " + where + " missing TARGET");
  if (!ReadText(target, "ALIAS", where + ", TARGET", route.alias) ||
      !ReadText(target, "DATABASE_NAME", where + ", TARGET", route.dbName) ||
      !ReadText(target, "TABLE_NAME", where + ", TARGET", route.tableName)) {
    return false;
  }
  if (fields.at_key("LOGIC").get(logic)) return Fail("Invalid - " + where + " missing LOGIC");
  return ReadText(logic, "ACTION", where + ", LOGIC", route.action) &&
         ReadText(logic, "KEY", where + ", LOGIC", route.key);
}

bool ConfigParser::ValidateConfig() {
  if (streams.empty()) return Fail(" Invalid config file, at least 1 Stream definition required");
  for (const auto& [name, def] : streams) {
    if (def.routes.empty()) {
      return Fail(" Invalid config file, at least 1 Instruction definition per Stream required");
    }
    for (size_t j = 0; j < def.routes.size(); ++j) {
      const std::string& action = def.routes[j].action;
      const std::string where = name + ", ROUTE[" + std::to_string(j) + "]";
      if (action.empty()) return Fail(" Missing ACTION for " + where);
      if (action != "UPSERT" && action != "CREATE") {
        return Fail(" Invalid ACTION for " + where + ", LOGIC, ACTION: " + action);
      }
    }
  }
  return true;
}

void ConfigParser::DebugLog() {
  LogManager& out = *log;
  out += log->HeaderDivider("Global Config", 80, '-') + "\n";
  out += " GCD.WEBSERVER_PROTOCOL: " + protocol + "\n";
  out += " GCD.WEBSERVER_ADDRESS: " + address + "\n";
  out += " GCD.WEBSOCKET_PORT: " + std::to_string(port) + "\n";
  out += " GCD.UPDATE_RATE: " + std::to_string(updateRate) + "\n";
  out += log->HeaderDivider("Stream List", 80, '-') + "\n";
  size_t n = 0;
  for (const auto& [name, def] : streams) {
    out += " Stream [" + std::to_string(n++) + "]:\n";
    out += "   NAME: " + name + "\n";
    out += "   TYPE: " + def.type + "\n";
    out += "   METADATA: " + Json(def.metadata) + "\n";
    for (size_t r = 0; r < def.routes.size(); ++r) {
      const RouteDef& route = def.routes[r];
      out += "   ROUTES[" + std::to_string(r) + "]:\n";
      out += "     INPUT: " + Json(route.input) + "\n";
      out += "     TARGET:\n";
      out += "       ALIAS: " + route.alias + "\n";
      out += "       DATABASE_NAME: " + route.dbName + "\n";
      out += "       TABLE_NAME: " + route.tableName + "\n";
      out += "     LOGIC:\n";
      out += "       ACTION: " + route.action + "\n";
      out += "       KEY: " + route.key + "\n";
    }
  }
}
