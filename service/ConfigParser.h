#pragma once

// ConfigParser: the service's configuration, read from one JSON file.
//
// The file is a JSON object with a "Global Config" object (WEBSOCKET_PORT,
// WEBSERVER_PROTOCOL, WEBSERVER_ADDRESS, UPDATE_RATE) and a "Stream List" array; each stream
// has NAME, TYPE, STATUS, an optional METADATA and ROUTES, each route an optional INPUT, a
// TARGET object (ALIAS, DATABASE_NAME, TABLE_NAME) and a LOGIC object (ACTION, KEY). Every
// value the reader converts or compares is a JSON string, numbers included. Keys match
// exactly; of a repeated key the first occurrence counts. Other keys are ignored.
//
// Lifetime: `metadata` and `input` refer into the parsed document owned by `parser`; they
// stay valid until the next ScanConfig or the destruction of the ConfigParser. ScanConfig
// empties the stream map before it parses again, so no stored reference outlives its
// document.
//
// Threading: scanned on the main thread before any stream thread exists, only read
// afterwards; no lock.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <simdjson.h>

class LogManager;

// One route of a stream: where its rows go and how.
struct RouteDef {
  std::optional<simdjson::dom::element> input;  // INPUT; empty when absent
  std::string alias;                            // TARGET / ALIAS
  std::string dbName;                           // TARGET / DATABASE_NAME
  std::string tableName;                        // TARGET / TABLE_NAME
  std::string action;                           // LOGIC / ACTION
  std::string key;                              // LOGIC / KEY (may be empty)
};

// One configured stream.
struct StreamDef {
  std::string name;                                // NAME
  std::string type;                                // TYPE, any text
  bool active = false;                             // STATUS is exactly "ON"
  std::optional<simdjson::dom::element> metadata;  // METADATA; empty when absent
  std::vector<RouteDef> routes;                    // ROUTES, in file order
};

class ConfigParser {
 public:
  // The process-wide configuration, scanned again by every start-up pass.
  static ConfigParser Global;

  ConfigParser();
  ConfigParser(const ConfigParser&) = delete;
  ConfigParser& operator=(const ConfigParser&) = delete;

  // Reads, checks and stores the file at `configPath`, then validates it and writes the
  // dump to the log. On the first problem it logs one message and returns false; nothing
  // is thrown for bad input. A failed scan may leave the fields partly filled.
  bool ScanConfig(const std::string& configPath);
  // Checks the stored streams: at least one, each with a route, each route's action
  // "UPSERT" or "CREATE".
  bool ValidateConfig();
  // Writes the stored configuration to the log; values of PASSWORD keys are masked.
  void DebugLog();

  std::string path;             // file last scanned
  std::string protocol;         // WEBSERVER_PROTOCOL, lower-cased
  std::string address;          // WEBSERVER_ADDRESS as written
  int32_t port = -1;            // WEBSOCKET_PORT
  uint32_t updateRate = 200;    // UPDATE_RATE, milliseconds
  std::map<std::string, StreamDef> streams;  // by NAME, in byte order of the names
  LogManager* log;              // where every message goes; LogManager::Global by default
  simdjson::dom::parser parser; // owns the document that metadata and input refer into

 private:
  bool Fail(const std::string& message);
  bool ReadGlobals(simdjson::dom::element global);
  bool ReadStream(simdjson::dom::element item, size_t i);
  bool ReadRoute(simdjson::dom::element item, const std::string& where, RouteDef& route);
  // Reads the string `key` of `object` into out; "Invalid - <scope> missing parameter: key"
  // or "Invalid - <scope> parameter: key, ERROR not a string" otherwise.
  bool ReadText(simdjson::dom::element object, const char* key, const std::string& scope, std::string& out);
};
