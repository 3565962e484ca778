// The contiguous modes: pre-allocated layouts and in-place edits of an image held in
// `buffer` (mode 2) or in the mapped `file` (mode 3), and byte ranges of the image.
#include <algorithm>
#include <map>
#include <new>
#include <string>

#include "record/ByteStream.h"
#include "record/ByteStreamFormat.h"

using bsformat::CheckedAdd;
using bsformat::kRecordHeaderSize;
using bsformat::kWord;
using bsformat::LoadU64;
using bsformat::StoreU64;

uint64_t ByteStream::GetPreAllocateDetails(const std::vector<ByteStreamSlotSpec>& slots,
                                           std::vector<std::string>& keys,
                                           std::vector<ByteStreamDataType>& types,
                                           std::vector<uint64_t>& recordSizes,
                                           std::vector<uint64_t>& offsets) {
  keys.clear();
  types.clear();
  recordSizes.clear();
  offsets.clear();
  std::map<std::string, size_t> slotOf;
  for (const auto& slot : slots) {
    uint64_t valueSize = ByteStreamSlotValueSize(slot.type, slot.size), recordSize;
    if (slot.key.empty() || slot.type == dt_none || slot.type == dt_last || valueSize == 0) {
      continue;
    }
    if (!bsformat::RecordSize(slot.key.size(), valueSize, &recordSize)) return 0;
    auto found = slotOf.find(slot.key);
    if (found != slotOf.end()) {
      types[found->second] = slot.type;
      recordSizes[found->second] = recordSize;
      continue;
    }
    slotOf[slot.key] = keys.size();
    keys.push_back(slot.key);
    types.push_back(slot.type);
    recordSizes.push_back(recordSize);
  }
  uint64_t at;
  if (!bsformat::RecordsStart(keys.size(), &at)) return 0;
  offsets.push_back(at);
  for (uint64_t size : recordSizes) {
    if (!CheckedAdd(at, size, &at)) return 0;
    offsets.push_back(at);
  }
  return at;
}

uint64_t ByteStream::GetPreAllocateSize(const std::vector<ByteStreamSlotSpec>& slots) {
  std::vector<std::string> keys;
  std::vector<ByteStreamDataType> types;
  std::vector<uint64_t> sizes, offsets;
  return GetPreAllocateDetails(slots, keys, types, sizes, offsets);
}

// Writes the count, the directory and every slot's header into `image`, and makes the slots
// the container's records.
void ByteStream::LayOut(char* image, const std::vector<std::string>& keys,
                        const std::vector<ByteStreamDataType>& types,
                        const std::vector<uint64_t>& sizes, const std::vector<uint64_t>& offsets) {
  StoreU64(image, keys.size());
  std::memcpy(image + kWord, offsets.data(), offsets.size() * kWord);
  records.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    records.emplace_back(keys[i], types[i], image + offsets[i], sizes[i]);
    keyMap[keys[i]] = static_cast<int64_t>(i);
    streamSize += kWord + sizes[i];
  }
}

bool ByteStream::PreAllocate(const std::vector<ByteStreamSlotSpec>& slots,
                             const std::string& path) {
  if (readOnly) return false;
  DropRecords();
  std::vector<std::string> keys;
  std::vector<ByteStreamDataType> types;
  std::vector<uint64_t> sizes, offsets;
  uint64_t total = GetPreAllocateDetails(slots, keys, types, sizes, offsets);
  bool ready = false;
  if (total != 0 && !path.empty()) {
    ready = file.NewFile(path, total) && file.view != nullptr;
    if (ready) mode = 3;
  } else if (total != 0) {
    try {
      buffer.Resize(total);
      ready = true;
      mode = 2;
    } catch (const std::bad_alloc&) {
    }
  }
  if (!ready) {
    Reset();  // keeps a contiguous image, if one is left, matching the empty container
    return false;
  }
  LayOut(ImageData(), keys, types, sizes, offsets);
  return true;
}

bool ByteStream::PreAllocate(const std::vector<ByteStreamSlotSpec>& slots, char* memory,
                             const uint64_t& capacity) {
  if (readOnly) return false;
  std::vector<std::string> keys;
  std::vector<ByteStreamDataType> types;
  std::vector<uint64_t> sizes, offsets;
  uint64_t total = GetPreAllocateDetails(slots, keys, types, sizes, offsets);
  // Refused before anything is written: a Reset here would cut a file opened earlier to
  // the empty image for a layout that was never going to be used.
  if (memory == nullptr || total == 0 || total > capacity) return false;
  DropRecords();
  mode = 4;
  LayOut(memory, keys, types, sizes, offsets);
  return true;
}

// ---- in-place edits (modes 2 and 3) ----

