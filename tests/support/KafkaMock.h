#pragma once

#include <string>

#include "support/Subprocess.h"

namespace testsupport {

// Starts the Kafka mock helper (tools/kafkamock) in `mock` with one topic of `partitions`
// partitions and waits until it has created it. On success `bootstrap` holds the mock
// cluster's bootstrap address; on failure `error` says what went wrong.
bool StartKafkaMock(Subprocess& mock, const std::string& topic, int partitions, std::string* bootstrap,
                    std::string* error);

}  // namespace testsupport
