#include "support/KafkaMock.h"

#include <chrono>

namespace testsupport {

bool StartKafkaMock(Subprocess& mock, const std::string& topic, int partitions, std::string* bootstrap,
                    std::string* error) {
  using namespace std::chrono_literals;
  const std::string topicArg = topic + ":" + std::to_string(partitions);
  if (!mock.Start({TVX_BUILD_DIR "/tools/kafkamock/tvx_kafkamock", "--topic", topicArg}, error)) return false;
  std::string line;
  if (!mock.WaitForLine("bootstrap ", 10s, &line)) {
    *error = "the Kafka mock printed no bootstrap address";
    return false;
  }
  *bootstrap = line.substr(sizeof("bootstrap ") - 1);
  if (!mock.WaitForLine("ok topic " + topic, 10s)) {
    *error = "the Kafka mock did not create topic " + topic;
    return false;
  }
  return true;
}

}  // namespace testsupport
