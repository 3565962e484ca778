#pragma once

// Drives every reader of a loaded ByteStream, for the fuzz targets: every getter of every
// record under its own key, the element accessors and text forms at edge indexes, nested
// containers a few levels down, and the fixed points that must hold for any image that
// loads (its own image loads back to the same image; the contiguous mode builds the same
// image as separate records). A broken fixed point traps.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "record/ByteStream.h"

namespace bsfuzz {

inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

inline std::vector<char> ImageOf(const ByteStream& bs) {
  std::vector<char> image(bs.GetStreamSize());
  bs.GetStream(image.data());
  return image;
}

template <class T>
void ReadTexts(const ByteStreamBuffer& r, int indent) {
  (void)r.VectorValueToString<T>();
  (void)r.Vector2DValueToString<T>(indent);
  std::vector<std::vector<T>> rows;
  (void)r.GetVector2DValue(rows);
}

inline void ReadElements(const ByteStreamBuffer& r) {
  const uint64_t probes[] = {0, 1, 2, r.GetVectorSize(), r.GetVectorSize() - 1, UINT64_MAX,
                             UINT64_MAX / 8};
  (void)r.IsVectorType();
  (void)r.IsVector2DType();
  (void)r.GetVectorElemCount();
  // Touches the bytes an element's reported size promises (an empty text or row gives a
  // pointer to where it would start, which may be the record's end).
  auto touch = [](const char* p, uint64_t size) {
    for (uint64_t k = 0; p != nullptr && k < size && k < 16; ++k) {
      (void)*static_cast<const volatile char*>(p + k);
    }
  };
  for (uint64_t i : probes) {
    uint64_t size = r.IsVector2DType() ? r.GetVectorSize(i, 0) : r.GetVectorSize(i);
    touch(r.GetVectorElem(i), size);
    for (uint64_t j : probes) touch(r.GetVectorElem(i, j), r.GetVectorSize(i, j));
  }
  (void)r.ValueToString<std::string>();
  ReadTexts<int8_t>(r, 0);
  ReadTexts<uint8_t>(r, 0);
  ReadTexts<int16_t>(r, 0);
  ReadTexts<uint16_t>(r, 0);
  ReadTexts<int32_t>(r, 0);
  ReadTexts<uint32_t>(r, 0);
  ReadTexts<int64_t>(r, 0);
  ReadTexts<uint64_t>(r, 4);
  ReadTexts<float>(r, 0);
  ReadTexts<double>(r, 0);
  ReadTexts<std::string>(r, 8);
}

void ReadAll(const ByteStream& bs, int depth);

inline void ReadKey(const ByteStream& bs, const std::string& key, int depth) {
  bool b; char c; int8_t i8; uint8_t u8; int16_t i16; uint16_t u16; int32_t i32;
  uint32_t u32; int64_t i64; uint64_t u64; float f; double d; std::string s;
  bs.GetBool(key, b); bs.GetChar(key, c); bs.GetInt8(key, i8); bs.GetUInt8(key, u8);
  bs.GetInt16(key, i16); bs.GetUInt16(key, u16); bs.GetInt32(key, i32);
  bs.GetUInt32(key, u32); bs.GetInt64(key, i64); bs.GetUInt64(key, u64);
  bs.GetFloat(key, f); bs.GetDouble(key, d); bs.GetString(key, s);
  AppCore::CharBuffer buffer;
  bs.GetBuffer(key, buffer);
  uint64_t size = 0;
  bs.GetBufferPtr(key, size);
  std::vector<char> raw(bs.GetRecordValueSize(key) + 1);
  bs.GetBuffer(key, raw.data());
  std::vector<char*> pointers;
  std::vector<uint64_t> sizes;
  bs.GetBufferVector(key, pointers, sizes);
  std::vector<AppCore::CharBuffer> copies;
  bs.GetBufferVector(key, copies);
  std::vector<int8_t> vi8; std::vector<uint8_t> vu8; std::vector<int16_t> vi16;
  std::vector<uint16_t> vu16; std::vector<int32_t> vi32; std::vector<uint32_t> vu32;
  std::vector<int64_t> vi64; std::vector<uint64_t> vu64; std::vector<float> vf;
  std::vector<double> vd; std::vector<std::string> vs;
  bs.GetInt8Vector(key, vi8); bs.GetUInt8Vector(key, vu8); bs.GetInt16Vector(key, vi16);
  bs.GetUInt16Vector(key, vu16); bs.GetInt32Vector(key, vi32);
  bs.GetUInt32Vector(key, vu32); bs.GetInt64Vector(key, vi64);
  bs.GetUInt64Vector(key, vu64); bs.GetFloatVector(key, vf); bs.GetDoubleVector(key, vd);
  bs.GetStringVector(key, vs);
  std::vector<std::vector<int8_t>> mi8; std::vector<std::vector<uint8_t>> mu8;
  std::vector<std::vector<int16_t>> mi16; std::vector<std::vector<uint16_t>> mu16;
  std::vector<std::vector<int32_t>> mi32; std::vector<std::vector<uint32_t>> mu32;
  std::vector<std::vector<int64_t>> mi64; std::vector<std::vector<uint64_t>> mu64;
  std::vector<std::vector<float>> mf; std::vector<std::vector<double>> md;
  std::vector<std::vector<std::string>> ms;
  bs.GetInt8Vector2D(key, mi8); bs.GetUInt8Vector2D(key, mu8);
  bs.GetInt16Vector2D(key, mi16); bs.GetUInt16Vector2D(key, mu16);
  bs.GetInt32Vector2D(key, mi32); bs.GetUInt32Vector2D(key, mu32);
  bs.GetInt64Vector2D(key, mi64); bs.GetUInt64Vector2D(key, mu64);
  bs.GetFloatVector2D(key, mf); bs.GetDoubleVector2D(key, md);
  bs.GetStringVector2D(key, ms);
  if (depth >= 3) return;
  for (bool view : {false, true}) {
    ByteStream child(view);
    if (bs.GetStream(key, child)) ReadAll(child, depth + 1);
  }
  std::vector<ByteStream> children;
  bs.GetStreamVector(key, children);
  for (const auto& child : children) ReadAll(child, depth + 1);
}

inline void ReadAll(const ByteStream& bs, int depth) {
  for (uint64_t i = 0; i < bs.records.size(); ++i) {
    ReadElements(bs.records[i]);
    ReadKey(bs, bs.GetRecordKey(i), depth);
  }
  std::vector<uint64_t> entries;
  Require(bs.GetPosList(entries) == bs.records.size());
  // Any loaded container's image is a fixed point of image, load, image.
  std::vector<char> image = ImageOf(bs);
  Require(ByteStream::ValidateStream(image.data(), image.size()));
  ByteStream again;
  Require(again.LoadStream(image.data(), image.size()));
  Require(ImageOf(again) == image);
  std::vector<char> range(image.size() / 2 + 1);
  bs.GetStreamView(range.data(), image.size() / 3, range.size());
  Require(std::memcmp(range.data(), image.data() + image.size() / 3,
                      std::min(range.size(), image.size() - image.size() / 3)) == 0);
}

// The same records copied into a contiguous container and into separate records give the
// same image.
inline void CompareModes(ByteStream& bs) {
  ByteStream separate, contiguous;
  Require(contiguous.PreAllocate({}, ""));
  for (uint64_t i = 0; i < bs.records.size(); ++i) {
    std::string key = bs.GetRecordKey(i);
    separate.CopyEntry(bs, key);
    contiguous.CopyEntry(bs, key);
  }
  Require(contiguous.mode == 2);
  Require(ImageOf(contiguous) == ImageOf(separate));
}

// Loads `data` both ways with `load` and reads everything.
template <class LoadFn>
void Run(const uint8_t* data, size_t size, LoadFn load) {
  std::unique_ptr<char[]> bytes(new char[size]);  // exactly `size`: any overread is caught
  if (size > 0) std::memcpy(bytes.get(), data, size);
  for (bool view : {false, true}) {
    ByteStream bs(view);
    if (!load(bs, bytes.get(), size)) continue;
    ReadAll(bs, 0);
    if (!view) CompareModes(bs);
  }
}

}  // namespace bsfuzz
