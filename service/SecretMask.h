#pragma once

// Configuration values that must never reach the log (a Kafka password, for instance), and
// the masked form in which the log shows them instead.

#include <string>
#include <string_view>

#include <simdjson.h>

// True for the keys whose values are secret: "PASSWORD".
bool IsSecretKey(std::string_view key);

// What the log shows in place of a secret value.
inline constexpr char kMaskedValue[] = "********";

// Minified JSON text of `value` in which the value of every object member with a secret
// key, at any depth, is replaced by the string kMaskedValue.
std::string MaskedJson(simdjson::dom::element value);
