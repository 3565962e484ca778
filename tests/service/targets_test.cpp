// Targets and their messages: registration from table files written by the independent
// encoder, row intake, and the update and clear frames read back by the independent decoder.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <random>
#include <thread>

#include "foundation/LogManager.h"
#include "record/ByteStream.h"
#include "service/MessageFormat.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "support/ServiceTestUtil.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "support/WireDecoder.h"
#include "support/WireEncoder.h"

namespace {

using servicetest::FrameLog;
using servicetest::Keys;
using testsupport::CellText;
using testsupport::RowTexts;
using testsupport::WireCell;
using testsupport::WireContainer;
using testsupport::WireTable;
namespace wire = testsupport::wire;

constexpr int32_t kInt = 2, kBigInt = 3, kFloat = 4, kBigFloat = 5, kText = 6, kDatetime = 20;

class TargetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client.tableRoot = dir.Path();
    client.frameSink = frames.Sink();
    TvxClient::Status = TvxClient::kOpen;
    WSOCK = &client;
  }
  void TearDown() override {
    WSOCK = nullptr;
    TvxClient::Status = TvxClient::kNotStarted;
  }

  // Registers db/sales with columns id INT, name TEXT, price BIG FLOAT.
  void RegisterSales(const std::string& key = "id") {
    servicetest::WriteTargetFile(dir.Path(), "shop", "db", "sales",
                                 servicetest::Schema({"id", "name", "price"}, {kInt, kText, kBigFloat}));
    ASSERT_TRUE(client.NewTarget("shop", "db", "sales", "UPSERT", key));
  }

  WireTable DecodedData(const WireContainer& msg) {
    WireTable table;
    std::string error;
    const WireContainer* data = msg.GetNested("Data");
    EXPECT_NE(data, nullptr);
    if (data != nullptr) {
      EXPECT_TRUE(testsupport::DecodeTable(*data, &table, &error)) << error;
    }
    return table;
  }

  testsupport::TempDir dir;
  FrameLog frames;
  TvxClient client;
};

TEST_F(TargetsTest, RegistrationTakesTheSchemaWithoutRows) {
  WireTable file = servicetest::Schema({"id", "name", "price"}, {kInt, kText, kBigFloat});
  file.rows = {{int64_t{1}, std::string("a"), 2.5}};  // rows of the server's table stay there
  servicetest::WriteTargetFile(dir.Path(), "shop", "db", "sales", file);
  ASSERT_TRUE(client.NewTarget("shop", "db", "sales", "UPSERT", "price"));

  TargetData* target = client.GetTarget("shop", "db", "sales");
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->alias, "shop");
  EXPECT_EQ(target->dbName, "db");
  EXPECT_EQ(target->tableName, "sales");
  EXPECT_EQ(target->event, "UPSERT");
  EXPECT_EQ(target->keyIndex, 2);
  EXPECT_FALSE(target->pending);
  EXPECT_FALSE(target->keepRows);
  MiniFrad& frad = client.GetTargetFrad("shop", "db", "sales");
  EXPECT_EQ(&frad, &target->frad);
  EXPECT_EQ(frad.NbRows, 0);
  EXPECT_EQ(frad.ColNames, (std::vector<std::string>{"id", "name", "price"}));
  EXPECT_EQ(frad.ColTypes, (std::vector<int32_t>{kInt, kText, kBigFloat}));
}

TEST_F(TargetsTest, KeyIndexIsFirstExactMatchOrMinusOne) {
  servicetest::WriteTargetFile(dir.Path(), "a", "d", "t",
                               servicetest::Schema({"k", "K", "k"}, {kInt, kInt, kInt}));
  ASSERT_TRUE(client.NewTarget("a", "d", "t", "UPSERT", "k"));
  EXPECT_EQ(client.GetTarget("a", "d", "t")->keyIndex, 0);
  servicetest::WriteTargetFile(dir.Path(), "a", "d", "u", servicetest::Schema({"x"}, {kInt}));
  ASSERT_TRUE(client.NewTarget("a", "d", "u", "UPSERT", "X"));  // case-sensitive
  EXPECT_EQ(client.GetTarget("a", "d", "u")->keyIndex, -1);
  servicetest::WriteTargetFile(dir.Path(), "a", "d", "v", servicetest::Schema({""}, {kInt}));
  ASSERT_TRUE(client.NewTarget("a", "d", "v", "UPSERT", ""));  // empty key: no key column
  EXPECT_EQ(client.GetTarget("a", "d", "v")->keyIndex, -1);
}

