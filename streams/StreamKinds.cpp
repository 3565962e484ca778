#include "streams/StreamKinds.h"

#include "service/StreamRegistry.h"
#include "streams/CarSimStream.h"
#include "streams/DefaultStream.h"
#include "streams/KafkaStream.h"

namespace {

template <typename Stream>
StreamRegistry::Factory FactoryOf() {
  return [](const std::string& name, StreamDef* def) -> StreamBase* { return new Stream(name, def); };
}

}  // namespace

void RegisterStreamKinds() {
  StreamRegistry::Register("DEFAULT", FactoryOf<DefaultStream>());
  StreamRegistry::Register("KAFKA", FactoryOf<KafkaStream>());
  StreamRegistry::Register("CARSIM", FactoryOf<CarSimStream>());
}
