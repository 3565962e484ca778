// The client's targets: registration, row intake, update and clear messages.

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>

#include "foundation/LogManager.h"
#include "record/ByteStream.h"
#include "service/MessageFormat.h"
#include "service/TargetData.h"
#include "service/TvxClient.h"
#include "table/MiniFrad.h"

namespace {

std::string TargetKey(const std::string& alias, const std::string& database,
                      const std::string& table) {
  return alias + "/" + database + "/" + table;
}

// A name that stays one path component below its parent: not empty, not "." or "..", no
// separator and no NUL byte (which would cut the path short).
bool IsPlainComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// The target's table file under `root`, or an empty path when a name would lead elsewhere.
std::filesystem::path TableFilePath(const std::string& root, const std::string& alias,
                                    const std::string& database, const std::string& table) {
  if (!IsPlainComponent(alias) || !IsPlainComponent(database) || !IsPlainComponent(table)) {
    return {};
  }
  return std::filesystem::path(root) / ("OSTREL." + alias) / database / (table + ".ostrel");
}

// Index of the first column named `key` exactly; -1 for an empty key or no such column.
int32_t KeyColumn(const MiniFrad& frad, const std::string& key) {
  if (key.empty()) return -1;
  for (size_t i = 0; i < frad.ColNames.size(); ++i) {
    if (frad.ColNames[i] == key) return static_cast<int32_t>(i);
  }
  return -1;
}

std::unique_ptr<TargetData> MakeTarget(const std::string& alias, const std::string& database,
                                       const std::string& table, const std::string& action) {
  auto target = std::make_unique<TargetData>();
  target->alias = alias;
  target->dbName = database;
  target->tableName = table;
  target->event = action;
  return target;
}

}  // namespace