// Gives the image `newSize` bytes; false when it cannot. When a mapped file loses its
// mapping the records would view unmapped memory: they are dropped and the container
// leaves mode 3, cleanly empty.
bool ByteStream::ResizeImage(uint64_t newSize) {
  if (mode == 2) {
    try {
      buffer.Resize(newSize);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return buffer.data != nullptr;
  }
  if (mode != 3) return false;
  char* before = ImageData();
  bool resized = file.ResizeFile(newSize);
  if (ImageData() == nullptr || (!resized && ImageData() != before)) {
    DropRecords();
    mode = 1;
    return false;
  }
  return resized;
}

// Points every record view at its place in `image`, records following each other from
// 8 (N + 2).
void ByteStream::RepointRecords(char* image) {
  uint64_t at = kWord * (records.size() + 2);
  for (auto& record : records) {
    record.data = image + at;
    at += record.size;
  }
}

// Writes the count and the directory of `records` at the start of `image`.
void ByteStream::WriteDirectory(char* image) const {
  uint64_t n = records.size(), at = kWord * (n + 2);
  StoreU64(image, n);
  for (uint64_t i = 0; i < n; ++i) {
    StoreU64(image + kWord * (i + 1), at);
    at += records[i].size;
  }
  StoreU64(image + kWord * (n + 1), at);
}

int64_t ByteStream::WriteAlloc(const std::string& key, ByteStreamDataType type, uint64_t size) {
  if (mode != 2 && mode != 3) return -1;
  if (HasRecord(key)) {
    int64_t index = GetRecordIndex(key);
    return ResizeAllocation(index, type, size) ? index : -1;
  }
  return NewAllocation(key, type, size) ? static_cast<int64_t>(records.size()) - 1 : -1;
}

bool ByteStream::NewAllocation(const std::string& key, ByteStreamDataType type, uint64_t size) {
  if ((mode != 2 && mode != 3) || ImageData() == nullptr) return false;
  uint64_t recordSize, newSize;
  if (!bsformat::RecordSize(key.size(), ByteStreamSlotValueSize(type, size), &recordSize) ||
      !CheckedAdd(streamSize, kWord + recordSize, &newSize)) {
    return false;
  }
  uint64_t n = records.size(), oldStart = kWord * (n + 2), oldEnd = streamSize;
  if (!ResizeImage(newSize)) return false;
  char* image = ImageData();
  // One more directory entry: every record moves 8 bytes towards the end.
  std::memmove(image + oldStart + kWord, image + oldStart, oldEnd - oldStart);
  records.emplace_back(key, type, image + oldEnd + kWord, recordSize);
  keyMap[key] = static_cast<int64_t>(n);
  streamSize = newSize;
  RepointRecords(image);
  WriteDirectory(image);
  return true;
}

bool ByteStream::ResizeAllocation(uint64_t index, ByteStreamDataType type, uint64_t size) {
  char* image = ImageData();
  if ((mode != 2 && mode != 3) || image == nullptr || index >= records.size()) return false;
  ByteStreamBuffer& record = records[index];
  uint64_t head = kRecordHeaderSize + record.GetKeySize();
  uint64_t oldValue = record.size - head, newValue = ByteStreamSlotValueSize(type, size);
  if (newValue == oldValue) {
    record.data[0] = static_cast<char>(type);
    return true;
  }
  uint64_t newRecord, newSize;
  if (!CheckedAdd(head, newValue, &newRecord) ||
      !CheckedAdd(streamSize - record.size, newRecord, &newSize)) {
    return false;
  }
  uint64_t tail = static_cast<uint64_t>(record.data - image) + record.size;
  uint64_t tailSize = streamSize - tail;
  if (newValue > oldValue) {
    uint64_t grow = newValue - oldValue;
    if (!ResizeImage(newSize)) return false;
    image = ImageData();
    std::memmove(image + tail + grow, image + tail, tailSize);
  } else {
    // The tail moves down over the end of the value first; keep those bytes so that a
    // file that refuses to shrink can be put back as it was.
    uint64_t cut = oldValue - newValue;
    std::string lost(image + tail - cut, cut);
    std::memmove(image + tail - cut, image + tail, tailSize);
    if (!ResizeImage(newSize)) {
      if (ImageData() == image) {
        std::memmove(image + tail, image + tail - cut, tailSize);
        std::memcpy(image + tail - cut, lost.data(), cut);
      }
      return false;
    }
    image = ImageData();
  }
  records[index].size = newRecord;
  streamSize = newSize;
  RepointRecords(image);
  records[index].data[0] = static_cast<char>(type);
  WriteDirectory(image);
  return true;
}

// ---- byte ranges of the image ----

void ByteStream::GetStreamView(char* dst, uint64_t offset, uint64_t length) const {
  if (length == 0) return;
  uint64_t end = offset + length < offset ? UINT64_MAX : offset + length;
  // Copies the part of [offset, end) that falls in the segment [at, at + size).
  auto copy = [&](uint64_t at, const char* bytes, uint64_t size) {
    uint64_t from = std::max(at, offset), to = std::min(at + size, end);
    if (from < to) std::memcpy(dst + (from - offset), bytes + (from - at), to - from);
  };
  std::vector<uint64_t> entries;
  uint64_t n = GetPosList(entries);
  char count[kWord];
  StoreU64(count, n);
  copy(0, count, kWord);
  copy(kWord, reinterpret_cast<const char*>(entries.data()), (n + 1) * kWord);
  uint64_t at = kWord * (n + 2);
  for (const auto& record : records) {
    if (at >= end) break;
    copy(at, record.data, record.size);
    at += record.size;
  }
}
