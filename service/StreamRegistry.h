#pragma once

// StreamRegistry: the producer kinds the client can create, by the configuration's TYPE.
// The streams subsystem registers its kinds ("DEFAULT", "KAFKA", "CARSIM") before the first
// client is built; the client's constructor creates one object per active definition whose
// type is registered and skips the others.
//
// The table is a function-local static, built on first use, so registering from another
// file's static initialiser is safe too. Register and Create may be called from any
// thread.

#include <functional>
#include <string>

class StreamBase;
struct StreamDef;

namespace StreamRegistry {

// Builds a stream named `name` for `def` (not owned); the caller owns the result.
using Factory = std::function<StreamBase*(const std::string& name, StreamDef* def)>;

// Registers (or replaces) the factory of `type`.
void Register(const std::string& type, Factory factory);
// A new stream of `type`, or null when no kind of that exact name is registered.
StreamBase* Create(const std::string& type, const std::string& name, StreamDef* def);

}  // namespace StreamRegistry