TEST_F(TargetsTest, SecondRegistrationKeepsTheFirstTarget) {
  RegisterSales();
  ASSERT_TRUE(client.NewTarget("shop", "db", "sales", "CREATE", "name"));
  EXPECT_EQ(client.GetTarget("shop", "db", "sales")->event, "UPSERT");
  EXPECT_EQ(client.GetTarget("shop", "db", "sales")->keyIndex, 0);

  MiniFrad supplied;
  supplied.New("other");
  ASSERT_TRUE(supplied.Set(0, {"z"}, {kInt}, {0}));
  ASSERT_TRUE(client.NewTarget("shop", "db", "sales", "CREATE", "", std::move(supplied)));
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbCols, 3);
  EXPECT_EQ(client.targets.size(), 1u);
}

TEST_F(TargetsTest, UnreadableTableFilesRegisterNothing) {
  EXPECT_FALSE(client.NewTarget("shop", "db", "missing", "UPSERT", ""));

  std::filesystem::create_directories(dir.File("OSTREL.shop/db"));
  testsupport::WriteFileBytes(dir.File("OSTREL.shop/db/garbage.ostrel"), "not a container");
  EXPECT_FALSE(client.NewTarget("shop", "db", "garbage", "UPSERT", ""));

  testsupport::WireImage noTable;
  noTable.Text("Name", "x");
  testsupport::WriteFileBytes(dir.File("OSTREL.shop/db/notable.ostrel"), noTable.Image());
  EXPECT_FALSE(client.NewTarget("shop", "db", "notable", "UPSERT", ""));

  std::filesystem::create_directories(dir.File("OSTREL.shop/db/adir.ostrel"));
  EXPECT_FALSE(client.NewTarget("shop", "db", "adir", "UPSERT", ""));

  EXPECT_TRUE(client.targets.empty());
  EXPECT_EQ(client.GetTarget("shop", "db", "garbage"), nullptr);
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "garbage").NbCols, 0);
}

TEST_F(TargetsTest, NamesLeadingOutsideTheRootAreRefusedAndLogged) {
  testsupport::TempDir logDir;
  servicetest::LogCapture log(logDir.Path());
  // A valid table file one level above the root: reachable only through "..".
  testsupport::TempDir outside;
  servicetest::WriteTargetFile(outside.Path(), "x", "d", "t", servicetest::Schema({"a"}, {kInt}));
  client.tableRoot = outside.File("OSTREL.x/d/inner");
  std::filesystem::create_directories(client.tableRoot);
  const std::vector<std::vector<std::string>> bad = {
      {"x", "..", "t"}, {"x", "d/../d", "t"}, {"x", "d", "../d/t"}, {"x", "d", "/etc/passwd"},
      {"x", ".", "t"}, {"", "d", "t"}, {"x", "", "t"}, {"x", "d", ""},
      {"x", std::string("d\0e", 3), "t"}, {"../x", "d", "t"}};
  for (const auto& names : bad) {
    EXPECT_FALSE(client.NewTarget(names[0], names[1], names[2], "UPSERT", "")) << names[1];
  }
  EXPECT_TRUE(client.targets.empty());
  const std::string text = log.Text();
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("Refused target name outside the table files: ", at)) !=
                      std::string::npos; ++at) {
    ++lines;
  }
  EXPECT_EQ(lines, bad.size()) << text;
  EXPECT_NE(text.find("Refused target name outside the table files: x/../t"), std::string::npos);
}

TEST_F(TargetsTest, UpdateMessageKeysOrderTypesAndRows) {
  RegisterSales("name");
  client.UpdateTarget("shop", "db", "sales", {"7", "seven", "7.25"});
  client.UpdateTarget("shop", "db", "sales", {"-3", "", "1e300"});
  EXPECT_TRUE(client.GetTarget("shop", "db", "sales")->pending);
  client.SendTargetUpdates();

  ASSERT_EQ(frames.Count(), 1u);
  const std::string payload = frames.Payloads()[0];
  ASSERT_GE(payload.size(), 11u);
  EXPECT_EQ(payload.substr(0, 3), "BS=");
  uint64_t count = 0;
  std::memcpy(&count, payload.data() + 3, 8);
  EXPECT_EQ(count, 7u);

  WireContainer msg = frames.Decoded(0);
  EXPECT_EQ(Keys(msg), (std::vector<std::string>{"Func", "DBAlias", "DBName", "TableName", "Event",
                                                 "KeyIndex", "Data"}));
  const std::vector<uint8_t> types = {wire::kString, wire::kString, wire::kString, wire::kString,
                                      wire::kString, wire::kInt32, wire::kStream};
  for (size_t i = 0; i < types.size() && i < msg.records.size(); ++i) {
    EXPECT_EQ(msg.records[i].type, types[i]) << msg.records[i].key;
  }
  std::string text;
  int64_t keyIndex = 0;
  EXPECT_TRUE(msg.GetText("Func", &text) && text == "API");
  EXPECT_TRUE(msg.GetText("DBAlias", &text) && text == "shop");
  EXPECT_TRUE(msg.GetText("DBName", &text) && text == "db");
  EXPECT_TRUE(msg.GetText("TableName", &text) && text == "sales");
  EXPECT_TRUE(msg.GetText("Event", &text) && text == "UPSERT");
  EXPECT_TRUE(msg.GetInt("KeyIndex", &keyIndex));
  EXPECT_EQ(keyIndex, 1);
  EXPECT_EQ(msg.Find("MSID"), nullptr);

  WireTable table = DecodedData(msg);
  EXPECT_EQ(table.colNames, (std::vector<std::string>{"id", "name", "price"}));
  EXPECT_EQ(table.colTypes, (std::vector<int32_t>{kInt, kText, kBigFloat}));
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(RowTexts(table.rows[0]), (std::vector<std::string>{"7", "seven", "7.25"}));
  EXPECT_EQ(RowTexts(table.rows[1]), (std::vector<std::string>{"-3", "", "1e+300"}));

  // The rows went with the message: nothing is pending and the next period sends nothing.
  EXPECT_FALSE(client.GetTarget("shop", "db", "sales")->pending);
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 0);
  client.SendTargetUpdates();
  EXPECT_EQ(frames.Count(), 1u);
}

