// TolvexServerAPI: the service. It takes no options; the program path is only logged.
// Everything runs from the fixed places of service/FixedPaths.h.

#include "service/Startup.h"
#include "streams/StreamKinds.h"

int main(int argc, char** argv) {
  const std::string programPath = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  RegisterStreamKinds();
  return Startup::Run(programPath, Startup::Options());
}
