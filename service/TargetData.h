#pragma once

// TargetData: one table of the data server that the service feeds, named by a database
// alias, a database name and a table name, with the action of its route and the index of
// its key column. The client owns one per target (TvxClient::targets, keyed by
// alias + "/" + database + "/" + table) and deletes them when it is destroyed.
//
// Delivery: rows leave `frad` only once the data server has shown it read them. The first
// `sentRows` rows went out on the current connection and wait for that confirmation, in the
// batches of `inFlight`; the rows after them are not sent yet. A clear is owed until the
// server has shown it read it too. When the connection is lost an unconfirmed clear is owed
// again and the sent rows count as unsent again: both go out first on the next one.
//
// Threading: `frad`, `keepRows`, the rows, `sentRows`, `inFlight` and the drop count are
// used only under `mutex`. `pending` is also read without the lock by the update cycle's
// first test, so it is atomic; it is written under the lock. A producer that writes cells
// in place takes `mutex` (through TvxClient::GetTarget) and sets `pending` itself. Sending
// a message of the target takes `sendMutex` first (below).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "foundation/LogThrottle.h"
#include "service/MessageFormat.h"
#include "table/MiniFrad.h"

struct TargetData {
  std::string alias;
  std::string dbName;
  std::string tableName;
  std::string event;  // the route's action, sent as the message's "Event"
  // The rows collected since the last update (with keepRows, the whole table).
  MiniFrad frad;
  int32_t keyIndex = -1;  // index of the key column in frad; -1 when none
  std::atomic<bool> pending{false};  // frad changed since the last update message
  bool keepRows = false;  // rows stay after an update and after a reset
  // Rows at the head of frad sent on the current connection and not yet confirmed (always
  // 0 with keepRows).
  int64_t sentRows = 0;
  // The messages those rows went in, oldest first: a message is read once the server
  // answers a ping numbered `ticket` or later (TvxClient::pings).
  struct SentBatch {
    uint64_t ticket;
    int64_t rows;
  };
  std::deque<SentBatch> inFlight;
  // Rows the backlog cap dropped since the last line saying so, the link's state at the
  // last drop, and the throttle of those lines (update cycle only).
  int64_t droppedRows = 0;
  const char* dropWhy = "";
  LogThrottle dropLog{std::chrono::seconds(1)};
  // The update message's image, kept from one send to the next (used under `mutex`).
  UpdateImage image;
  std::mutex mutex;
  // Held from the build of a message of the target to the end of its send, and taken
  // before `mutex`: a reset cannot clear the rows of an update between its build and its
  // send, and the target's messages reach the link in the order they were decided.
  std::mutex sendMutex;
  // A clear the link refused, or one sent on a link lost before the server confirmed it:
  // sent before any later update. Written under sendMutex; also read without it by the
  // update cycle's first test.
  std::atomic<bool> clearOwed{false};
  // The ping whose answer confirms the last clear sent (TvxClient::pings); under
  // sendMutex.
  uint64_t clearTicket = 0;
};
