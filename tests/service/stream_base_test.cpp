// The stream base against a scanned configuration: the METADATA and INPUT readers with
// their log lines, target registration of every route, and resets from the console in
// route order, seen as clear frames by the independent decoder.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"

namespace {

class PlainStream : public virtual StreamBase {
 public:
  PlainStream(const std::string& name, StreamDef* def) : StreamBase(name, def) {}
  bool Init() override { return ready = InitTargets(); }
  void Run() override {}
  StreamBase* GetSelf() override { return this; }
};

std::string Route(const std::string& table, const std::string& input = "") {
  return std::string(R"({)") + (input.empty() ? "" : R"("INPUT":)" + input + ",") +
         R"("TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":")" + table +
         R"("},"LOGIC":{"ACTION":"UPSERT","KEY":"id"}})";
}

class StreamBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.tableRoot = tables.Path();
    client.frameSink = frames.Sink();
    TvxClient::Status = TvxClient::kOpen;
    WSOCK = &client;
  }
  void TearDown() override {
    WSOCK = nullptr;
    TvxClient::Status = TvxClient::kNotStarted;
  }

  // Scans a configuration of one stream "S" and returns its definition.
  StreamDef* Scan(const std::string& metadata, const std::string& routes) {
    const std::string json =
        R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
        R"("WEBSERVER_ADDRESS":"localhost","UPDATE_RATE":"100"},"Stream List":[)"
        R"({"NAME":"S","TYPE":"DEFAULT","STATUS":"ON",)" +
        (metadata.empty() ? "" : R"("METADATA":)" + metadata + ",") + R"("ROUTES":[)" + routes + "]}]}";
    std::ofstream(tables.File("apiconfig.json")) << json;
    EXPECT_TRUE(config.ScanConfig(tables.File("apiconfig.json"))) << log.Text();
    return &config.streams.at("S");
  }

  void WriteTable(const std::string& table) {
    servicetest::WriteTargetFile(tables.Path(), "al", "db", table,
                                 servicetest::Schema({"id", "v"}, {2, 6}));
  }

  // What was logged after the configuration dump.
  std::string Logged() {
    std::string all = log.Text();
    size_t at = all.rfind("KEY: ");
    at = at == std::string::npos ? 0 : all.find('\n', at);
    return at == std::string::npos ? "" : all.substr(at + 1);
  }

  testsupport::TempDir tables;
  testsupport::TempDir logDir;
  servicetest::LogCapture log{logDir.Path()};
  ConfigParser config;
  servicetest::FrameLog frames;
  TvxClient client;
};