TEST_F(TargetsTest, TextsAreConvertedToTheColumnTypes) {
  servicetest::WriteTargetFile(
      dir.Path(), "a", "d", "all",
      servicetest::Schema({"i", "b", "f", "g", "s", "t"}, {kInt, kBigInt, kFloat, kBigFloat, kText, kDatetime}));
  ASSERT_TRUE(client.NewTarget("a", "d", "all", "CREATE", ""));
  client.UpdateTarget("a", "d", "all", {"42", "-9000000000", "0.5", "-2.25", "hello", "2024-03-05 10:20:30"});
  client.UpdateTarget("a", "d", "all", {"x", "", "nan?", "abc", "", "not a date"});
  client.UpdateTarget("a", "d", "all", {"1"});  // missing texts give nulls
  client.SendTargetUpdates();
  ASSERT_EQ(frames.Count(), 1u);
  WireTable table = DecodedData(frames.Decoded(0));
  ASSERT_EQ(table.rows.size(), 3u);

  std::tm tm{};
  tm.tm_year = 2024 - 1900, tm.tm_mon = 2, tm.tm_mday = 5, tm.tm_hour = 10, tm.tm_min = 20,
  tm.tm_sec = 30;
  const int64_t ns = static_cast<int64_t>(timegm(&tm)) * 1000000000;
  const std::vector<WireCell> first = {int64_t{42}, int64_t{-9000000000}, 0.5f, -2.25,
                                       std::string("hello"), ns};
  EXPECT_EQ(RowTexts(table.rows[0]), RowTexts(first));
  EXPECT_EQ(RowTexts(table.rows[1]),
            (std::vector<std::string>{"NULL", "NULL", "NULL", "NULL", "", "NULL"}));
  EXPECT_EQ(RowTexts(table.rows[2])[0], "1");
  EXPECT_EQ(RowTexts(table.rows[2])[1], "NULL");
  EXPECT_EQ(RowTexts(table.rows[2])[5], "NULL");
}

TEST_F(TargetsTest, RandomRowsRoundTripThroughTheDecoder) {
  servicetest::WriteTargetFile(
      dir.Path(), "a", "d", "r",
      servicetest::Schema({"i", "b", "g", "s", "t"}, {kInt, kBigInt, kBigFloat, kText, kDatetime}));
  ASSERT_TRUE(client.NewTarget("a", "d", "r", "UPSERT", "b"));
  std::mt19937_64 rng(12345);
  for (int period = 0; period < 20; ++period) {
    std::vector<std::vector<std::string>> model;
    const int rows = static_cast<int>(rng() % 50);
    for (int r = 0; r < rows; ++r) {
      std::string text;
      for (int n = static_cast<int>(rng() % 12); n > 0; --n) text += static_cast<char>('a' + rng() % 26);
      const int64_t seconds = static_cast<int64_t>(rng() % 4000000000u);
      std::time_t tt = seconds;
      char when[32];
      std::strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%S", std::gmtime(&tt));
      const int32_t i = static_cast<int32_t>(rng() % 2000001) - 1000000;
      const int64_t b = static_cast<int64_t>(rng() >> 2) * ((rng() & 1) ? 1 : -1);
      const double g = static_cast<double>(static_cast<int64_t>(rng() % 100000) - 50000) / 64.0;
      std::vector<std::string> row = {std::to_string(i), std::to_string(b), std::to_string(g), text, when};
      client.UpdateTarget("a", "d", "r", row);
      model.push_back({std::to_string(i), std::to_string(b), CellText(g), text,
                       std::to_string(seconds * 1000000000)});
    }
    const size_t before = frames.Count();
    client.SendTargetUpdates();
    if (rows == 0) {
      EXPECT_EQ(frames.Count(), before);
      continue;
    }
    ASSERT_EQ(frames.Count(), before + 1);
    WireContainer msg = frames.Decoded(before);
    int64_t keyIndex = 0;
    EXPECT_TRUE(msg.GetInt("KeyIndex", &keyIndex));
    EXPECT_EQ(keyIndex, 1);
    WireTable table = DecodedData(msg);
    ASSERT_EQ(table.rows.size(), model.size());
    for (size_t r = 0; r < model.size(); ++r) EXPECT_EQ(RowTexts(table.rows[r]), model[r]) << r;
  }
}

