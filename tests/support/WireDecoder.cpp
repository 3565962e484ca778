#include "support/WireDecoder.h"

#include "support/WireBytes.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace testsupport {

namespace {

// Nesting deeper than this is refused instead of recursing without bound.
constexpr int kMaxDepth = 64;

using wirebytes::Fail;

uint64_t LoadU64(const char* p) { return wirebytes::Load(p, 8); }

// Reads little-endian words out of a byte range, refusing to step past its end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  size_t Left() const { return bytes_.size() - pos_; }
  size_t Pos() const { return pos_; }
  bool U64(uint64_t* out) {
    if (Left() < 8) return false;
    *out = LoadU64(bytes_.data() + pos_);
    pos_ += 8;
    return true;
  }
  // `count` words; false (nothing read) when they do not fit.
  bool Words(uint64_t count, std::vector<uint64_t>* out) {
    if (count > Left() / 8) return false;
    out->resize(count);
    for (auto& w : *out) U64(&w);
    return true;
  }
  std::string_view Rest() const { return bytes_.substr(pos_); }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

// Scalar code of a 1-D or 2-D number vector code, 0 when the code is neither.
uint8_t ElementCode(uint8_t type) {
  if (type >= wire::kInt8Vector && type <= wire::kDoubleVector) return type - wire::kInt8Vector + 1;
  if (type >= wire::kInt8Vector2D && type <= wire::kDoubleVector2D)
    return type - wire::kInt8Vector2D + 1;
  return 0;
}

WireNumber ReadNumber(uint8_t code, const char* p) {
  unsigned width = wire::kScalarWidth[code];
  uint64_t bits = wirebytes::Load(p, width);
  if (code == wire::kFloat) {
    uint32_t b32 = static_cast<uint32_t>(bits);
    float f;
    std::memcpy(&f, &b32, 4);
    return static_cast<double>(f);
  }
  if (code == wire::kDouble) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  bool isSigned = (code % 2) == 1;  // 1, 3, 5, 7 are the signed codes
  if (!isSigned) return bits;
  unsigned shift = 64 - 8 * width;
  return static_cast<int64_t>(bits << shift) >> shift;  // sign-extend
}

// Offsets of an item list: `count + 1` words, starting at 0, never falling, ending at
// exactly `dataSize`.
bool CheckOffsets(const std::vector<uint64_t>& offsets, uint64_t dataSize, std::string* error) {
  if (offsets.front() != 0) return Fail(error, "first item offset is not 0");
  for (size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] < offsets[i - 1]) return Fail(error, "item offsets fall back");
  if (offsets.back() != dataSize) return Fail(error, "last item offset differs from data length");
  return true;
}

bool DecodeItems(std::string_view value, std::vector<std::string>* items, std::string* error) {
  Reader r(value);
  uint64_t n;
  std::vector<uint64_t> offsets;
  if (!r.U64(&n) || n == std::numeric_limits<uint64_t>::max() || !r.Words(n + 1, &offsets))
    return Fail(error, "item list shorter than its count");
  std::string_view data = r.Rest();
  if (!CheckOffsets(offsets, data.size(), error)) return false;
  items->reserve(n);
  for (uint64_t i = 0; i < n; ++i)
    items->emplace_back(data.substr(offsets[i], offsets[i + 1] - offsets[i]));
  return true;
}

bool DecodeNumberVector(uint8_t code, std::string_view value, std::vector<WireNumber>* out,
                        std::string* error) {
  Reader r(value);
  uint64_t count;
  if (!r.U64(&count)) return Fail(error, "number vector without count");
  unsigned width = wire::kScalarWidth[code];
  if (count > r.Left() / width || r.Left() != count * width)
    return Fail(error, "number vector length disagrees with its count");
  out->reserve(count);
  for (uint64_t i = 0; i < count; ++i) out->push_back(ReadNumber(code, value.data() + 8 + i * width));
  return true;
}

