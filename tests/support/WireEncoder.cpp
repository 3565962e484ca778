#include "support/WireEncoder.h"

#include <cstring>

#include "support/WireBytes.h"

namespace testsupport {

namespace {

using wirebytes::Put;

void PutU64(std::string* out, uint64_t v) { Put(out, v, 8); }

// Layout of an item list: count, count + 1 offsets from the start of the item bytes, items.
std::string ItemList(const std::vector<std::string>& items) {
  std::string value;
  PutU64(&value, items.size());
  uint64_t offset = 0;
  PutU64(&value, 0);
  for (const auto& item : items) PutU64(&value, offset += item.size());
  for (const auto& item : items) value += item;
  return value;
}

}  // namespace

WireImage& WireImage::Raw(uint8_t type, std::string_view key, std::string_view value) {
  std::string rec;
  rec.push_back(static_cast<char>(type));
  PutU64(&rec, key.size());
  rec.append(key);
  rec.append(value);
  records_.push_back(std::move(rec));
  return *this;
}

WireImage& WireImage::Text(std::string_view key, std::string_view value) { return Raw(wire::kString, key, value); }

WireImage& WireImage::Int32(std::string_view key, int32_t value) {
  std::string v;
  Put(&v, static_cast<uint32_t>(value), 4);
  return Raw(wire::kInt32, key, v);
}

WireImage& WireImage::Int64(std::string_view key, int64_t value) {
  std::string v;
  PutU64(&v, static_cast<uint64_t>(value));
  return Raw(wire::kInt64, key, v);
}

WireImage& WireImage::Double(std::string_view key, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  std::string v;
  PutU64(&v, bits);
  return Raw(wire::kDouble, key, v);
}

WireImage& WireImage::Buffer(std::string_view key, std::string_view bytes) { return Raw(wire::kBuffer, key, bytes); }

WireImage& WireImage::Nested(std::string_view key, const WireImage& child) {
  return Raw(wire::kStream, key, child.Image());
}

WireImage& WireImage::Int32Vector(std::string_view key, const std::vector<int32_t>& values) {
  std::string v;
  PutU64(&v, values.size());
  for (int32_t x : values) Put(&v, static_cast<uint32_t>(x), 4);
  return Raw(wire::kInt32Vector, key, v);
}

WireImage& WireImage::StringVector(std::string_view key, const std::vector<std::string>& items) {
  return Raw(wire::kStringVector, key, ItemList(items));
}

WireImage& WireImage::BufferVector(std::string_view key, const std::vector<std::string>& items) {
  return Raw(wire::kBufferVector, key, ItemList(items));
}

WireImage& WireImage::StreamVector(std::string_view key, const std::vector<WireImage>& items) {
  std::vector<std::string> images;
  for (const auto& item : items) images.push_back(item.Image());
  return Raw(wire::kStreamVector, key, ItemList(images));
}

std::string WireImage::Image() const {
  std::string out;
  uint64_t n = records_.size();
  PutU64(&out, n);
  uint64_t at = 8 * (n + 2);
  PutU64(&out, at);
  for (const auto& rec : records_) PutU64(&out, at += rec.size());
  for (const auto& rec : records_) out += rec;
  return out;
}

std::string WireImage::Message() const { return std::string(wire::kPrefix) + Image(); }

std::string EncodeReply(std::string_view func, std::string_view msid) {
  return WireImage().Text("Func", func).Text("MSID", msid).Message();
}

std::string EncodeFailure(std::string_view msid, std::string_view detail, bool withDetail) {
  WireImage image;
  image.Text("Func", "ERR").Text("MSID", msid);
  if (withDetail) image.Text("Detail", detail);
  return image.Message();
}

std::string MalformedFrame(Malformed kind) {
  std::string reply = EncodeReply("API", "m1");
  switch (kind) {
    case Malformed::kTwoBytes: return "BS";
    case Malformed::kBadPrefix: return "XY=" + reply.substr(3);
    case Malformed::kPrefixOnly: return "BS=";
    case Malformed::kTruncatedImage: return reply.substr(0, reply.size() - 1);
    case Malformed::kDirectoryPastEnd: {
      std::string frame = reply;
      frame[3 + 8 + 8 * 2] = static_cast<char>(frame[3 + 8 + 8 * 2] + 1);  // last directory entry + 1
      return frame;
    }
    case Malformed::kHugeCount: {
      std::string frame = reply;
      for (int i = 0; i < 8; ++i) frame[3 + i] = static_cast<char>(0xFF);
      return frame;
    }
    case Malformed::kBadTypeCode: return WireImage().Text("Func", "API").Raw(200, "MSID", "m1").Message();
    case Malformed::kKeyPastRecord: {
      std::string frame = reply;
      frame[3 + 8 * 4 + 1] = 100;  // key length of the first record
      return frame;
    }
    case Malformed::kNoFunc: return WireImage().Text("MSID", "m1").Message();
    case Malformed::kNoMsid: return WireImage().Text("Func", "API").Message();
  }
  return {};
}

}  // namespace testsupport