TEST_F(TargetsTest, PendingTargetWithoutRowsSendsNothing) {
  RegisterSales();
  client.GetTarget("shop", "db", "sales")->pending = true;
  client.SendTargetUpdates();
  EXPECT_EQ(frames.Count(), 0u);
  EXPECT_FALSE(client.GetTarget("shop", "db", "sales")->pending);
}

TEST_F(TargetsTest, TargetsAreSentInKeyOrder) {
  for (const char* name : {"t", "s", "u"}) {
    servicetest::WriteTargetFile(dir.Path(), "a", "d", name, servicetest::Schema({"x"}, {kInt}));
    ASSERT_TRUE(client.NewTarget("a", "d", name, "UPSERT", ""));
  }
  client.UpdateTarget("a", "d", "t", {"1"});
  client.UpdateTarget("a", "d", "u", {"3"});
  client.UpdateTarget("a", "d", "s", {"2"});
  client.UpdateTarget("a", "d", "nope", {"4"});  // unknown: ignored
  client.SendTargetUpdates();
  ASSERT_EQ(frames.Count(), 3u);
  std::vector<std::string> order;
  for (size_t i = 0; i < 3; ++i) {
    std::string name;
    frames.Decoded(i).GetText("TableName", &name);
    order.push_back(name);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"s", "t", "u"}));
}

// The rows of every decoded update of `frames` (clears skipped), in order, as texts.
std::vector<std::vector<std::string>> SentRows(FrameLog& frames) {
  std::vector<std::vector<std::string>> rows;
  for (size_t i = 0; i < frames.Count(); ++i) {
    WireTable table;
    std::string error, event;
    WireContainer msg = frames.Decoded(i);
    if (msg.GetText("Event", &event) && event == "CLEAR") continue;
    const WireContainer* data = msg.GetNested("Data");
    if (data == nullptr || !testsupport::DecodeTable(*data, &table, &error)) {
      ADD_FAILURE() << "frame " << i << ": " << error;
      continue;
    }
    for (const auto& row : table.rows) rows.push_back(RowTexts(row));
  }
  return rows;
}

TEST_F(TargetsTest, RowsWaitWhileTheLinkIsNotOpen) {
  RegisterSales();
  client.UpdateTarget("shop", "db", "sales", {"1", "a", "1"});
  for (int32_t status : {TvxClient::kNotStarted, TvxClient::kConnecting, TvxClient::kFailed,
                         TvxClient::kClosed}) {
    TvxClient::Status = status;
    client.SendTargetUpdates();
    EXPECT_EQ(frames.Count(), 0u);
    EXPECT_TRUE(client.GetTarget("shop", "db", "sales")->pending);
    EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 1);
  }
  // Open, but the link refuses the frame (no live connection, a library error): the rows
  // stay pending as well.
  TvxClient::Status = TvxClient::kOpen;
  client.UpdateTarget("shop", "db", "sales", {"2", "b", "2"});
  for (auto refusal : {TvxClient::FrameResult::kNoConnection, TvxClient::FrameResult::kError}) {
    frames.result = refusal;
    client.SendTargetUpdates();
    EXPECT_EQ(frames.Count(), 0u);
    EXPECT_TRUE(client.GetTarget("shop", "db", "sales")->pending);
    EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 2);
  }
  frames.result = TvxClient::FrameResult::kSent;
  client.SendTargetUpdates();
  EXPECT_EQ(SentRows(frames), (std::vector<std::vector<std::string>>{{"1", "a", "1"}, {"2", "b", "2"}}));
  EXPECT_FALSE(client.GetTarget("shop", "db", "sales")->pending);
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 0);
}

