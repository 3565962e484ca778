#pragma once

// The service's fixed places: where it reads its configuration, keeps its data, writes its
// log, finds the data server's table files, and how it reaches the data server. The binary
// always uses these; components take their roots as arguments so that tests can point them
// at temporary directories instead.

#include <cstdint>

namespace FixedPaths {

inline constexpr char kConfigDir[] = "/opt/tolvexserver/conf/";
inline constexpr char kConfigFileName[] = "apiconfig.json";
// kConfigDir followed by kConfigFileName.
inline constexpr char kConfigFile[] = "/opt/tolvexserver/conf/apiconfig.json";
inline constexpr char kDataDir[] = "/opt/tolvexserver/data/";
inline constexpr char kLogDir[] = "/var/log/tolvexserver/";
// Root of the data server's own table files ("OSTREL.<alias>/<database>/<table>.ostrel").
inline constexpr char kLiveDir[] = "/var/www/ostrel/live";

// The data server's WebSocket endpoint: the loopback host, whatever the configuration says.
inline constexpr char kServerHost[] = "localhost";
inline constexpr int32_t kServerPort = 9002;
inline constexpr char kServerPath[] = "/?login=api";

}  // namespace FixedPaths