// Row counts of a 2-D value and their sum, refusing a sum that overflows.
bool ReadRowCounts(Reader* r, std::vector<uint64_t>* counts, uint64_t* total, std::string* error) {
  uint64_t rows;
  if (!r->U64(&rows) || !r->Words(rows, counts)) return Fail(error, "2-D value shorter than its row counts");
  *total = 0;
  for (uint64_t c : *counts) {
    if (c > std::numeric_limits<uint64_t>::max() - *total) return Fail(error, "2-D row counts overflow");
    *total += c;
  }
  return true;
}

bool DecodeNumberRows(uint8_t code, std::string_view value, WireRecord* rec, std::string* error) {
  Reader r(value);
  std::vector<uint64_t> counts;
  uint64_t total;
  if (!ReadRowCounts(&r, &counts, &total, error)) return false;
  unsigned width = wire::kScalarWidth[code];
  if (total > r.Left() / width || r.Left() != total * width)
    return Fail(error, "2-D number value length disagrees with its row counts");
  const char* p = value.data() + r.Pos();
  for (uint64_t c : counts) {
    auto& row = rec->numberRows.emplace_back();
    for (uint64_t j = 0; j < c; ++j, p += width) row.push_back(ReadNumber(code, p));
  }
  return true;
}

bool DecodeTextRows(std::string_view value, WireRecord* rec, std::string* error) {
  Reader r(value);
  std::vector<uint64_t> counts, offsets;
  uint64_t total;
  if (!ReadRowCounts(&r, &counts, &total, error)) return false;
  if (total == std::numeric_limits<uint64_t>::max() || !r.Words(total + 1, &offsets))
    return Fail(error, "2-D text value shorter than its offsets");
  std::string_view data = r.Rest();
  if (!CheckOffsets(offsets, data.size(), error)) return false;
  uint64_t k = 0;
  for (uint64_t c : counts) {
    auto& row = rec->textRows.emplace_back();
    for (uint64_t j = 0; j < c; ++j, ++k) row.emplace_back(data.substr(offsets[k], offsets[k + 1] - offsets[k]));
  }
  return true;
}

bool DecodeImage(std::string_view image, WireContainer* out, int depth, std::string* error);

bool DecodeValue(WireRecord* rec, int depth, std::string* error) {
  std::string_view value = rec->raw;
  uint8_t t = rec->type;
  if (t >= wire::kInt8 && t <= wire::kDouble) {
    if (value.size() != wire::kScalarWidth[t]) return Fail(error, "scalar of wrong width");
    rec->numbers.push_back(ReadNumber(t, value.data()));
    return true;
  }
  if (t == wire::kString || t == wire::kBuffer) {
    rec->texts.emplace_back(value);
    return true;
  }
  if (t == wire::kStream) return DecodeImage(value, &rec->containers.emplace_back(), depth + 1, error);
  if (t == wire::kStringVector || t == wire::kBufferVector) return DecodeItems(value, &rec->texts, error);
  if (t == wire::kStreamVector) {
    std::vector<std::string> items;
    if (!DecodeItems(value, &items, error)) return false;
    for (const auto& item : items) {
      WireContainer& child = rec->containers.emplace_back();
      if (!item.empty() && !DecodeImage(item, &child, depth + 1, error)) return false;
    }
    return true;
  }
  if (t >= wire::kInt8Vector && t <= wire::kDoubleVector)
    return DecodeNumberVector(ElementCode(t), value, &rec->numbers, error);
  if (t >= wire::kInt8Vector2D && t <= wire::kDoubleVector2D)
    return DecodeNumberRows(ElementCode(t), value, rec, error);
  if (t == wire::kStringVector2D) return DecodeTextRows(value, rec, error);
  return true;  // a code without a value layout: the raw bytes are all there is
}