TEST_F(TargetsTest, BacklogKeepsTheNewestRowsAndSaysHowManyWentMissing) {
  servicetest::LogCapture log(dir.Path());
  RegisterSales();
  client.maxBacklogRows = 5;
  TvxClient::Status = TvxClient::kClosed;
  for (int i = 0; i < 12; ++i) client.UpdateTarget("shop", "db", "sales", {std::to_string(i), "x", "0"});
  client.SendTargetUpdates();
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 5);
  client.SendTargetUpdates();  // within the cap: nothing more dropped, nothing logged
  std::string text = log.Text();
  EXPECT_NE(text.find("Target shop/db/sales: link not open, dropped the oldest 7 rows over the backlog of 5"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("dropped"), text.rfind("dropped")) << text;

  // Over the cap every period: one line a second, giving every row dropped since the last.
  TargetData* sales = client.GetTarget("shop", "db", "sales");
  for (int round = 0; round < 4; ++round) {
    if (round == 3) sales->dropLog.SetInterval(std::chrono::seconds(0));
    for (int i = 0; i < 3; ++i) {
      client.UpdateTarget("shop", "db", "sales", {std::to_string(12 + 3 * round + i), "x", "0"});
    }
    client.SendTargetUpdates();
  }
  text = log.Text();
  EXPECT_NE(text.find("dropped the oldest 12 rows over the backlog of 5\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("dropped"), text.find("dropped", text.find("dropped") + 1)) << text;
  // Rows dropped within a throttled second are told once it has passed, dropping or not.
  sales->dropLog.SetInterval(std::chrono::hours(1));
  for (int i = 0; i < 3; ++i) client.UpdateTarget("shop", "db", "sales", {std::to_string(24 + i), "x", "0"});
  client.SendTargetUpdates();
  sales->dropLog.SetInterval(std::chrono::seconds(0));
  client.SendTargetUpdates();
  EXPECT_NE(log.Text().find("dropped the oldest 3 rows over the backlog of 5\n"), std::string::npos) << log.Text();

  // Open, but holding more than it may unsent: the rows wait as well, and the line says so.
  TvxClient::Status = TvxClient::kOpen;
  client.unsentBytes = [this] { return client.maxUnsentBytes + 1; };
  client.UpdateTarget("shop", "db", "sales", {"27", "x", "0"});
  client.SendTargetUpdates();
  EXPECT_NE(log.Text().find("Target shop/db/sales: link full, dropped the oldest 1 rows"), std::string::npos)
      << log.Text();
  EXPECT_EQ(frames.Count(), 0u);

  client.unsentBytes = nullptr;
  client.SendTargetUpdates();
  std::vector<std::vector<std::string>> rows = SentRows(frames);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(rows[i][0], std::to_string(23 + i));
}

std::string EventOf(FrameLog& frames, size_t i) {
  std::string event;
  frames.Decoded(i).GetText("Event", &event);
  return event;
}

// Against a model: rows stay in their target from their send until the server answers a
// ping sent after it, and only such an answer confirms: never a pong nobody asked for, a
// foreign payload, a repeated answer or one of an earlier connection. Each message carries
// only the rows not sent yet, a long backlog in several messages with a ping after each. A
// reset's clear is owed until a ping after it is answered. A lost link sends the owed clear
// and then every unconfirmed row again, first and in order. Every period holds the backlog
// cap, sent rows included, whatever the link's state.
TEST_F(TargetsTest, SentRowsWaitForTheServersAnswerAndGoOutAgainAfterALostLink) {
  RegisterSales();
  client.maxBacklogRows = 40;
  client.maxUnsentBytes = 300;  // about ten rows a message
  client.pings.Start();         // a link that confirms
  client.pings.NewConnection();
  std::vector<std::pair<uint64_t, std::string>> asked;  // the pings of this connection
  std::vector<std::string> stale;                       // and of earlier ones
  client.pingSink = [&] {
    uint64_t number = 0;
    std::string payload = client.pings.Next(&number);
    asked.push_back({number, std::move(payload)});
    return true;
  };
  std::deque<int> table;  // the model: the target's rows by number,
  size_t sent = 0;        // the first `sent` of them sent and not confirmed,
  std::deque<std::pair<uint64_t, size_t>> batches;  // in these messages (ticket, rows),
  uint64_t confirmed = 0;    // the highest ping answered,
  uint64_t clearTicket = 0;  // the ping after a clear sent and not confirmed,
  bool clearOwed = false;    // and a clear to send before any row
  auto release = [&] {
    while (!batches.empty() && batches.front().first <= confirmed) {
      table.erase(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(batches.front().second));
      sent -= batches.front().second;
      batches.pop_front();
    }
    if (clearTicket <= confirmed) clearTicket = 0;
  };
  auto cap = [&] {  // the oldest rows over the cap go, sent or not
    release();
    while (table.size() > 40) {
      table.pop_front();
      if (sent == 0) continue;
      --sent;
      if (--batches.front().second == 0) batches.pop_front();
    }
  };
  std::mt19937 random(7);
  int next = 0;
  size_t checked = 0;  // rows of the frames compared so far
  int split = 0;       // sends that took several messages
  int cappedOpen = 0;  // sends that dropped rows of an open link
  int clearsAgain = 0; // clears sent again after a lost link
  for (int step = 0; step < 1200; ++step) {
    const bool silent = step % 200 >= 120;  // a server that reads nothing for a while
    switch (random() % 16) {
      case 0: case 1: case 2: case 3: case 4: case 14:
        for (int i = static_cast<int>(random() % 6); i >= 0; --i) {
          // Texts of every length up to 20, so that the messages' text offsets move.
          client.UpdateTarget("shop", "db", "sales",
                              {std::to_string(next), std::string(random() % 20, static_cast<char>('a' + next % 26)), "1"});
          table.push_back(next++);
        }
        break;
      case 5: case 6: case 7: {
        const uint64_t ticket = client.pings.ticket;  // of the ping after the first message
        const size_t framesBefore = frames.Count();
        client.SendTargetUpdates();
        release();
        cappedOpen += table.size() > 40;
        cap();
        size_t first = framesBefore;
        if (clearOwed) {
          ASSERT_GT(frames.Count(), first) << "step " << step;
          ASSERT_EQ(EventOf(frames, first++), "CLEAR") << "step " << step << ": the owed clear first";
          clearOwed = false;
          clearTicket = ticket;
          ++clearsAgain;
        }
        const std::vector<std::vector<std::string>> rows = SentRows(frames);
        ASSERT_EQ(rows.size() - checked, table.size() - sent) << "step " << step;
        for (size_t i = sent; i < table.size(); ++i, ++checked) {
          ASSERT_EQ(rows[checked][0], std::to_string(table[i])) << "step " << step;
          ASSERT_EQ(rows[checked][1], std::string(rows[checked][1].size(), static_cast<char>('a' + table[i] % 26)));
        }
        for (size_t i = first; i < frames.Count(); ++i) {
          const size_t carried = static_cast<size_t>(DecodedData(frames.Decoded(i)).rows.size());
          EXPECT_LE(carried, 12u) << "step " << step;
          batches.push_back({ticket + (i - first), carried});
        }
        const size_t pings = std::max(frames.Count() - first, size_t{first > framesBefore});
        ASSERT_EQ(client.pings.ticket, ticket + pings) << "a ping after each message";
        split += frames.Count() - first > 1;
        sent = table.size();
        break;
      }
      case 8: case 9:  // the server answers the last ping or the one before
        if (silent || asked.empty()) break;
        {
          const auto& [number, payload] = asked[asked.size() - 1 - random() % std::min<size_t>(2, asked.size())];
          ASSERT_EQ(client.pings.Answer(payload), number > confirmed) << "step " << step;
          confirmed = std::max(confirmed, number);
        }
        break;
      case 10: {  // pongs nobody asked for: none confirms anything
        std::vector<std::string> pongs = {std::to_string(random() % 50), "x", ""};
        if (!asked.empty()) {
          const std::string& latest = asked.back().second;
          const std::string part = latest.substr(0, latest.find('-') + 1);
          const std::string number = latest.substr(part.size());
          pongs.insert(pongs.end(), {number, part, latest + "0", part + "0" + number, part + "x"});
          if (asked.front().first <= confirmed) pongs.push_back(asked.front().second);  // answered
        }
        if (!stale.empty()) pongs.push_back(stale[random() % stale.size()]);
        for (const std::string& pong : pongs) {
          ASSERT_FALSE(client.pings.Answer(pong)) << "step " << step << ": " << pong;
        }
        ASSERT_EQ(client.pings.confirmed, confirmed) << "step " << step;
        break;
      }
      case 11:  // the link down for a period
        TvxClient::Status = TvxClient::kClosed;
        client.SendTargetUpdates();
        TvxClient::Status = TvxClient::kOpen;
        cap();
        break;
      case 12: case 13:  // a new link, whose period holds the cap too
        client.RewindUnconfirmed();
        client.pings.NewConnection();
        release();
        clearOwed = clearOwed || clearTicket != 0;
        clearTicket = 0;
        sent = 0;
        batches.clear();
        cap();
        for (const auto& ping : asked) stale.push_back(ping.second);
        asked.clear();
        confirmed = client.pings.ticket - 1;
        break;
      default: {  // now and then a reset, with the link open or not
        if (random() % 3 != 0) break;
        const bool open = random() % 2 == 0;
        const uint64_t ticket = client.pings.ticket;
        const size_t framesBefore = frames.Count();
        TvxClient::Status = open ? TvxClient::kOpen : TvxClient::kClosed;
        client.ResetTarget("shop", "db", "sales");
        TvxClient::Status = TvxClient::kOpen;
        ASSERT_EQ(frames.Count(), framesBefore + open) << "step " << step;
        if (open) {
          ASSERT_EQ(EventOf(frames, framesBefore), "CLEAR");
        }
        ASSERT_EQ(client.pings.ticket, ticket + open) << "a ping after the clear";
        table.clear();
        sent = 0;
        batches.clear();
        clearTicket = open ? ticket : 0;
        clearOwed = !open;
      }
    }
    ASSERT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, static_cast<int64_t>(table.size())) << "step " << step;
  }
  EXPECT_GT(checked, 500u);
  EXPECT_GT(split, 10);
  EXPECT_GT(cappedOpen, 5);
  EXPECT_GT(clearsAgain, 5);
}

TEST_F(TargetsTest, RowsAddedOrResetDuringASendAreNotLost) {
  RegisterSales();
  client.UpdateTarget("shop", "db", "sales", {"1", "a", "1"});
  client.UpdateTarget("shop", "db", "sales", {"2", "b", "2"});
  // Once the payload is written the frame goes out outside the target's lock, as the
  // network does: a producer appends while the first frame goes out.
  TvxClient::FrameSink record = frames.Sink();
  int calls = 0;
  client.frameSink = [&](bool binary, uint64_t size, const TvxClient::FrameFill& fill, std::string* error) {
    TvxClient::FrameResult result = record(binary, size, fill, error);
    if (++calls == 1) client.UpdateTarget("shop", "db", "sales", {"3", "c", "3"});
    return result;
  };
  client.SendTargetUpdates();
  EXPECT_TRUE(client.GetTarget("shop", "db", "sales")->pending);
  client.SendTargetUpdates();
  EXPECT_EQ(SentRows(frames),
            (std::vector<std::vector<std::string>>{{"1", "a", "1"}, {"2", "b", "2"}, {"3", "c", "3"}}));

  // A reset on another thread while an update is on its way to the link waits for it: the
  // cleared rows never reach the server after the clear, and the row added after the reset
  // follows the clear.
  client.UpdateTarget("shop", "db", "sales", {"4", "d", "4"});
  const size_t before = frames.Count();
  std::atomic<bool> resetStarted{false};
  std::thread resetter;
  client.frameSink = [&](bool binary, uint64_t size, const TvxClient::FrameFill& fill, std::string* error) {
    if (!resetStarted.exchange(true)) {
      resetter = std::thread([&] {
        client.ResetTarget("shop", "db", "sales");
        client.UpdateTarget("shop", "db", "sales", {"5", "e", "5"});
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // time to overtake the update
    }
    return record(binary, size, fill, error);
  };
  client.SendTargetUpdates();
  resetter.join();
  client.SendTargetUpdates();
  std::vector<std::string> events;
  for (size_t i = before; i < frames.Count(); ++i) {
    std::string event;
    frames.Decoded(i).GetText("Event", &event);
    events.push_back(event);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"UPSERT", "CLEAR", "UPSERT"}));
  std::vector<std::vector<std::string>> rows = SentRows(frames);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[3][0], "4");
  EXPECT_EQ(rows[4][0], "5");
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 0);
}

