#pragma once

// Messages on the link to the data server, in both directions.
//
// Every message is one binary WebSocket frame whose payload is the three bytes "BS="
// (TvxClient::BSPrefix, no terminator) followed by the image of a record container
// (record/ByteStreamFormat.h). Records, in image order:
//
// Table update, sent once per update period for each target with new rows:
//   "Func"      text      "API"
//   "DBAlias"   text      the target's alias
//   "DBName"    text      the target's database name
//   "TableName" text      the target's table name
//   "Event"     text      the target's action ("UPSERT" or "CREATE")
//   "KeyIndex"  int32     index of the key column, -1 when none
//   "Data"      stream    the target's table image (MiniFrad::ToByteStream("", ""))
//
// Table clear, sent by a reset of the target:
//   "Func", "DBAlias", "DBName", "TableName" as above, then "Event" text "CLEAR".
//
// Reply from the data server (read by TvxClient::ReceiveFrame):
//   "Func"      text      required; "ERR" marks a failure reply
//   "MSID"      text      required; the identifier whose callback answers it
//   "Detail"    text      optional, read only from a failure reply
//
// A message that expects a reply carries "MSID" right after "Func" (InitBStream); the
// service's own updates and clears carry none.

#include <cstddef>
#include <cstdint>
#include <string>

#include "record/ByteStream.h"
#include "table/TableImage.h"

struct TargetData;

namespace MessageKeys {
inline constexpr char kFunc[] = "Func";
inline constexpr char kMsid[] = "MSID";
inline constexpr char kDetail[] = "Detail";
inline constexpr char kDBAlias[] = "DBAlias";
inline constexpr char kDBName[] = "DBName";
inline constexpr char kTableName[] = "TableName";
inline constexpr char kEvent[] = "Event";
inline constexpr char kKeyIndex[] = "KeyIndex";
inline constexpr char kData[] = "Data";

inline constexpr char kFuncApi[] = "API";
inline constexpr char kFuncError[] = "ERR";
inline constexpr char kEventClear[] = "CLEAR";
}  // namespace MessageKeys

// A new writable container holding "Func" = func and, when msid is not empty, "MSID".
ByteStream InitBStream(const std::string& func, const std::string& msid);

// The update message of a target as an image written straight into a frame's payload:
// the same bytes as a container holding the records above, without building one. Prepare
// sizes it for the table's rows [first, end) (end -1: to the last row); Write writes Size()
// bytes. The caller holds the target's mutex from Prepare
// until Write returns (both read the table). Kept with its target: the table's schema
// records are reused from one message to the next. Not thread-safe.
class UpdateImage {
 public:
  static constexpr size_t kRecordCount = 7;  // "Func" .. "KeyIndex", then "Data"

  void Prepare(const TargetData& target, int64_t first = 0, int64_t end = -1);
  uint64_t Size() const;
  void Write(char* dst) const;

 private:
  const TargetData* target_ = nullptr;
  TableImage data_;
  uint64_t recordSizes_[kRecordCount] = {};
};

// Replaces the contents of `msg` with the clear message of `target`.
void BuildClearMessage(const TargetData& target, ByteStream& msg);