bool DecodeRecord(std::string_view bytes, WireRecord* rec, int depth, std::string* error) {
  if (bytes.size() < 9) return Fail(error, "record shorter than its header");
  rec->type = static_cast<uint8_t>(bytes[0]);
  if (rec->type > wire::kLastValid) return Fail(error, "record type code " + std::to_string(rec->type) + " out of range");
  uint64_t keyLength = LoadU64(bytes.data() + 1);
  if (keyLength > bytes.size() - 9) return Fail(error, "record key runs past the record");
  rec->key.assign(bytes.data() + 9, keyLength);
  rec->raw.assign(bytes.substr(9 + keyLength));
  if (!DecodeValue(rec, depth, error)) {
    if (error) *error = "record \"" + rec->key + "\": " + *error;
    return false;
  }
  return true;
}

bool DecodeImage(std::string_view image, WireContainer* out, int depth, std::string* error) {
  if (depth > kMaxDepth) return Fail(error, "containers nested too deeply");
  Reader r(image);
  uint64_t n;
  std::vector<uint64_t> dir;
  if (!r.U64(&n)) return Fail(error, "image shorter than its record count");
  if (n == std::numeric_limits<uint64_t>::max() || !r.Words(n + 1, &dir))
    return Fail(error, "image shorter than its directory");
  if (dir[0] != 8 * (n + 2)) return Fail(error, "first record does not follow the directory");
  if (dir[n] != image.size()) return Fail(error, "directory end " + std::to_string(dir[n]) +
                                                   " differs from image length " + std::to_string(image.size()));
  out->records.clear();
  out->records.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    if (dir[i + 1] <= dir[i] || dir[i + 1] > image.size())
      return Fail(error, "directory entry " + std::to_string(i + 1) + " out of order");
    if (!DecodeRecord(image.substr(dir[i], dir[i + 1] - dir[i]), &out->records.emplace_back(), depth, error))
      return false;
  }
  return true;
}

}  // namespace

const WireRecord* WireContainer::Find(std::string_view key) const {
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    if (it->key == key) return &*it;
  return nullptr;
}

bool WireContainer::GetText(std::string_view key, std::string* out) const {
  const WireRecord* r = Find(key);
  if (r == nullptr || r->type != wire::kString) return false;
  *out = r->texts[0];
  return true;
}

bool WireContainer::GetInt(std::string_view key, int64_t* out) const {
  const WireRecord* r = Find(key);
  if (r == nullptr || r->type < wire::kInt8 || r->type > wire::kInt64 || r->type % 2 == 0) return false;
  *out = std::get<int64_t>(r->numbers[0]);
  return true;
}

const WireContainer* WireContainer::GetNested(std::string_view key) const {
  const WireRecord* r = Find(key);
  if (r == nullptr || r->type != wire::kStream) return nullptr;
  return &r->containers[0];
}

bool DecodeContainer(std::string_view image, WireContainer* out, std::string* error) {
  return DecodeImage(image, out, 0, error);
}

bool DecodeMessage(std::string_view payload, WireContainer* out, std::string* error) {
  if (payload.substr(0, wire::kPrefix.size()) != wire::kPrefix) return Fail(error, "payload does not start with BS=");
  return DecodeContainer(payload.substr(wire::kPrefix.size()), out, error);
}

namespace {

template <typename T>
std::string Shortest(T v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

struct CellVisitor {
  std::string operator()(std::monostate) const { return "NULL"; }
  std::string operator()(int64_t v) const { return std::to_string(v); }
  std::string operator()(float v) const { return Shortest(v); }
  std::string operator()(double v) const { return Shortest(v); }
  std::string operator()(const std::string& v) const { return v; }
};

}  // namespace

std::string CellText(const WireCell& cell) { return std::visit(CellVisitor{}, cell); }

std::vector<std::string> RowTexts(const std::vector<WireCell>& row) {
  std::vector<std::string> out;
  out.reserve(row.size());
  for (const auto& cell : row) out.push_back(CellText(cell));
  return out;
}

int WireTable::Column(std::string_view name) const {
  for (size_t i = 0; i < colNames.size(); ++i)
    if (colNames[i] == name) return static_cast<int>(i);
  return -1;
}

}  // namespace testsupport