// The update frame is written straight from the target's table; its bytes are those of the
// container the message format describes, built record by record, whatever the table's
// names, rows and spare room, also after the schema changed between two sends.
TEST_F(TargetsTest, UpdateFrameIsTheContainerImage) {
  std::mt19937 rng(5);
  for (int round = 0; round < 12; ++round) {
    MiniFrad frad;
    frad.New(round % 3 == 0 ? "" : "t" + std::to_string(round));
    ASSERT_TRUE(frad.Set(0, {"id", "name", "price", "when", "note"},
                         {kInt, kText, kBigFloat, kDatetime, kText}, {0, 20, 0, 0, 300}));
    const std::string alias = round % 4 == 0 ? "" : "shop";
    ASSERT_TRUE(client.NewTarget(alias, "db", std::to_string(round), "UPSERT", "", std::move(frad)));
    TargetData* target = client.GetTarget(alias, "db", std::to_string(round));
    target->keepRows = true;
    target->keyIndex = round % 2 ? 2 : -1;
    for (int send = 0; send < 3; ++send) {
      const int rows = static_cast<int>(rng() % 40);
      for (int r = 0; r < rows; ++r) {
        client.UpdateTarget(alias, "db", std::to_string(round),
                            {std::to_string(rng() % 1000), std::string(rng() % 5, 'a' + r % 26),
                             std::to_string(rng() % 100 / 4.0), "2024-03-0" + std::to_string(1 + r % 9),
                             r % 3 ? "x" : ""});
      }
      if (send == 2) {
        ASSERT_TRUE(target->frad.AddColumn("extra", {"p", "q"}, round % 2, 8));
      }
      target->pending = true;
      const size_t before = frames.Count();
      client.SendTargetUpdates();
      if (target->frad.NbRows == 0) continue;
      ASSERT_EQ(frames.Count(), before + 1);
      ByteStream expected = InitBStream("API", "");
      expected.AddString("DBAlias", alias);
      expected.AddString("DBName", "db");
      expected.AddString("TableName", std::to_string(round));
      expected.AddString("Event", "UPSERT");
      expected.AddInt32("KeyIndex", target->keyIndex);
      expected.AddStream("Data", target->frad.ToByteStream("", ""));
      std::string image(expected.GetStreamSize(), '\0');
      expected.GetStream(image.data());
      EXPECT_TRUE(frames.Payloads().back() == "BS=" + image) << "round " << round << " send " << send;
    }
  }
}

