// The container object: image and directory, loading, lookups, records and copies.
#include "record/ByteStream.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "record/ByteStreamFormat.h"

using bsformat::kEmptyImageSize;
using bsformat::kWord;
using bsformat::LoadU64;
using bsformat::StoreU64;

namespace {

// An owned record holding a copy of `size` bytes at `bytes`.
ByteStreamBuffer OwnedCopy(const char* bytes, uint64_t size) {
  ByteStreamBuffer record(false);
  record.data = static_cast<char*>(std::malloc(size));
  if (record.data == nullptr) throw std::bad_alloc();
  record.size = size;
  std::memcpy(record.data, bytes, size);
  return record;
}

}  // namespace

ByteStream::ByteStream(bool readOnly)
    : readOnly(readOnly), mode(readOnly ? 0 : 1), file(true), streamSize(kEmptyImageSize) {}

ByteStream::ByteStream(ByteStream&& other) noexcept
    : readOnly(other.readOnly),
      mode(other.mode),
      buffer(std::move(other.buffer)),
      file(std::move(other.file)),
      records(std::move(other.records)),
      keyMap(std::move(other.keyMap)),
      streamSize(other.streamSize) {
  other.DropRecords();
}

ByteStream& ByteStream::operator=(ByteStream&& other) noexcept {
  if (this != &other) {
    DropRecords();  // before the memory they may view goes
    readOnly = other.readOnly;
    mode = other.mode;
    buffer = std::move(other.buffer);
    file = std::move(other.file);
    records = std::move(other.records);
    keyMap = std::move(other.keyMap);
    streamSize = other.streamSize;
    other.DropRecords();
  }
  return *this;
}

ByteStream::~ByteStream() { DropRecords(); }

uint64_t ByteStream::GetStreamSize() const { return streamSize; }

char* ByteStream::ImageData() const {
  if (mode == 2) return reinterpret_cast<char*>(buffer.data);
  if (mode == 3) return reinterpret_cast<char*>(file.view);
  return nullptr;
}

uint64_t ByteStream::GetPosList(std::vector<uint64_t>& out) const {
  if (const char* image = ImageData()) {
    uint64_t n = LoadU64(image);
    out.resize(n + 1);
    std::memcpy(out.data(), image + kWord, (n + 1) * kWord);
    return n;
  }
  uint64_t n = records.size();
  out.resize(n + 1);
  out[0] = kWord * (n + 2);
  for (uint64_t i = 0; i < n; ++i) out[i + 1] = out[i] + records[i].size;
  return n;
}

void ByteStream::GetStream(char* dst) const {
  if (const char* image = ImageData()) {  // already the image, byte for byte
    std::memcpy(dst, image, streamSize);
    return;
  }
  std::vector<uint64_t> entries;
  uint64_t n = GetPosList(entries);
  StoreU64(dst, n);
  std::memcpy(dst + kWord, entries.data(), (n + 1) * kWord);
  for (uint64_t i = 0; i < n; ++i) {
    std::memcpy(dst + entries[i], records[i].data, records[i].size);
  }
}

bool ByteStream::LoadStream(char* data, uint64_t length) {
  if (data == nullptr || length < kWord) return false;
  if (OwnsBytes(data)) {  // the Reset below would free them before they are read
    std::vector<char> copy(data, data + length);
    return LoadStream(copy.data(), length);
  }
  if (!readOnly) mode = 1;
  Reset();
  return LoadImage(data, length, readOnly);
}

bool ByteStream::LoadImage(char* data, uint64_t length, bool view) {
  return bsformat::ScanImage(data, length, [&](uint64_t offset, uint64_t size) {
    ByteStreamBuffer record(view);
    if (view) {
      record.SetView(data + offset, size);
    } else {
      record = OwnedCopy(data + offset, size);
    }
    keyMap[record.GetKey()] = static_cast<int64_t>(records.size());
    streamSize += kWord + size;
    records.push_back(std::move(record));
  });
}

bool ByteStream::ValidateStream(char* data, uint64_t length) {
  if (data == nullptr || length < kWord) return false;
  uint64_t n = LoadU64(data), start;
  if (!bsformat::RecordsStart(n, &start) || start > length) return false;
  return LoadU64(data + kWord * (n + 1)) == length;
}

