// The stream's routes and its configuration values: target registration, reset, and the
// readers of METADATA and of a route's INPUT.

#include <optional>

#include "foundation/LogManager.h"
#include "service/ConfigParser.h"
#include "service/SecretMask.h"
#include "service/StreamBase.h"
#include "service/TvxClient.h"

namespace {

std::string RouteName(const RouteDef& route) {
  return route.alias + "/" + route.dbName + "/" + route.tableName;
}

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }

using Lookup = StreamBase::Lookup;

// The first member named `key` of `value` (an object; anything else has no members).
Lookup FindString(const std::optional<simdjson::dom::element>& value, const std::string& key,
                  std::string& out) {
  simdjson::dom::object object;
  if (!value || value->get_object().get(object) != simdjson::SUCCESS) return Lookup::kMissing;
  for (simdjson::dom::key_value_pair field : object) {
    if (field.key != key) continue;
    std::string_view text;
    if (field.value.get_string().get(text) != simdjson::SUCCESS) return Lookup::kNotString;
    out.assign(text.data(), text.size());
    return Lookup::kFound;
  }
  return Lookup::kMissing;
}

std::string Logged(const std::string& key, const std::string& value) {
  return IsSecretKey(key) ? std::string(kMaskedValue) : value;
}

}  // namespace

int32_t StreamBase::RouteCount() const {
  return definition == nullptr ? 0 : static_cast<int32_t>(definition->routes.size());
}

void StreamBase::ExecReset(int32_t route) {
  if (route < 0 || route >= RouteCount()) return;
  const RouteDef& r = definition->routes[route];
  WSOCK->ResetTarget(r.alias, r.dbName, r.tableName);
  LogManager::Global << "Reset Target: " + RouteName(r);
}

bool StreamBase::InitTargets() {
  for (int32_t i = 0; i < RouteCount(); ++i) {
    const RouteDef& r = definition->routes[i];
    if (!WSOCK->NewTarget(r.alias, r.dbName, r.tableName, r.action, r.key)) {
      LogManager::Global << "Failed to register target: " + RouteName(r);
      return false;
    }
  }
  return true;
}

bool StreamBase::ReadMetadata(const std::string& key, std::string& out) {
  std::string value;
  switch (FindString(definition->metadata, key, value)) {
    case Lookup::kFound:
      out = value;
      LogManager::Global <<= "METADATA, " + key + ": " + Logged(key, value);
      return true;
    case Lookup::kNotString:
      LogManager::Global <<= "Invalid METADATA field " + Quoted(key);
      return false;
    case Lookup::kMissing:
      break;
  }
  LogManager::Global <<= "Missing METADATA field " + Quoted(key);
  return false;
}

StreamBase::Lookup StreamBase::FindInput(int32_t route, const std::string& key, std::string& out) const {
  if (route < 0 || route >= RouteCount()) return Lookup::kMissing;
  return FindString(definition->routes[route].input, key, out);
}

bool StreamBase::ReadInput(int32_t route, const std::string& key, std::string& out) {
  const std::string index = std::to_string(route);
  if (route < 0 || route >= RouteCount()) {
    LogManager::Global <<= "Invalid ROUTE[" + index + "]";
    return false;
  }
  std::string value;
  switch (FindString(definition->routes[route].input, key, value)) {
    case Lookup::kFound:
      out = value;
      LogManager::Global <<= "ROUTE[" + index + "], INPUT, " + key + ": " + Logged(key, value);
      return true;
    case Lookup::kNotString:
      LogManager::Global <<= "Invalid ROUTE[" + index + "], INPUT field " + Quoted(key);
      return false;
    case Lookup::kMissing:
      break;
  }
  LogManager::Global <<= "Missing ROUTE[" + index + "], INPUT field " + Quoted(key);
  return false;
}
