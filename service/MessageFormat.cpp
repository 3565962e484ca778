#include "service/MessageFormat.h"

#include "service/TargetData.h"

namespace {

void AddHead(ByteStream& msg, const std::string& func, const std::string& msid) {
  msg.AddString(MessageKeys::kFunc, func);
  if (!msid.empty()) msg.AddString(MessageKeys::kMsid, msid);
}

// "Func" = "API" and the target's three names.
void AddTargetHead(const TargetData& target, ByteStream& msg) {
  msg.Reset();
  AddHead(msg, MessageKeys::kFuncApi, "");
  msg.AddString(MessageKeys::kDBAlias, target.alias);
  msg.AddString(MessageKeys::kDBName, target.dbName);
  msg.AddString(MessageKeys::kTableName, target.tableName);
}

}  // namespace

ByteStream InitBStream(const std::string& func, const std::string& msid) {
  ByteStream msg(false);
  AddHead(msg, func, msid);
  return msg;
}

void BuildUpdateMessage(const TargetData& target, ByteStream& msg) {
  AddTargetHead(target, msg);
  msg.AddString(MessageKeys::kEvent, target.event);
  msg.AddInt32(MessageKeys::kKeyIndex, target.keyIndex);
  msg.AddStream(MessageKeys::kData, target.frad.ToByteStream("", ""));
}

void BuildClearMessage(const TargetData& target, ByteStream& msg) {
  AddTargetHead(target, msg);
  msg.AddString(MessageKeys::kEvent, MessageKeys::kEventClear);
}