bool ByteStream::OwnsBytes(const char* p) const {
  for (const auto& record : records) {
    if (record.owned && p >= record.data && p < record.data + record.size) return true;
  }
  return false;
}

// ---- lookups ----

std::string ByteStream::GetRecordKey(uint64_t i) const {
  return i < records.size() ? records[i].GetKey() : std::string();
}

int64_t ByteStream::GetRecordIndex(const std::string& key) const {
  auto it = keyMap.find(key);
  return it == keyMap.end() ? -1 : it->second;
}

bool ByteStream::HasRecord(const std::string& key) const {
  int64_t i = GetRecordIndex(key);
  return i >= 0 && static_cast<uint64_t>(i) < records.size();
}

uint64_t ByteStream::GetRecordValueSize(const std::string& key) const {
  return HasRecord(key) ? records[GetRecordIndex(key)].GetValueSize() : 0;
}

ByteStreamBuffer* ByteStream::GetRecord(uint64_t i) {
  return i < records.size() ? &records[i] : nullptr;
}

ByteStreamBuffer* ByteStream::GetRecord(const std::string& key) {
  return HasRecord(key) ? &records[GetRecordIndex(key)] : nullptr;
}

// ---- records and copies ----

ByteStreamBuffer* ByteStream::AddRecord(ByteStreamBuffer& record) {
  if (readOnly || !record.IsValid()) return nullptr;
  std::string key = record.GetKey();
  uint64_t valueSize = record.GetValueSize();
  if (mode == 2 || mode == 3) {
    // The slot is reserved as raw bytes, because a scalar slot would take its width from
    // the type whatever this record holds; the copy then writes the record's own type.
    int64_t index = WriteAlloc(key, dt_buffer, valueSize);
    if (index >= 0) {
      std::memcpy(records[index].data, record.data, record.size);
      record.Clear();
      return &records[index];
    }
  }
  Detach();
  if (HasRecord(key)) {
    ByteStreamBuffer& slot = records[GetRecordIndex(key)];
    streamSize = streamSize - slot.size + record.size;
    slot = std::move(record);
    return &slot;
  }
  streamSize += kWord + record.size;
  keyMap[key] = static_cast<int64_t>(records.size());
  records.push_back(std::move(record));
  return &records.back();
}

void ByteStream::CopyEntry(ByteStream& source, const std::string& key) {
  if (readOnly || !source.HasRecord(key)) return;
  const ByteStreamBuffer& from = source.records[source.GetRecordIndex(key)];
  if (!from.IsValid()) return;
  if ((mode == 2 || mode == 3) && HasRecord(key)) {
    ByteStreamBuffer& to = records[GetRecordIndex(key)];
    if (to.size == from.size) {
      std::memmove(to.data, from.data, from.size);
      return;
    }
  }
  ByteStreamBuffer copy = OwnedCopy(from.data, from.size);
  AddRecord(copy);
}

ByteStream ByteStream::GetCopy() const {
  ByteStream copy(false);
  if (!records.empty()) {
    AppCore::CharBuffer image(streamSize);
    char* bytes = reinterpret_cast<char*>(image.data);
    GetStream(bytes);
    copy.LoadStream(bytes, streamSize);
  }
  return copy;
}

void ByteStream::DropRecords() {
  records.clear();
  keyMap.clear();
  streamSize = kEmptyImageSize;
}

void ByteStream::Reset() {
  DropRecords();
  if ((mode == 2 || mode == 3) && ImageData() != nullptr && ResizeImage(kEmptyImageSize)) {
    WriteDirectory(ImageData());
  }
}

void ByteStream::ClearAll() {
  DropRecords();
  buffer.Clear();
  file.ClearAll();
}

// Leaves the contiguous modes: every record becomes an owned copy, so that a record can be
// stored separately without the image, which stays as it last was, disagreeing with them.
void ByteStream::Detach() {
  if (mode != 2 && mode != 3) return;
  for (auto& record : records) {
    if (!record.owned) record = OwnedCopy(record.data, record.size);
  }
  mode = 1;
}
