#include "tools/standin/StandInRecord.h"

#include <fstream>
#include <iterator>

#include "support/WireBytes.h"

namespace standin {

namespace {

void PutU64(std::string* out, uint64_t v) { testsupport::wirebytes::Put(out, v, 8); }

uint64_t GetU64(const std::string& in, size_t at) { return testsupport::wirebytes::Load(&in[at], 8); }

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
