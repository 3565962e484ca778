#include "tools/standin/StandInRecord.h"

#include <fstream>
#include <iterator>

namespace standin {

namespace {

void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t GetU64(const std::string& in, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[at + i]);
  return v;
}

constexpr size_t kHeader = 17;

}  // namespace

void DecodeReceived(Received* r) {
  r->decoded = testsupport::DecodeMessage(r->payload, &r->message, &r->error);
  if (const testsupport::WireContainer* data = r->decoded ? r->message.GetNested("Data") : nullptr)
    r->hasTable = testsupport::DecodeTable(*data, &r->table, &r->error);
}

bool AppendRecord(std::FILE* file, const Received& r) {
  std::string head;
  PutU64(&head, r.payload.size());
  head.push_back(static_cast<char>((r.compressed ? 1 : 0) | (r.binary ? 2 : 0)));
  PutU64(&head, r.connection);
  return std::fwrite(head.data(), 1, head.size(), file) == head.size() &&
         std::fwrite(r.payload.data(), 1, r.payload.size(), file) == r.payload.size() && std::fflush(file) == 0;
}

std::vector<Received> ReadRecordFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Received> out;
  for (size_t at = 0; bytes.size() - at >= kHeader;) {
    uint64_t length = GetU64(bytes, at);
    if (length > bytes.size() - at - kHeader) break;  // the writer is still at it
    Received& r = out.emplace_back();
    r.seq = out.size();
    r.compressed = bytes[at + 8] & 1;
    r.binary = bytes[at + 8] & 2;
    r.connection = GetU64(bytes, at + 9);
    r.payload = bytes.substr(at + kHeader, length);
    DecodeReceived(&r);
    at += kHeader + length;
  }
  return out;
}

}  // namespace standin
