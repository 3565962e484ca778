// No rows are lost while the link is down: a producer appends numbered rows at a fixed rate
// while the stand-in closes the link, goes away for longer than the reconnection gap and
// drops the TCP connection. Every row arrives once and in order. The only rows allowed to
// miss are those in frames the client had already handed to a connection that the server
// then dropped or closed: the client cannot know that the server never read them. They
// can only be missing right at the end of such a connection.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "link_test_util.h"
#include "support/ServiceTestUtil.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

TEST(NoLoss, EveryNumberedRowArrivesOnceInOrderAcrossOutages) {
  testsupport::TempDir dir;
  servicetest::LogCapture log(dir.Path());
  linktest::LinkedClient link;
  auto* stream = new linktest::NumberedStream("numbers", linktest::NewDef(link.defs, "numbers"), 2ms);
  link.client->streams.push_back(stream);
  ASSERT_TRUE(link.Connect());
  link.StartRun();
  auto produceFor = [&](std::chrono::milliseconds d) {
    std::this_thread::sleep_for(d);
    EXPECT_FALSE(::testing::Test::HasFailure());
  };
  ASSERT_TRUE(link.server.WaitForOpened(1, 10s));
  produceFor(150ms);

  EXPECT_EQ(link.server.CloseAll(1000, "maintenance"), 1);  // 1: a normal close
  ASSERT_TRUE(link.server.WaitForOpened(2, 10s));
  produceFor(150ms);

  link.server.SetAdmission(standin::Admission::kRefuse);  // 2: away for three gaps
  EXPECT_EQ(link.server.CloseAll(1001, "going down"), 1);
  produceFor(900ms);
  link.server.SetAdmission(standin::Admission::kAccept);
  ASSERT_TRUE(link.server.WaitForOpened(3, 10s));
  produceFor(150ms);

  EXPECT_EQ(link.server.DropAll(), 1);  // 3: the TCP connection reset
  ASSERT_TRUE(link.server.WaitForOpened(4, 10s));
  produceFor(150ms);
  link.StopRun();  // sends what is pending, then closes

  const int64_t produced = stream->produced;
  ASSERT_GT(produced, 500);
  // Numbers by connection, in arrival order.
  std::map<uint64_t, std::vector<int64_t>> byConnection;
  int64_t last = -1;
  size_t received = 0;
  for (const standin::Received& m : link.server.Messages()) {
    ASSERT_TRUE(m.hasTable) << m.error;
    for (const auto& row : m.table.rows) {
      int64_t n = std::get<int64_t>(row.at(0));
      EXPECT_GT(n, last) << "row " << n << " arrived twice or out of order";
      last = n;
      byConnection[m.connection].push_back(n);
      ++received;
    }
  }
  ASSERT_EQ(byConnection.size(), 4u);
  // Gaps only where a connection ended under frames already sent.
  int64_t expected = 0;
  int64_t missing = 0;
  for (const auto& [connection, numbers] : byConnection) {
    EXPECT_TRUE(connection == 1 || numbers.front() >= expected) << connection;
    missing += numbers.front() - expected;
    for (size_t i = 1; i < numbers.size(); ++i) {
      EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "a row went missing inside connection " << connection;
    }
    expected = numbers.back() + 1;
  }
  EXPECT_EQ(byConnection.begin()->second.front(), 0);
  EXPECT_EQ(expected, produced) << "the rows of the last period did not go out";
  EXPECT_EQ(static_cast<int64_t>(received) + missing, produced);
  // What the outages would have cost without the backlog: every row produced while the
  // link was down (more than 400 during the 900 ms away).
  EXPECT_LT(missing, 100) << "rows lost at the ends of connections: " << missing;
  RecordProperty("rows", produced);
  RecordProperty("missing_at_connection_ends", missing);
}

}  // namespace
