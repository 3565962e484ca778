#include "service/MessageFormat.h"

#include <array>
#include <cstring>

#include "record/ByteStreamFormat.h"
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

// The records of an update message in image order: key, type and value bytes (null for
// "Data", whose value is the table image).
struct UpdateRecord {
  const char* key;
  ByteStreamDataType type;
  const char* value;
  uint64_t size;
};

std::array<UpdateRecord, UpdateImage::kRecordCount> UpdateRecords(const TargetData& target, uint64_t dataSize) {
  auto text = [](const char* key, const std::string& value) {
    return UpdateRecord{key, dt_string, value.data(), value.size()};
  };
  static const std::string kApi = MessageKeys::kFuncApi;
  return {{text(MessageKeys::kFunc, kApi), text(MessageKeys::kDBAlias, target.alias),
           text(MessageKeys::kDBName, target.dbName),
           text(MessageKeys::kTableName, target.tableName),
           text(MessageKeys::kEvent, target.event),
           {MessageKeys::kKeyIndex, dt_int32, reinterpret_cast<const char*>(&target.keyIndex),
            sizeof target.keyIndex},
           {MessageKeys::kData, dt_stream, nullptr, dataSize}}};
}

}  // namespace

ByteStream InitBStream(const std::string& func, const std::string& msid) {
  ByteStream msg(false);
  AddHead(msg, func, msid);
  return msg;
}

void UpdateImage::Prepare(const TargetData& target, int64_t first, int64_t end) {
  target_ = &target;
  data_.Prepare(target.frad, "", first, end);
  const auto records = UpdateRecords(target, data_.Size());
  for (size_t i = 0; i < records.size(); ++i) {
    recordSizes_[i] = bsformat::kRecordHeaderSize + std::strlen(records[i].key) + records[i].size;
  }
}

uint64_t UpdateImage::Size() const { return bsformat::ImageSize(recordSizes_, kRecordCount); }

void UpdateImage::Write(char* dst) const {
  char* p = bsformat::WriteImageHead(dst, recordSizes_, kRecordCount);
  for (const UpdateRecord& r : UpdateRecords(*target_, data_.Size())) {
    p = bsformat::WriteRecordHead(p, r.type, r.key, std::strlen(r.key));
    if (r.value == nullptr) {
      data_.Write(p);
    } else if (r.size > 0) {
      std::memcpy(p, r.value, r.size);
    }
    p += r.size;
  }
}

void BuildClearMessage(const TargetData& target, ByteStream& msg) {
  AddTargetHead(target, msg);
  msg.AddString(MessageKeys::kEvent, MessageKeys::kEventClear);
}
