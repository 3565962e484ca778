#pragma once

// The stand-in's report: one JSON object per line, one line per event, so that scripts
// and tests can grep it. Every line has "event"; the others:
//   {"event":"listening","port":9002}
//   {"event":"handshake","conn":1,"path":"/?login=api","extensions":"...","deflate":true}
//   {"event":"open","conn":1}
//   {"event":"message","conn":1,"seq":1,"compressed":true,"bytes":412,
//    "message":{"Func":"API",...,"Data":{...}},"table":{"name":"t","columns":["a"],
//    "types":[6],"rows":[["x"]]}}
//   {"event":"bad-message","conn":1,"seq":2,"bytes":3,"error":"..."}
//   {"event":"close","conn":1,"code":1001,"reason":""}
//   {"event":"sent","conns":1,"bytes":30}   (and "closing", "dropped", "admission", ...)
//   {"event":"reading","conns":1,"paused":true}
//   {"event":"heartbeat","ms":100,"first":1}   (ms 0: stopped)
//   {"event":"pongs","mode":"fixed","payload":"x"}   (or "mode":"echo")
// Texts are JSON strings (control bytes escaped, other bytes as they are); buffers show as
// {"buffer":<length>}; NaN and infinities as strings; null cells as null.

#include <string>
#include <string_view>

#include "support/WireDecoder.h"
#include "tools/standin/StandInServer.h"

namespace standin {

std::string JsonString(std::string_view text);
std::string ContainerJson(const testsupport::WireContainer& container);
std::string TableJson(const testsupport::WireTable& table);

std::string HandshakeLine(const Handshake& handshake);
std::string MessageLine(const Received& message);
std::string CloseLine(const Closed& closed);
// {"event":<event>} plus `fields` (already JSON, starting with a comma, or empty).
std::string EventLine(std::string_view event, const std::string& fields = "");

}  // namespace standin
