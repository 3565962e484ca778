#pragma once

// End-to-end runs in private namespaces: a command (normally the service binary) runs in
// its own mount and network namespaces (tools/e2e/run-in-namespace.sh), where
// /opt/tolvexserver, /var/log/tolvexserver and /var/www/ostrel are directories of this run
// and port 9002 is the run's own stand-in data server. Runs never touch the machine's
// directories and can run in parallel. Needs root, unshare and the tools built beside
// the tests; tests call NamespaceUnavailable() first and skip with its reason.
//
//   NamespaceRun run;
//   run.WriteFile("/opt/tolvexserver/conf/apiconfig.json", config);
//   ASSERT_TRUE(run.Start({TVX_BUILD_DIR "/TolvexServerAPI"}));
//   run.WaitForStandIn("\"event\":\"message\"", 10s);
//   run.WriteStdin("q");
//   EXPECT_EQ(run.Wait(10s), 0);
//   auto logs = run.ListDir("/var/log/tolvexserver");
//
// Not thread-safe; one object per run.

#include <chrono>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "tools/standin/StandInServer.h"

namespace testsupport {

// Why end-to-end runs cannot happen here (not root, no unshare, namespaces refused), or
// an empty text when they can. Probes once per process.
std::string NamespaceUnavailable();

// Skips the current test when end-to-end runs cannot happen here.
#define TVX_SKIP_WITHOUT_NAMESPACES()                                            \
  do {                                                                           \
    std::string tvxWhyNot = ::testsupport::NamespaceUnavailable();               \
    if (!tvxWhyNot.empty()) GTEST_SKIP() << "no private namespaces: " << tvxWhyNot; \
  } while (0)

class NamespaceRun {
 public:
  struct Options {
    bool standin = true;                   // run the stand-in on 127.0.0.1:9002
    std::vector<std::string> standinArgs;  // extra tvx_standin flags, e.g. "--decline"
    bool kafka = false;                    // run the Kafka mock cluster
    std::vector<std::string> kafkaArgs;    // tvx_kafkamock flags, e.g. "--topic", "t:1"
    std::string setup;                     // bash commands run inside before the command
  };

  NamespaceRun();
  ~NamespaceRun();  // kills a run still going (and everything it started)
  NamespaceRun(const NamespaceRun&) = delete;
  NamespaceRun& operator=(const NamespaceRun&) = delete;

  // Where a path under one of the three fixed directories lives on this machine for this
  // run: "/opt/tolvexserver/conf/apiconfig.json" -> <stage>/root/opt/tolvexserver/...
  std::string HostPath(const std::string& fixedPath) const;
  // Writes a file (creating its directories) before or during the run.
  bool WriteFile(const std::string& fixedPath, const std::string& contents);
  // Contents of a file, empty when missing.
  std::string ReadFile(const std::string& fixedPath) const;
  // Names of the entries of a fixed directory, sorted.
  std::vector<std::string> ListDir(const std::string& fixedPath) const;

  // Starts `command` in the namespaces and waits until it runs (the stand-in and the mock
  // ready before it). False with `error` set when the run could not be set up.
  bool Start(const std::vector<std::string>& command, const Options& options, std::string* error = nullptr);
  bool Start(const std::vector<std::string>& command, std::string* error = nullptr) {
    return Start(command, Options(), error);
  }

  // The command's standard input and output.
  bool WriteStdin(const std::string& line) { return process_.WriteLine(line); }
  void CloseStdin() { process_.CloseStdin(); }
  Subprocess& Process() { return process_; }
  // The command's exit code, or -1 when it is still running after the time-out.
  int Wait(std::chrono::milliseconds timeout);

  // Stand-in: send a tvx_standin command ("close 1000 bye", "drop", "admit refuse", ...).
  bool StandIn(const std::string& command);
  // Its report lines so far, and a wait for one containing `needle`.
  std::vector<std::string> StandInReport() const;
  bool WaitForStandIn(const std::string& needle, std::chrono::milliseconds timeout, std::string* line = nullptr) const;
  // Every frame it received so far, decoded by the independent decoder.
  std::vector<standin::Received> StandInMessages() const;

  // Kafka mock: its bootstrap address, and a command that waits for its answer line
  // (which must start with "ok"; the line is returned through `answer`).
  std::string KafkaBootstrap() const;
  bool Kafka(const std::string& command, std::chrono::milliseconds timeout, std::string* answer = nullptr);

  const std::string& Stage() const { return stage_.Path(); }

 private:
  TempDir stage_;
  Subprocess process_;
  size_t kafkaAnswers_ = 0;
};

}  // namespace testsupport