TEST_F(TargetsTest, ClearMessageAndKeepRows) {
  MiniFrad cars;
  cars.New("cars");
  ASSERT_TRUE(cars.Set(0, {"id", "x"}, {kInt, kBigFloat}, {0, 0}));
  ASSERT_TRUE(client.NewTarget("sim", "db", "cars", "UPSERT", "id", std::move(cars)));
  TargetData* target = client.GetTarget("sim", "db", "cars");
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->keyIndex, -1);  // the key is not consulted for a supplied table
  target->keepRows = true;
  client.UpdateTarget("sim", "db", "cars", {"1", "0.5"});
  client.UpdateTarget("sim", "db", "cars", {"2", "1.5"});

  client.ResetTarget("sim", "db", "cars");
  client.ResetTarget("sim", "db", "nope");  // unknown: ignored
  ASSERT_EQ(frames.Count(), 1u);
  WireContainer clear = frames.Decoded(0);
  EXPECT_EQ(Keys(clear), (std::vector<std::string>{"Func", "DBAlias", "DBName", "TableName", "Event"}));
  std::string text;
  EXPECT_TRUE(clear.GetText("Event", &text) && text == "CLEAR");
  EXPECT_TRUE(clear.GetText("DBAlias", &text) && text == "sim");
  EXPECT_TRUE(clear.GetText("TableName", &text) && text == "cars");
  EXPECT_FALSE(target->pending);
  EXPECT_EQ(target->frad.NbRows, 2);

  // Kept rows go out whole at every period in which the target is pending.
  client.SendTargetUpdates();
  EXPECT_EQ(frames.Count(), 1u);
  for (int period = 0; period < 2; ++period) {
    {
      std::lock_guard<std::mutex> lock(target->mutex);
      target->pending = true;
    }
    client.SendTargetUpdates();
    ASSERT_EQ(frames.Count(), 2u + period);
    WireTable table = DecodedData(frames.Decoded(1 + period));
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(RowTexts(table.rows[1]), (std::vector<std::string>{"2", "1.5"}));
  }
}