TEST_F(StreamBaseTest, MetadataReader) {
  StreamDef* def = Scan(R"({"TOPIC":"t1","TOPIC":"t2","N":5,"PASSWORD":"s3cr3t"})", Route("a"));
  PlainStream s("S", def);
  std::string out = "unchanged";
  EXPECT_TRUE(s.ReadMetadata("TOPIC", out));
  EXPECT_EQ(out, "t1");  // the first of a repeated key
  out = "unchanged";
  EXPECT_FALSE(s.ReadMetadata("N", out));
  EXPECT_FALSE(s.ReadMetadata("topic", out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_TRUE(s.ReadMetadata("PASSWORD", out));
  EXPECT_EQ(out, "s3cr3t");

  const std::string text = Logged();
  EXPECT_NE(text.find("METADATA, TOPIC: t1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Invalid METADATA field \"N\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Missing METADATA field \"topic\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("METADATA, PASSWORD: ********\n"), std::string::npos) << text;
  EXPECT_EQ(log.Text().find("s3cr3t"), std::string::npos);
}

TEST_F(StreamBaseTest, MetadataMissingOrNotAnObject) {
  PlainStream none("S", Scan("", Route("a")));
  std::string out;
  EXPECT_FALSE(none.ReadMetadata("TOPIC", out));
  StreamDef* def = Scan(R"(["TOPIC"])", Route("a"));
  PlainStream array("S", def);
  EXPECT_FALSE(array.ReadMetadata("TOPIC", out));
  const std::string text = log.Text();
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("Missing METADATA field \"TOPIC\"", at)) != std::string::npos; ++at) {
    ++lines;
  }
  EXPECT_EQ(lines, 2u) << text;
}

TEST_F(StreamBaseTest, InputReader) {
  StreamDef* def = Scan("", Route("a", R"({"TOPIC":"orders","PASSWORD":"pw","N":1})") + "," +
                                Route("b", R"("not an object")"));
  PlainStream s("S", def);
  std::string out;
  EXPECT_TRUE(s.ReadInput(0, "TOPIC", out));
  EXPECT_EQ(out, "orders");
  EXPECT_TRUE(s.ReadInput(0, "PASSWORD", out));
  EXPECT_EQ(out, "pw");
  EXPECT_FALSE(s.ReadInput(0, "N", out));
  EXPECT_FALSE(s.ReadInput(1, "TOPIC", out));
  EXPECT_FALSE(s.ReadInput(2, "TOPIC", out));
  EXPECT_FALSE(s.ReadInput(-1, "TOPIC", out));
  EXPECT_EQ(out, "pw");

  const std::string text = Logged();
  for (const char* line : {"ROUTE[0], INPUT, TOPIC: orders\n", "ROUTE[0], INPUT, PASSWORD: ********\n",
                           "Invalid ROUTE[0], INPUT field \"N\"\n",
                           "Missing ROUTE[1], INPUT field \"TOPIC\"\n", "Invalid ROUTE[2]\n",
                           "Invalid ROUTE[-1]\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  EXPECT_EQ(log.Text().find(": pw"), std::string::npos);
}

TEST_F(StreamBaseTest, InitTargetsStopsAtTheFirstFailure) {
  WriteTable("a");
  WriteTable("c");
  PlainStream s("S", Scan("", Route("a") + "," + Route("b") + "," + Route("c")));
  EXPECT_FALSE(s.Init());
  EXPECT_FALSE(s.ready);
  EXPECT_NE(client.GetTarget("al", "db", "a"), nullptr);
  EXPECT_EQ(client.GetTarget("al", "db", "b"), nullptr);
  EXPECT_EQ(client.GetTarget("al", "db", "c"), nullptr);  // never tried
  EXPECT_NE(Logged().find("Failed to register target: al/db/b\n"), std::string::npos) << log.Text();

  WriteTable("b");
  EXPECT_TRUE(s.Init());
  EXPECT_TRUE(s.ready);
  EXPECT_EQ(client.targets.size(), 3u);
  EXPECT_EQ(client.GetTarget("al", "db", "c")->keyIndex, 0);
}

TEST_F(StreamBaseTest, ResetWordResetsEveryRouteInOrder) {
  for (const char* t : {"c", "a", "b"}) WriteTable(t);
  PlainStream s("S", Scan("", Route("c") + "," + Route("a") + "," + Route("b")));
  ASSERT_TRUE(s.Init());
  client.UpdateTarget("al", "db", "a", {"1", "x"});
  std::istringstream words("r q");
  s.consoleIn = &words;
  s.RunTerminal();
  EXPECT_TRUE(client.done);
  EXPECT_EQ(client.GetTargetFrad("al", "db", "a").NbRows, 0);

  ASSERT_EQ(frames.Count(), 3u);
  std::vector<std::string> order;
  for (size_t i = 0; i < 3; ++i) {
    std::string table, event;
    testsupport::WireContainer c = frames.Decoded(i);
    c.GetText("TableName", &table);
    c.GetText("Event", &event);
    EXPECT_EQ(event, "CLEAR");
    order.push_back(table);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"c", "a", "b"}));
  const std::string text = Logged();
  const size_t c = text.find("Reset Target: al/db/c\n"), a = text.find("Reset Target: al/db/a\n"),
               b = text.find("Reset Target: al/db/b\n");
  ASSERT_NE(b, std::string::npos) << text;
  EXPECT_LT(c, a);
  EXPECT_LT(a, b);

  s.ExecReset(3);  // outside the routes: nothing
  s.ExecReset(-1);
  EXPECT_EQ(frames.Count(), 3u);
}

}  // namespace