bool TvxClient::NewTarget(const std::string& alias, const std::string& database,
                          const std::string& table, const std::string& action,
                          const std::string& key) {
  const std::string targetKey = TargetKey(alias, database, table);
  if (targets.count(targetKey) != 0) return true;

  const std::filesystem::path path = TableFilePath(tableRoot, alias, database, table);
  if (path.empty()) {
    LogManager::Global << "Refused target name outside the table files: " + targetKey;
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return false;

  // The schema is read from a view of the mapped file; only the shape is kept.
  ByteStream file(true);
  if (!file.Read(path.string())) return false;
  MiniFrad schema;
  // A container without table records loads as a table without columns: no target.
  if (!schema.Load(&file, true) || schema.NbCols == 0) return false;

  std::unique_ptr<TargetData> target = MakeTarget(alias, database, table, action);
  target->frad.New("");
  if (!target->frad.Set(0, schema.ColNames, schema.ColTypes, schema.ColSizes)) return false;
  target->keyIndex = KeyColumn(schema, key);
  targets[targetKey] = target.release();
  return true;
}

bool TvxClient::NewTarget(const std::string& alias, const std::string& database,
                          const std::string& table, const std::string& action,
                          const std::string& /*key*/, MiniFrad frad) {
  const std::string targetKey = TargetKey(alias, database, table);
  if (targets.count(targetKey) != 0) return true;
  std::unique_ptr<TargetData> target = MakeTarget(alias, database, table, action);
  target->frad = std::move(frad);
  targets[targetKey] = target.release();
  return true;
}

TargetData* TvxClient::GetTarget(const std::string& alias, const std::string& database,
                                 const std::string& table) {
  auto it = targets.find(TargetKey(alias, database, table));
  return it == targets.end() ? nullptr : it->second;
}

MiniFrad& TvxClient::GetTargetFrad(const std::string& alias, const std::string& database,
                                   const std::string& table) {
  static MiniFrad NullMF;
  TargetData* target = GetTarget(alias, database, table);
  return target == nullptr ? NullMF : target->frad;
}

void TvxClient::UpdateTarget(const std::string& alias, const std::string& database,
                             const std::string& table, const std::vector<std::string>& row) {
  UpdateTargetRows(GetTarget(alias, database, table), &row, 1);
}

void TvxClient::UpdateTargetRows(TargetData* target, const std::vector<std::string>* rows,
                                 size_t count) {
  if (target == nullptr || count == 0) return;
  std::lock_guard<std::mutex> lock(target->mutex);
  for (size_t i = 0; i < count; ++i) target->frad.AddRow(rows[i]);
  target->pending = true;
}

namespace {

// Why a target holds rows over the backlog cap, for the line that says it dropped some.
const char* BacklogCause(bool open, bool linkFull) {
  if (!open) return "link not open";
  return linkFull ? "link full" : "no answer from the server yet";
}

}  // namespace

void TvxClient::SendTargetUpdates() {
  const bool open = Status == kOpen;
  // Measured once a period: the figure is the network thread's last measure anyway.
  const bool linkFull = open && unsentBytes && unsentBytes() > maxUnsentBytes;
  ByteStream msg(false);  // one container for every clear owed in this call
  bool unasked = false;   // messages went out that no ping follows yet
  for (auto& entry : targets) {
    TargetData& target = *entry.second;
    {
      std::lock_guard<std::mutex> lock(target.mutex);
      ReleaseConfirmed(target);
      TrimBacklog(entry.first, target, BacklogCause(open, linkFull));
    }
    // The rows wait here rather than pile up in the link. A target set pending meanwhile
    // waits one period.
    if (open && !linkFull && (target.pending || target.clearOwed)) unasked |= SendTarget(target, msg);
  }
  // Its answer shows that the server read every message above.
  if (unasked && pingSink) pingSink();
}

bool TvxClient::SendTarget(TargetData& target, ByteStream& msg) {
  std::lock_guard<std::mutex> sendLock(target.sendMutex);
  // An owed clear goes first; the ping after this period's messages confirms it too.
  bool unasked = target.clearOwed;
  if (unasked && !SendClear(target, msg)) return false;
  std::unique_lock<std::mutex> lock(target.mutex);
  if (!target.pending) return unasked;
  target.pending = false;
  // Rows added from here on set pending again and wait for the next period. The rows
  // before `first` are on their way already.
  const int64_t last = target.frad.NbRows;
  int64_t first = target.keepRows ? 0 : target.sentRows;
  while (first < last) {
    const int64_t end = target.keepRows ? last : std::min(last, MessageEnd(target.frad, first));
    target.image.Prepare(target, first, end);
    // Producers are never blocked by the network: the lock is released as soon as the image
    // is in the frame. A refused message leaves the rows pending for the next period.
    const bool sent = ImplSendMsg(target.image, lock);
    if (!lock.owns_lock()) lock.lock();
    if (!sent) {
      target.pending = true;
      break;
    }
    unasked = true;
    if (target.keepRows) break;
    // Read after the frame was queued, so the ping it names follows the frame.
    target.inFlight.push_back({pings.ticket.load(), end - first});
    target.sentRows = first = end;
    if (first < last && pingSink) {
      // A long backlog goes out in messages of about maxUnsentBytes, each followed by a
      // ping, so that a server busy with one still answers within the silence limit.
      pingSink();
      unasked = false;
    }
  }
  ReleaseConfirmed(target);
  return unasked;
}

int64_t TvxClient::MessageEnd(const MiniFrad& table, int64_t first) const {
  const int64_t rows = table.NbRows - first;
  const uint64_t bytes = table.RowBytes(first, table.NbRows);
  if (rows <= 1 || bytes <= maxUnsentBytes) return table.NbRows;
  const uint64_t fit = static_cast<uint64_t>(rows) * maxUnsentBytes / bytes;
  return first + std::max<int64_t>(1, static_cast<int64_t>(fit));
}

void TvxClient::ReleaseConfirmed(TargetData& target) {
  const uint64_t confirmed = pings.confirmed;
  int64_t read = 0;
  while (!target.inFlight.empty() && target.inFlight.front().ticket <= confirmed) {
    read += target.inFlight.front().rows;
    target.inFlight.pop_front();
  }
  if (read == 0) return;
  target.frad.DropFirstRows(read);  // rows added meanwhile stay
  target.sentRows -= read;
}

void TvxClient::RewindUnconfirmed() {
  const uint64_t confirmed = pings.confirmed;
  for (auto& entry : targets) {
    TargetData& target = *entry.second;
    std::lock_guard<std::mutex> sendLock(target.sendMutex);
    std::lock_guard<std::mutex> lock(target.mutex);
    ReleaseConfirmed(target);
    target.inFlight.clear();
    target.sentRows = 0;
    // A clear the server may not have read goes out again, before the rows that follow it.
    if (target.clearTicket > confirmed) target.clearOwed = true;
    target.clearTicket = 0;
    // A table sent whole goes out again too: the server may have missed its last state.
    if (target.frad.NbRows > 0) target.pending = true;
    TrimBacklog(entry.first, target, BacklogCause(false, false));
  }
}

bool TvxClient::SendClear(TargetData& target, ByteStream& msg) {
  BuildClearMessage(target, msg);
  const bool sent = ImplSendMsg(msg);
  target.clearOwed = !sent;
  // Read after the frame was queued, so the ping it names follows the clear.
  target.clearTicket = sent ? pings.ticket.load() : 0;
  return sent;
}

void TvxClient::TrimBacklog(const std::string& key, TargetData& target, const char* why) {
  if (!target.keepRows && target.frad.NbRows > maxBacklogRows) {
    const int64_t dropped = target.frad.NbRows - maxBacklogRows;
    target.frad.DropFirstRows(dropped);
    // The oldest rows are the ones sent and not yet confirmed: they are given up with the rest.
    for (int64_t left = dropped; left > 0 && !target.inFlight.empty();) {
      TargetData::SentBatch& batch = target.inFlight.front();
      const int64_t taken = std::min(left, batch.rows);
      batch.rows -= taken;
      target.sentRows -= taken;
      left -= taken;
      if (batch.rows == 0) target.inFlight.pop_front();
    }
    target.droppedRows += dropped;
    target.dropWhy = why;
  }
  // Rows dropped in a throttled second are told in the first period after it, dropping or not.
  if (target.droppedRows == 0 || !target.dropLog.Due()) return;
  LogManager::Global << "Target " + key + ": " + target.dropWhy + ", dropped the oldest " +
                            std::to_string(target.droppedRows) + " rows over the backlog of " +
                            std::to_string(maxBacklogRows);
  target.droppedRows = 0;
}

void TvxClient::ResetTarget(const std::string& alias, const std::string& database,
                            const std::string& table) {
  TargetData* target = GetTarget(alias, database, table);
  if (target == nullptr) return;
  // Waits for a send of the target under way: its rows were taken before this reset.
  std::lock_guard<std::mutex> sendLock(target->sendMutex);
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    if (!target->keepRows) {
      target->frad.DeleteAllRows();
      target->inFlight.clear();
      target->sentRows = 0;
    }
    target->pending = false;
  }
  ByteStream msg(false);
  // Rows added from here on go out after it; the ping asks the server to confirm it.
  if (SendClear(*target, msg) && pingSink) pingSink();
}
