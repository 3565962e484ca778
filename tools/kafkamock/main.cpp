// tvx_kafkamock: hosts librdkafka's mock cluster in its own process for tests and the demo.
//
// Usage: tvx_kafkamock [--brokers N] [--topic NAME:PARTITIONS]... [--produce TOPIC:FILE]...
//                      [--commit GROUP:TOPIC]... [--die-with-parent]
// The options run in that order (topics, then files, then commits). The first line on
// standard output is "bootstrap <servers>"; then every command read from standard input,
// one per line, answers one line starting with "ok" or "error":
//   topic NAME PARTITIONS
//   produce TOPIC MESSAGE             one message: the rest of the line
//   produce-file TOPIC PATH           one message per line of the file
//   produce-lines TOPIC N             the next N lines of standard input, one message each
//   down BROKER | up BROKER           take a broker down or up (-1: all)
//   commit GROUP TOPIC                commit offset 0 of every partition for the group
//   sync                              answers "ok sync": everything before it is done
//   quit
// Messages go to the topic's partitions in turn. A produce answers "error" when the mock
// cluster has dropped old messages of the topic (it keeps about 5 MB per partition).
// The cluster runs until "quit" or the end of standard input.

#include <signal.h>
#include <sys/prctl.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kafkamock/MockHost.h"

namespace {

constexpr int kDeliveryTimeoutMs = 30000;

void Answer(bool ok, const std::string& what, const std::string& error) {
  std::cout << (ok ? "ok " + what : "error " + what + ": " + error) << std::endl;
}

bool ReadLines(std::istream& in, int count, std::vector<std::string>* out) {
  std::string line;
  for (int i = 0; (count < 0 || i < count) && std::getline(in, line); ++i) out->push_back(line);
  return count < 0 || static_cast<int>(out->size()) == count;
}

void Produce(kafkamock::MockHost& host, const std::string& topic, const std::vector<std::string>& messages) {
  std::string error;
  int n = host.Produce(topic, -1, messages, kDeliveryTimeoutMs, &error);
  Answer(n == static_cast<int>(messages.size()), "produced " + std::to_string(n) + " " + topic, error);
}

void ProduceFile(kafkamock::MockHost& host, const std::string& topic, const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> messages;
  if (!file) return Answer(false, "produce-file " + path, "cannot open");
  ReadLines(file, -1, &messages);
  Produce(host, topic, messages);
}

// Splits "A:B" at its last colon.
bool SplitPair(const std::string& arg, std::string* a, std::string* b) {
  size_t colon = arg.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == arg.size()) return false;
  *a = arg.substr(0, colon);
  *b = arg.substr(colon + 1);
  return true;
}

// Runs one command; false on "quit".
bool Execute(kafkamock::MockHost& host, const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b, error;
  in >> cmd;
  if (cmd == "quit") return false;
  if (cmd.empty()) return true;
  if (cmd == "sync") {
    Answer(true, "sync", "");
    return true;
  }
  if (cmd == "topic" && in >> a >> b) {
    Answer(host.CreateTopic(a, std::atoi(b.c_str()), &error), "topic " + a, error);
  } else if (cmd == "produce" && in >> a) {
    std::getline(in >> std::ws, b);
    Produce(host, a, {b});
  } else if (cmd == "produce-file" && in >> a >> b) {
    ProduceFile(host, a, b);
  } else if (cmd == "produce-lines" && in >> a >> b) {
    std::vector<std::string> messages;
    if (!ReadLines(std::cin, std::atoi(b.c_str()), &messages)) Answer(false, "produce-lines", "input ended");
    else Produce(host, a, messages);
  } else if ((cmd == "down" || cmd == "up") && in >> a) {
    Answer(host.SetBrokerUp(std::atoi(a.c_str()), cmd == "up", &error), cmd + " " + a, error);
  } else if (cmd == "commit" && in >> a >> b) {
    Answer(host.CommitStart(a, b, &error), "commit " + a + " " + b, error);
  } else {
    Answer(false, "unknown command", line);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int brokers = 1;
  std::vector<std::string> topics, files, commits;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--die-with-parent") {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      continue;
    }
    std::string value = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--brokers" && !value.empty()) brokers = std::atoi(value.c_str());
    else if (arg == "--topic" && !value.empty()) topics.push_back(value);
    else if (arg == "--produce" && !value.empty()) files.push_back(value);
    else if (arg == "--commit" && !value.empty()) commits.push_back(value);
    else {
      std::cerr << "usage: tvx_kafkamock [--brokers N] [--topic NAME:PARTITIONS]... [--produce TOPIC:FILE]..."
                   " [--commit GROUP:TOPIC]... [--die-with-parent]\n";
      return 2;
    }
    ++i;
  }

  kafkamock::MockHost host;
  std::string error;
  if (brokers < 1 || !host.Start(brokers, &error)) {
    std::cerr << "tvx_kafkamock: " << (brokers < 1 ? "need at least one broker" : error) << "\n";
    return 1;
  }
  std::cout << "bootstrap " << host.Bootstrap() << std::endl;

  std::string a, b;
  for (const auto& t : topics)
    if (SplitPair(t, &a, &b)) Execute(host, "topic " + a + " " + b);
  for (const auto& f : files)
    if (SplitPair(f, &a, &b)) ProduceFile(host, a, b);
  for (const auto& c : commits)
    if (SplitPair(c, &a, &b)) Execute(host, "commit " + a + " " + b);

  std::string line;
  while (std::getline(std::cin, line))
    if (!Execute(host, line)) break;
  return 0;
}
