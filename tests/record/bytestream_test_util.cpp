#include "bytestream_test_util.h"

#include <fstream>
#include <iterator>

namespace bstest {

void PutU64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void PutText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Record(uint8_t type, const std::string& key, const Bytes& value) {
  Bytes out;
  out.push_back(static_cast<char>(type));
  PutU64(out, key.size());
  PutText(out, key);
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

Bytes Image(const std::vector<Bytes>& records) {
  Bytes out;
  PutU64(out, records.size());
  uint64_t at = 8 * (records.size() + 2);
  for (const auto& r : records) {
    PutU64(out, at);
    at += r.size();
  }
  PutU64(out, at);
  for (const auto& r : records) out.insert(out.end(), r.begin(), r.end());
  return out;
}

Bytes ImageOf(const ByteStream& bs) {
  Bytes out(bs.GetStreamSize());
  bs.GetStream(out.data());
  return out;
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

uint64_t GetU64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace bstest
