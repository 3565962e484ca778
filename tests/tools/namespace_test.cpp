// The end-to-end harness proven without the service: commands inside private namespaces
// see the run's own fixed directories and its own stand-in on port 9002, and two runs at
// once see nothing of each other.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/Namespace.h"

namespace testsupport {
namespace {

using namespace std::chrono_literals;

const std::string kProbe = TVX_BUILD_DIR "/tools/wsprobe/tvx_wsprobe";

std::vector<std::string> Bash(const std::string& script) { return {"bash", "-c", script}; }

bool HasLine(const std::vector<std::string>& lines, const std::string& needle) {
  for (const auto& l : lines)
    if (l.find(needle) != std::string::npos) return true;
  return false;
}

TEST(NamespaceRun, FixedPathsAndPortAreTheRunsOwn) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  ASSERT_TRUE(run.WriteFile("/opt/tolvexserver/conf/apiconfig.json", "{\"servers\": \"@KAFKA_BOOTSTRAP@\"}"));
  NamespaceRun::Options options;
  options.kafka = true;
  options.kafkaArgs = {"--topic", "numbers:1"};
  std::string error;
  ASSERT_TRUE(run.Start(Bash("cat /opt/tolvexserver/conf/apiconfig.json; echo;"
                             "echo written > /var/log/tolvexserver/probe.log;"
                             "mkdir -p /var/lib/tvx-namespace-probe /opt/tvx-namespace-probe;"
                             "read go; " + kProbe + " --rows cars:3 --replies 1"),
                        options, &error))
      << error;

  std::string bootstrap = run.KafkaBootstrap();
  EXPECT_EQ(bootstrap.rfind("127.0.0.1:", 0), 0u) << bootstrap;
  std::string answer;
  EXPECT_TRUE(run.Kafka("produce numbers one", 10s, &answer)) << answer;

  ASSERT_TRUE(run.WriteStdin("go"));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 10s));
  ASSERT_TRUE(run.StandIn("reply API m1"));
  ASSERT_EQ(run.Wait(20s), 0);

  auto out = run.Process().Lines();
  EXPECT_TRUE(HasLine(out, "{\"servers\": \"" + bootstrap + "\"}"));
  EXPECT_TRUE(HasLine(out, "open compressed=true"));
  EXPECT_TRUE(HasLine(out, "reply {\"Func\":\"API\",\"MSID\":\"m1\"}"));
  EXPECT_EQ(run.ReadFile("/var/log/tolvexserver/probe.log"), "written\n");
  EXPECT_FALSE(std::filesystem::exists("/var/lib/tvx-namespace-probe"));
  EXPECT_FALSE(std::filesystem::exists("/opt/tvx-namespace-probe"));

  auto messages = run.StandInMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].compressed);
  ASSERT_TRUE(messages[0].hasTable) << messages[0].error;
  EXPECT_EQ(RowTexts(messages[0].table.rows[2]), (std::vector<std::string>{"2", "row 2"}));
  auto report = run.StandInReport();
  EXPECT_TRUE(HasLine(report, "\"path\":\"/?login=api\""));
  EXPECT_TRUE(HasLine(report, "\"event\":\"close\",\"conn\":1,\"code\":1001"));
}

TEST(NamespaceRun, ParallelRunsSeeNothingOfEachOther) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun a, b;
  a.WriteFile("/opt/tolvexserver/conf/only-a", "");
  b.WriteFile("/opt/tolvexserver/conf/only-b", "");
  auto command = [](const std::string& table) {
    return Bash("ls /opt/tolvexserver/conf; " + kProbe + " --rows " + table + ":2 && read line && echo got $line");
  };
  ASSERT_TRUE(a.Start(command("ta")));
  ASSERT_TRUE(b.Start(command("tb")));
  // Both probes are connected to a port 9002 at the same time before either run ends.
  ASSERT_TRUE(a.WaitForStandIn("\"event\":\"message\"", 10s));
  ASSERT_TRUE(b.WaitForStandIn("\"event\":\"message\"", 10s));
  a.WriteStdin("x");
  b.WriteStdin("y");
  EXPECT_EQ(a.Wait(20s), 0);
  EXPECT_EQ(b.Wait(20s), 0);

  auto outA = a.Process().Lines(), outB = b.Process().Lines();
  EXPECT_TRUE(HasLine(outA, "only-a"));
  EXPECT_FALSE(HasLine(outA, "only-b"));
  EXPECT_TRUE(HasLine(outB, "only-b"));
  EXPECT_FALSE(HasLine(outB, "only-a"));
  EXPECT_TRUE(HasLine(outA, "got x"));
  ASSERT_EQ(a.StandInMessages().size(), 1u);
  ASSERT_EQ(b.StandInMessages().size(), 1u);
  std::string table;
  EXPECT_TRUE(a.StandInMessages()[0].message.GetText("TableName", &table) && table == "ta");
  EXPECT_TRUE(b.StandInMessages()[0].message.GetText("TableName", &table) && table == "tb");
}

TEST(NamespaceRun, ExitCodesSetupAndStandInCommands) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  NamespaceRun run;
  NamespaceRun::Options options;
  options.standinArgs = {"--decline"};
  // A log directory that cannot be used: a plain file where the directory should be.
  options.setup = "umount /var/log/tolvexserver && rmdir /var/log/tolvexserver && touch /var/log/tolvexserver";
  ASSERT_TRUE(run.Start(Bash("test -f /var/log/tolvexserver || exit 3;" + kProbe + " --rows t:1; read code; exit $code"),
                        options));
  ASSERT_TRUE(run.WaitForStandIn("\"event\":\"message\"", 10s));
  EXPECT_TRUE(run.WaitForStandIn("\"deflate\":false", 1s));
  run.WriteStdin("7");
  EXPECT_EQ(run.Wait(20s), 7);
  EXPECT_FALSE(run.StandInMessages().at(0).compressed);
  EXPECT_FALSE(run.StandIn("drop"));  // the run is over: nobody reads the commands
}

TEST(NamespaceRun, DestroyingARunningRunEndsIt) {
  TVX_SKIP_WITHOUT_NAMESPACES();
  std::string stage;
  {
    NamespaceRun run;
    stage = run.Stage();
    ASSERT_TRUE(run.Start(Bash("sleep 600")));
  }
  EXPECT_FALSE(std::filesystem::exists(stage));
}

}  // namespace
}  // namespace testsupport