TEST_F(TargetsTest, ResetEmptiesAnOrdinaryTarget) {
  RegisterSales();
  client.UpdateTarget("shop", "db", "sales", {"1", "a", "1"});
  client.ResetTarget("shop", "db", "sales");
  EXPECT_EQ(client.GetTargetFrad("shop", "db", "sales").NbRows, 0);
  EXPECT_FALSE(client.GetTarget("shop", "db", "sales")->pending);
  client.SendTargetUpdates();
  ASSERT_EQ(frames.Count(), 1u);  // only the clear message
}

TEST_F(TargetsTest, ProducersAndTheUpdateCycleShareATarget) {
  RegisterSales();
  constexpr int kProducers = 3, kRows = 2000;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([this, p] {
      for (int i = 0; i < kRows; ++i) {
        client.UpdateTarget("shop", "db", "sales", {std::to_string(p * kRows + i), "r", "1"});
      }
    });
  }
  std::atomic<bool> stop{false};
  std::thread cycle([&] {
    while (!stop) client.SendTargetUpdates();
  });
  for (std::thread& t : producers) t.join();
  stop = true;
  cycle.join();
  client.SendTargetUpdates();

  std::vector<int> seen(kProducers * kRows, 0);
  for (size_t i = 0; i < frames.Count(); ++i) {
    for (const auto& row : DecodedData(frames.Decoded(i)).rows) ++seen.at(std::stoi(CellText(row[0])));
  }
  for (int count : seen) ASSERT_EQ(count, 1);
}

TEST_F(TargetsTest, FailedSendRemovesTheCallbacksOfItsIdentifier) {
  int calls = 0;
  client.AddSuccessCallback("m1", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  client.AddFailureCallback("m1", [&](std::string, std::shared_ptr<void>) { ++calls; }, nullptr);
  client.AddSuccessCallback("m2", [&](ByteStream&, std::shared_ptr<void>) { ++calls; }, nullptr);
  ByteStream msg = InitBStream("GET", "m1");
  frames.result = TvxClient::FrameResult::kError;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(client.SendMsg(msg));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "> Error sending message: broken pipe\n");
  EXPECT_EQ(client.successCallbacks.count("m1"), 0u);
  EXPECT_EQ(client.failureCallbacks.count("m1"), 0u);
  EXPECT_EQ(client.successCallbacks.count("m2"), 1u);

  frames.result = TvxClient::FrameResult::kSent;
  EXPECT_TRUE(client.SendMsg(InitBStream("GET", "m2")));
  WireContainer sent = frames.Decoded(0);
  EXPECT_EQ(Keys(sent), (std::vector<std::string>{"Func", "MSID"}));
  EXPECT_TRUE(client.SendMsg(InitBStream("GET", "")));
  EXPECT_EQ(Keys(frames.Decoded(1)), (std::vector<std::string>{"Func"}));
  EXPECT_EQ(calls, 0);
}

}  // namespace
