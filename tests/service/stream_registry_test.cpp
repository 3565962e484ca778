// The client creates its streams through the registry: only active definitions of a
// registered type, in the byte order of their names.

#include <gtest/gtest.h>

#include <fstream>

#include "service/ConfigParser.h"
#include "service/StreamBase.h"
#include "service/StreamRegistry.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"

namespace {

class NamedStream : public virtual StreamBase {
 public:
  NamedStream(const std::string& name, StreamDef* def, std::string kind)
      : StreamBase(name, def), kind(std::move(kind)) {}
  bool Init() override { return ready = true; }
  void Run() override {}
  StreamBase* GetSelf() override { return this; }
  std::string kind;
};

void RegisterKinds() {
  for (const char* kind : {"ALPHA", "BETA"}) {
    StreamRegistry::Register(kind, [kind](const std::string& name, StreamDef* def) {
      return new NamedStream(name, def, kind);
    });
  }
}

std::string Stream(const std::string& name, const std::string& type, const std::string& status) {
  return R"({"NAME":")" + name + R"(","TYPE":")" + type + R"(","STATUS":")" + status +
         R"(","ROUTES":[{"TARGET":{"ALIAS":"a","DATABASE_NAME":"d","TABLE_NAME":"t"},)"
         R"("LOGIC":{"ACTION":"UPSERT","KEY":""}}]})";
}

std::string Config(const std::vector<std::string>& streams) {
  std::string list;
  for (const auto& s : streams) list += (list.empty() ? "" : ",") + s;
  return R"({"Global Config":{"WEBSOCKET_PORT":"9002","WEBSERVER_PROTOCOL":"ws",)"
         R"("WEBSERVER_ADDRESS":"localhost","UPDATE_RATE":"100"},"Stream List":[)" + list + "]}";
}

TEST(StreamRegistry, UnknownTypeCreatesNothing) {
  EXPECT_EQ(StreamRegistry::Create("NO SUCH KIND", "x", nullptr), nullptr);
}

TEST(StreamRegistry, ClientCreatesActiveStreamsOfRegisteredTypesInNameOrder) {
  RegisterKinds();
  testsupport::TempDir dir;
  servicetest::LogCapture log(dir.Path());
  std::ofstream(dir.File("apiconfig.json"))
      << Config({Stream("b", "BETA", "ON"), Stream("a", "ALPHA", "ON"), Stream("c", "ALPHA", "on"),
                 Stream("d", "alpha", "ON"), Stream("e", "GAMMA", "ON"), Stream("B", "ALPHA", "ON")});
  TvxClient client(dir.File("apiconfig.json"), "/data/", "/bin/prog");
  EXPECT_TRUE(client.initialised);
  EXPECT_EQ(client.dataDir, "/data/");
  EXPECT_EQ(client.programPath, "/bin/prog");
  ASSERT_EQ(client.streams.size(), 3u);
  std::vector<std::string> made;
  for (StreamBase* s : client.streams) {
    made.push_back(s->name + ":" + dynamic_cast<NamedStream*>(s)->kind);
    EXPECT_EQ(s->definition, &ConfigParser::Global.streams.at(s->name));
    EXPECT_FALSE(s->ready);
  }
  EXPECT_EQ(made, (std::vector<std::string>{"B:ALPHA", "a:ALPHA", "b:BETA"}));
}

TEST(StreamRegistry, UnusableConfigurationCreatesNothing) {
  RegisterKinds();
  testsupport::TempDir dir;
  servicetest::LogCapture log(dir.Path());
  TvxClient missing(dir.File("apiconfig.json"), "", "");
  EXPECT_FALSE(missing.initialised);
  EXPECT_TRUE(missing.streams.empty());

  std::ofstream(dir.File("none.json")) << Config({Stream("x", "GAMMA", "OFF")});
  TvxClient none(dir.File("none.json"), "", "");
  EXPECT_TRUE(none.initialised);  // usable, but no stream to run
  EXPECT_TRUE(none.streams.empty());
}

}  // namespace
