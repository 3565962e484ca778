#include "service/ConfigParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "foundation/LogManager.h"

namespace {

using testsupport::TempDir;

const std::string kGlobals =
    R"("WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"WS","WEBSERVER_ADDRESS":"Local.Host","UPDATE_RATE":"250")";
const std::string kRoute =
    R"({"TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"tb"},"LOGIC":{"ACTION":"UPSERT","KEY":"id"}})";

std::string Stream(const std::string& name, const std::string& routes = kRoute) {
  return R"({"NAME":")" + name + R"(","TYPE":"DEFAULT","STATUS":"ON","ROUTES":[)" + routes + "]}";
}

std::string Doc(const std::string& globals, const std::string& streams) {
  return R"({"Global Config":{)" + globals + R"(},"Stream List":[)" + streams + "]}";
}

const std::string kValid = Doc(kGlobals, Stream("A"));

// `text` with its first `from` replaced by `to`; the case fails if `from` is absent.
std::string With(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A configuration file and a log of its own in a temporary directory.
class ConfigFixture : public testing::Test {
 protected:
  ConfigFixture() {
    testing::internal::CaptureStdout();  // the log reports its opening there
    log.Init(dir.Path(), "test.log", 'w');
    testing::internal::GetCapturedStdout();
    config.log = &log;
  }

  std::string Write(const std::string& json) {
    std::ofstream(dir.File("apiconfig.json"), std::ios::binary) << json;
    return dir.File("apiconfig.json");
  }

  // Everything the scan logged after its time-stamped "Scanning Config" line.
  std::string Logged() {
    std::string all = log.GetLogString();
    size_t first = all.find("] Scanning Config\n");
    EXPECT_NE(first, std::string::npos) << all;
    return first == std::string::npos ? all : all.substr(first + 18);
  }

  TempDir dir;
  LogManager log;
  ConfigParser config;
};

struct BadCase {
  const char* what;
  std::string json;
  std::string message;
};

// In the order of the checks; each configuration breaks one rule (some break a later one
// too, which must not be the one reported).
std::vector<BadCase> BadCases() {
  const std::string gc = "Invalid - Global Config ";
  const std::string p = "Invalid - Stream[0], ROUTES[0]";
  return {
      {"not json", "{\"Global Config\":", "Invalid JSON in file: "},
      {"empty file", "", "Invalid JSON in file: "},
      {"root array", "[]", "Invalid config file, missing \"Global Config\" section"},
      {"no globals", R"({"Stream List":[]})", "Invalid config file, missing \"Global Config\" section"},
      {"globals array", R"({"Global Config":[],"Stream List":[]})",
       "Invalid config file - did not find \"Global Config\" Dictionary"},
      {"no stream list", R"({"Global Config":{}})", " Invalid config file, missing \"Stream List\" section"},
      {"stream list object", R"({"Global Config":{},"Stream List":{}})",
       " Invalid config file - did not find Stream List array"},
      {"port missing", With(kValid, R"("WEBSOCKET_PORT":"9002",)", ""), gc + "missing parameter: WEBSOCKET_PORT"},
      {"port number", With(kValid, R"("9002")", "9002"), gc + "parameter: WEBSOCKET_PORT, ERROR not a string"},
      {"port letter", With(kValid, R"("9002")", R"("90a2")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: 90a2"},
      {"port lone plus", With(kValid, R"("9002")", R"("+")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: +"},
      {"port lone minus", With(kValid, R"("9002")", R"("-")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: -"},
      {"port empty", With(kValid, R"("9002")", R"("")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: "},
      {"port blank", With(kValid, R"("9002")", R"(" 80")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer:  80"},
      {"port zero byte", With(kValid, R"("9002")", R"("90\u00002")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: " + std::string("90\0" "2", 4)},
      {"port negative", With(kValid, R"("9002")", R"("-1")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is invalid: -1"},
      {"port past 32 bits", With(kValid, R"("9002")", R"("2147483648")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is invalid: 2147483648"},
      {"port past 64 bits", With(kValid, R"("9002")", R"("99999999999999999999999")"),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is invalid: 99999999999999999999999"},
      {"port checked before later keys", With(With(kValid, R"("9002")", R"("x")"), R"(,"UPDATE_RATE":"250")", ""),
       "Global Config parameter: WEBSOCKET_PORT, ERROR port is not a integer: x"},
      {"protocol missing", With(kValid, R"("WEBSERVER_PROTOCOL":"WS",)", ""),
       gc + "missing parameter: WEBSERVER_PROTOCOL"},
      {"protocol null", With(kValid, R"("WS")", "null"), gc + "parameter: WEBSERVER_PROTOCOL, ERROR not a string"},
      {"address missing", With(kValid, R"("WEBSERVER_ADDRESS":"Local.Host",)", ""),
       gc + "missing parameter: WEBSERVER_ADDRESS"},
      {"address object", With(kValid, R"("Local.Host")", "{}"),
       gc + "parameter: WEBSERVER_ADDRESS, ERROR not a string"},
      {"rate missing", With(kValid, R"(,"UPDATE_RATE":"250")", ""), gc + "missing parameter: UPDATE_RATE"},
      {"rate number", With(kValid, R"("250")", "250"), gc + "parameter: UPDATE_RATE, ERROR not a string"},
      {"stream not object", Doc(kGlobals, "7"), " Invalid config structure - Stream[0]"},
      {"name missing", With(kValid, R"("NAME":"A",)", ""), "Invalid - Stream[0] missing parameter: NAME"},
      {"name array", With(kValid, R"("A")", "[]"), "Invalid - Stream[0] parameter: NAME, ERROR not a string"},
      {"duplicate before type", Doc(kGlobals, Stream("B") + "," + Stream("A") + R"(,{"NAME":"A"})"),
       "Invalid config stream - duplicate name: A"},
      {"type missing", With(kValid, R"("TYPE":"DEFAULT",)", ""), "Invalid - Stream[0] missing parameter: TYPE"},
      {"type true", With(kValid, R"("DEFAULT")", "true"), "Invalid - Stream[0] parameter: TYPE, ERROR not a string"},
      {"status missing", With(kValid, R"("STATUS":"ON",)", ""), "Invalid - Stream[0] missing parameter: STATUS"},
      {"status number", With(kValid, R"("ON")", "1"), "Invalid - Stream[0] parameter: STATUS, ERROR not a string"},
      {"routes missing", With(kValid, R"(,"ROUTES":[)" + kRoute + "]", ""), "Invalid - Stream[0] missing ROUTES"},
      {"routes object", With(kValid, "[" + kRoute + "]", kRoute), "Invalid - Stream[0] - did not find ROUTES array"},
      {"route not object", Doc(kGlobals, Stream("A", "\"x\"")), "Invalid config structure - Stream[0], ROUTES[0]"},
      {"target missing", With(kValid, R"("TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"tb"},)", ""),
       p + " missing TARGET"},
      {"target not object", With(kValid, R"({"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"tb"})", "3"),
       p + ", TARGET missing parameter: ALIAS"},
      {"alias missing", With(kValid, R"("ALIAS":"al",)", ""), p + ", TARGET missing parameter: ALIAS"},
      {"alias number", With(kValid, R"("al")", "1"), p + ", TARGET parameter: ALIAS, ERROR not a string"},
      {"database missing", With(kValid, R"("DATABASE_NAME":"db",)", ""),
       p + ", TARGET missing parameter: DATABASE_NAME"},
      {"database number", With(kValid, R"("db")", "1"), p + ", TARGET parameter: DATABASE_NAME, ERROR not a string"},
      {"table missing", With(kValid, R"(,"TABLE_NAME":"tb")", ""), p + ", TARGET missing parameter: TABLE_NAME"},
      {"table number", With(kValid, R"("tb")", "1"), p + ", TARGET parameter: TABLE_NAME, ERROR not a string"},
      {"logic missing", With(kValid, R"(,"LOGIC":{"ACTION":"UPSERT","KEY":"id"})", ""), p + " missing LOGIC"},
      {"logic array", With(kValid, R"({"ACTION":"UPSERT","KEY":"id"})", "[]"), p + ", LOGIC missing parameter: ACTION"},
      {"action missing", With(kValid, R"("ACTION":"UPSERT",)", ""), p + ", LOGIC missing parameter: ACTION"},
      {"action number", With(kValid, R"("UPSERT")", "1"), p + ", LOGIC parameter: ACTION, ERROR not a string"},
      {"key missing", With(kValid, R"(,"KEY":"id")", ""), p + ", LOGIC missing parameter: KEY"},
      {"key number", With(kValid, R"("id")", "1"), p + ", LOGIC parameter: KEY, ERROR not a string"},
      {"third stream second route", Doc(kGlobals, Stream("A") + "," + Stream("B") + "," +
                                                      Stream("C", kRoute + "," + With(kRoute, R"("tb")", "0"))),
       "Invalid - Stream[2], ROUTES[1], TARGET parameter: TABLE_NAME, ERROR not a string"},
      {"no stream", Doc(kGlobals, ""), " Invalid config file, at least 1 Stream definition required"},
      {"no route", Doc(kGlobals, Stream("A", "")),
       " Invalid config file, at least 1 Instruction definition per Stream required"},
      {"routes checked in name order", Doc(kGlobals, Stream("B", With(kRoute, "UPSERT", "")) + "," + Stream("A", "")),
       " Invalid config file, at least 1 Instruction definition per Stream required"},
      {"empty action", Doc(kGlobals, Stream("A", kRoute + "," + With(kRoute, "UPSERT", ""))),
       " Missing ACTION for A, ROUTE[1]"},
      {"lower-case action", With(kValid, "UPSERT", "upsert"), " Invalid ACTION for A, ROUTE[0], LOGIC, ACTION: upsert"},
      {"untrimmed action", With(kValid, "UPSERT", " CREATE"),
       " Invalid ACTION for A, ROUTE[0], LOGIC, ACTION:  CREATE"},
  };
}

TEST_F(ConfigFixture, EachBrokenRuleGivesItsOwnMessage) {
  for (const BadCase& c : BadCases()) {
    std::string path = Write(c.json);
    std::string expected = "Found Config File: " + path + "\n" + c.message;
    if (c.message.rfind("Invalid JSON in file: ", 0) == 0) expected += path;
    size_t before = log.GetLogString().size();
    EXPECT_FALSE(config.ScanConfig(path)) << c.what;
    std::string logged = log.GetLogString().substr(before);
    size_t at = logged.find("] Scanning Config\n");
    ASSERT_NE(at, std::string::npos) << c.what;
    EXPECT_EQ(logged.substr(at + 18), expected + "\n") << c.what;
  }
}

TEST_F(ConfigFixture, MissingFileIsNamed) {
  std::string path = dir.File("absent.json");
  EXPECT_FALSE(config.ScanConfig(path));
  EXPECT_EQ(Logged(), "Unable to Locate Config File: " + path + "\n");
}

TEST_F(ConfigFixture, ValuesAreStoredAsTheServiceReadsThem) {
  struct RateCase {
    const char* text;
    uint32_t rate;
  } rates[] = {{"abc", 0}, {"  150", 150}, {"10ms", 10}, {"+7", 7}, {"-1", 4294967295u},
               {"4294967296", 0}, {"99999999999999999999999", 4294967295u}};
  for (const RateCase& r : rates) {
    ASSERT_TRUE(config.ScanConfig(Write(With(kValid, R"("250")", std::string("\"") + r.text + "\""))));
    EXPECT_EQ(config.updateRate, r.rate) << r.text;
  }
  ASSERT_TRUE(config.ScanConfig(Write(With(kValid, R"("9002")", R"("+2147483647")"))));
  EXPECT_EQ(config.port, 2147483647);
  ASSERT_TRUE(config.ScanConfig(Write(With(kValid, R"("STATUS":"ON")", R"("STATUS":"on")"))));
  EXPECT_EQ(config.port, 9002);
  EXPECT_EQ(config.protocol, "ws");
  EXPECT_EQ(config.address, "Local.Host");
  ASSERT_EQ(config.streams.size(), 1u);
  const StreamDef& a = config.streams.at("A");
  EXPECT_FALSE(a.active);
  EXPECT_FALSE(a.metadata.has_value());
  ASSERT_EQ(a.routes.size(), 1u);
  const RouteDef& route = a.routes[0];
  EXPECT_FALSE(route.input.has_value());
  EXPECT_EQ(route.alias + "/" + route.dbName + "/" + route.tableName, "al/db/tb");
  EXPECT_EQ(route.action + ":" + route.key, "UPSERT:id");
}

TEST_F(ConfigFixture, FirstOfRepeatedKeysCountsAndMetadataIsReachable) {
  std::string json = With(kValid, R"("NAME":"A",)",
                          R"("NAME":"A","NAME":"Z","METADATA":{"TOPIC":"t1","TOPIC":"t2"},)");
  ASSERT_TRUE(config.ScanConfig(Write(json)));
  ASSERT_EQ(config.streams.count("A"), 1u);
  const StreamDef& a = config.streams.at("A");
  ASSERT_TRUE(a.metadata.has_value());
  std::string_view topic;
  ASSERT_FALSE(a.metadata->at_key("TOPIC").get(topic));
  EXPECT_EQ(topic, "t1");
}

TEST_F(ConfigFixture, RescanReplacesStreamsAndAFailedOneLeavesNoStaleReferences) {
  ASSERT_TRUE(config.ScanConfig(Write(Doc(kGlobals, Stream("A") + "," + Stream("B")))));
  EXPECT_EQ(config.streams.size(), 2u);
  ASSERT_TRUE(config.ScanConfig(Write(Doc(kGlobals, Stream("C")))));
  ASSERT_EQ(config.streams.size(), 1u);
  EXPECT_EQ(config.streams.begin()->first, "C");
  EXPECT_FALSE(config.ScanConfig(Write("{not json")));
  EXPECT_TRUE(config.streams.empty());
}

TEST_F(ConfigFixture, GoldenDumpInNameOrderWithMaskedPasswords) {
  std::string b = R"({"NAME":"B","TYPE":"KAFKA","STATUS":"OFF",)"
                  R"("METADATA":{"BROKERS":"h:9092","PASSWORD":"hunter2","N":[1,2.5,true,null]},)"
                  R"("ROUTES":[{"INPUT":{"TOPIC":"t","AUTH":{"PASSWORD":{"x":"y"}}},)"
                  R"("TARGET":{"ALIAS":"al","DATABASE_NAME":"db","TABLE_NAME":"cars"},)"
                  R"("LOGIC":{"ACTION":"CREATE","KEY":""}},)"
                  R"({"INPUT":"q\"\n","TARGET":{"ALIAS":"a2","DATABASE_NAME":"d2","TABLE_NAME":"t2"},)"
                  R"("LOGIC":{"ACTION":"UPSERT","KEY":"k"}}]})";
  ASSERT_TRUE(config.ScanConfig(Write(Doc(kGlobals, b + "," + Stream("A")))));
  std::string logged = Logged();
  EXPECT_EQ(logged.find("hunter2"), std::string::npos);
  const std::string dashes32(32, '-'), dashes33(33, '-'), dashes34(34, '-');
  EXPECT_EQ(logged, "Found Config File: " + dir.File("apiconfig.json") + "\n" +
                        dashes32 + " Global Config " + dashes33 + "\n"
                        " GCD.WEBSERVER_PROTOCOL: ws\n"
                        " GCD.WEBSERVER_ADDRESS: Local.Host\n"
                        " GCD.WEBSOCKET_PORT: 9002\n"
                        " GCD.UPDATE_RATE: 250\n" +
                        dashes33 + " Stream List " + dashes34 + "\n"
                        " Stream [0]:\n"
                        "   NAME: A\n"
                        "   TYPE: DEFAULT\n"
                        "   METADATA: \n"
                        "   ROUTES[0]:\n"
                        "     INPUT: \n"
                        "     TARGET:\n"
                        "       ALIAS: al\n"
                        "       DATABASE_NAME: db\n"
                        "       TABLE_NAME: tb\n"
                        "     LOGIC:\n"
                        "       ACTION: UPSERT\n"
                        "       KEY: id\n"
                        " Stream [1]:\n"
                        "   NAME: B\n"
                        "   TYPE: KAFKA\n"
                        R"(   METADATA: {"BROKERS":"h:9092","PASSWORD":"********","N":[1,2.5,true,null]})" "\n"
                        "   ROUTES[0]:\n"
                        R"(     INPUT: {"TOPIC":"t","AUTH":{"PASSWORD":"********"}})" "\n"
                        "     TARGET:\n"
                        "       ALIAS: al\n"
                        "       DATABASE_NAME: db\n"
                        "       TABLE_NAME: cars\n"
                        "     LOGIC:\n"
                        "       ACTION: CREATE\n"
                        "       KEY: \n"
                        "   ROUTES[1]:\n"
                        R"(     INPUT: "q\"\n")" "\n"
                        "     TARGET:\n"
                        "       ALIAS: a2\n"
                        "       DATABASE_NAME: d2\n"
                        "       TABLE_NAME: t2\n"
                        "     LOGIC:\n"
                        "       ACTION: UPSERT\n"
                        "       KEY: k\n");
}

TEST(ConfigGlobal, WritesToTheProcessLog) {
  EXPECT_EQ(ConfigParser::Global.log, &LogManager::Global);
  EXPECT_EQ(ConfigParser::Global.port, -1);
  EXPECT_EQ(ConfigParser::Global.updateRate, 200u);
}

}  // namespace
