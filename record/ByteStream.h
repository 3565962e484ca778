#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/CharBuffer.h"
#include "foundation/FileEngine.h"
#include "record/ByteStreamBuffer.h"
#include "record/ByteStreamDataType.h"

// One slot of a pre-allocated layout: a record of `type` under `key` whose value is `size`
// bytes (codes 1 to 10 take their PODSize width whatever `size` says).
struct ByteStreamSlotSpec {
  std::string key;
  ByteStreamDataType type;
  uint64_t size;
};

// The keyed, typed record container: every message, table image, data file and map of the
// system is a ByteStream image (layout in record/ByteStreamFormat.h).
//
// Storage modes (`mode`):
//   0  read-only: the records are views of memory someone else owns (a message), or of
//      `buffer` after a load from a file or a compressed form; that memory must outlive the
//      container.
//   1  one owned allocation per record (every load into a writable container).
//   2  one contiguous image in `buffer`   } entered through PreAllocate (and Open for 3);
//   3  one contiguous image in `file`     } adds edit the image in place, so every pointer
//                                           into it lives only until the next add
//   4  one contiguous image in caller memory laid out by PreAllocate; later adds store
//      separate records and no longer update that memory.
// In modes 2 and 3 the image always matches `records`: `Reset` rewrites it as the empty
// image, and an add whose in-place edit fails (a file that cannot grow) turns the container
// into mode 1 before storing the record separately, leaving the last good image behind.
//
// Getters return false (null, 0, -1 or an empty text) and leave their output unchanged for a
// missing key or a record of another type code; there is no conversion between types. Adds
// on a read-only container do nothing. Loaders never read outside the bytes they are given.
// Files and compression print their errors on standard output.
//
// Not thread-safe: one thread at a time. Movable, not copyable (GetCopy makes a copy).
class ByteStream {
 public:
  bool readOnly;
  uint32_t mode;
  AppCore::CharBuffer buffer;   // the image in mode 2; the image after Read or a compressed load
  AppCore::FileEngine file;     // memory-mapped: the image in mode 3
  std::vector<ByteStreamBuffer> records;  // in image order
  std::map<std::string, int64_t> keyMap;  // key -> index in records (the last of equal keys)
  uint64_t streamSize;          // image length: 16 + sum of (8 + record length)

  explicit ByteStream(bool readOnly = false);
  ByteStream(ByteStream&& other) noexcept;
  ByteStream& operator=(ByteStream&& other) noexcept;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
  ~ByteStream();

  // ---- image and directory ----
  uint64_t GetStreamSize() const;
  // Fills `out` with the N + 1 directory entries and returns N.
  uint64_t GetPosList(std::vector<uint64_t>& out) const;
  // Writes the image at `dst`, which must hold GetStreamSize() bytes.
  void GetStream(char* dst) const;
  // Replaces the contents with the records of the image at `data`. A read-only container
  // views `data` (which must outlive it); a writable one copies and enters mode 1. False for
  // null data or fewer than 8 bytes (container unchanged), for a directory that does not fit
  // (container empty), and for a record that reaches past the image or is shorter than its
  // own header and key (the records before it stay loaded). Directory entries equal to
  // their predecessor give no record. `data` may lie in one of this container's own
  // records (a writable container then loads a copy of it).
  bool LoadStream(char* data, uint64_t length);
  // True when `length` holds the count, the directory, and the last entry equals `length`.
  static bool ValidateStream(char* data, uint64_t length);
  // ValidateStream over a whole file; prints "Failed to open file: <path>" when it cannot
  // be opened.
  static bool Validate(const std::string& path);

  // ---- lookups ----
  std::string GetRecordKey(uint64_t i) const;       // "" when out of range
  int64_t GetRecordIndex(const std::string& key) const;  // -1 when missing
  uint64_t GetRecordValueSize(const std::string& key) const;  // 0 when missing
  bool HasRecord(const std::string& key) const;
  ByteStreamBuffer* GetRecord(uint64_t i);          // null when out of range
  ByteStreamBuffer* GetRecord(const std::string& key);  // null when missing

  // ---- records and copies ----
  // Stores a record built by the caller, replacing the record of its key in place or
  // appending it. Takes the record's bytes (the caller's record is left empty) and returns
  // the stored slot. Null, nothing changed, for a read-only container or a record without
  // bytes, shorter than its header and key, or with a type code above 57.
  ByteStreamBuffer* AddRecord(ByteStreamBuffer& record);
  // Copies the record of `key` from `source` into this container.
  void CopyEntry(ByteStream& source, const std::string& key);
  // An independent writable copy (mode 1) with the same records in the same order.
  ByteStream GetCopy() const;
  // Drops every record; streamSize 16. buffer, file, mode and readOnly are kept; in modes 2
  // and 3 the image (and so a mode-3 file) becomes the 16-byte empty image.
  void Reset();
  // Drops every record, empties buffer and closes file; mode and readOnly are kept.
  void ClearAll();
  // One line per record on standard output:
  // "Type: %s, Key: %s, Values Size: %lu, Entry Size %lu\n".
  void LogInfo() const;

  // ---- contiguous and pre-allocated modes ----
  // Clears the four outputs and fills them with the layout of `slots` (slots with an empty
  // key, type dt_none or dt_last, or a value size of 0 are skipped; a repeated key keeps
  // its first position and takes the later type and size). Returns the image length, or 0
  // when it does not fit in 64 bits.
  static uint64_t GetPreAllocateDetails(const std::vector<ByteStreamSlotSpec>& slots,
                                        std::vector<std::string>& keys,
                                        std::vector<ByteStreamDataType>& types,
                                        std::vector<uint64_t>& recordSizes,
                                        std::vector<uint64_t>& offsets);
  static uint64_t GetPreAllocateSize(const std::vector<ByteStreamSlotSpec>& slots);
  // Lays the layout out in `buffer` (empty path: mode 2) or in a new file at `path`
  // (mode 3); the values are left unwritten. False for a read-only container, a layout too
  // long to represent, or a file that cannot be created (the container is then reset).
  bool PreAllocate(const std::vector<ByteStreamSlotSpec>& slots, const std::string& path);
  // Lays the layout out in `memory` (mode 4), which must outlive the container. False,
  // with the container, its image (a mode-3 file included) and `memory` untouched, when
  // the layout is longer than `capacity`.
  bool PreAllocate(const std::vector<ByteStreamSlotSpec>& slots, char* memory,
                   const uint64_t& capacity);
  // Modes 2 and 3: the index of a record of `key` with room for a `size`-byte value (an
  // existing record resized in place, else a new one), or -1.
  int64_t WriteAlloc(const std::string& key, ByteStreamDataType type, uint64_t size);
  // Modes 2 and 3: appends a record with an unwritten value to the image. False when the
  // storage cannot grow.
  bool NewAllocation(const std::string& key, ByteStreamDataType type, uint64_t size);
  // Modes 2 and 3: gives record `index` a new type code and value size in place, keeping
  // the leading value bytes. False when the storage cannot change size (record unchanged).
  bool ResizeAllocation(uint64_t index, ByteStreamDataType type, uint64_t size);
  // Copies image bytes offset .. offset + length into `dst` without building the image;
  // bytes of `dst` past the end of the image are not written.
  void GetStreamView(char* dst, uint64_t offset, uint64_t length) const;

  // ---- files and compression (messages on standard output) ----
  // Writes the image as the file at `path`. Prints "Failed to create new file: <path>" and
  // returns false when it cannot be created.
  bool Save(const std::string& path) const;
  // Reads the file into `buffer` and loads it (views in a read-only container, copies
  // otherwise). Only a regular file is read, never waiting (a FIFO is refused), and a file
  // that another program changes meanwhile gives a consistent image or a failure, never a
  // fault. On any failure ("Failed to open file: <path>" when it cannot be read) the
  // container is left as it was and the result is false.
  bool Read(const std::string& path);
  // Opens a plain file for editing in place (mode 3): adds then write into the file. A
  // missing file is created as the empty image. A read-only container does Read instead.
  // False, container empty, when the file cannot be opened or its image is not exact.
  bool Open(const std::string& path);
  // Room needed for the compressed form: the deflate bound of streamSize, plus 8.
  uint64_t GetCompressedSize() const;
  // The image length stored in the first 8 bytes of a compressed form.
  static uint64_t GetUncompressedSize(const char* bytes);
  // Writes the compressed form at `bytes` (room: GetCompressedSize()) and returns its length,
  // or 0 after printing "Failed to compress ByteStream with error: %s".
  uint64_t GetCompressedStream(char* bytes) const;
  // Writes the compressed form as the file at `path`.
  bool SaveCompressed(const std::string& path) const;
  // Loads a compressed form from memory. On failure ("Failed to uncompress ByteStream with
  // error: %s" for a bad stream) the container is left as it was and the result is false.
  // A read-only container's records then view `buffer`.
  bool LoadCompressedStream(char* bytes, uint64_t length);
  // LoadCompressedStream of a whole file.
  bool ReadCompressed(const std::string& path);

  // ---- adds (record codes in record/ByteStreamDataType.h) ----
  void AddBool(const std::string& key, bool value);
  void AddChar(const std::string& key, char value);
  void AddInt8(const std::string& key, int8_t value);
  void AddUInt8(const std::string& key, uint8_t value);
  void AddInt16(const std::string& key, int16_t value);
  void AddUInt16(const std::string& key, uint16_t value);
  void AddInt32(const std::string& key, int32_t value);
  void AddUInt32(const std::string& key, uint32_t value);
  void AddInt64(const std::string& key, int64_t value);
  void AddUInt64(const std::string& key, uint64_t value);
  void AddFloat(const std::string& key, float value);
  void AddDouble(const std::string& key, double value);
  void AddString(const std::string& key, const std::string& value);
  void AddBuffer(const std::string& key, const AppCore::CharBuffer& value);
  void AddBuffer(const std::string& key, const void* data, uint64_t size);
  // Reserves a dt_buffer value of `size` bytes and returns a pointer to it (unwritten). In
  // modes 2 and 3 an existing record of the key is resized in place keeping its leading
  // bytes, and the pointer is into the image (valid until the next add); null when the
  // image cannot change size, or for a read-only container.
  char* AddBuffer(const std::string& key, uint64_t size);
  // Stores the image of `value` as a dt_stream record.
  void AddStream(const std::string& key, const ByteStream& value);

  void AddInt8Vector(const std::string& key, const std::vector<int8_t>& values);
  void AddUInt8Vector(const std::string& key, const std::vector<uint8_t>& values);
  void AddInt16Vector(const std::string& key, const std::vector<int16_t>& values);
  void AddUInt16Vector(const std::string& key, const std::vector<uint16_t>& values);
  void AddInt32Vector(const std::string& key, const std::vector<int32_t>& values);
  void AddUInt32Vector(const std::string& key, const std::vector<uint32_t>& values);
  void AddInt64Vector(const std::string& key, const std::vector<int64_t>& values);
  void AddUInt64Vector(const std::string& key, const std::vector<uint64_t>& values);
  void AddFloatVector(const std::string& key, const std::vector<float>& values);
  void AddDoubleVector(const std::string& key, const std::vector<double>& values);
  void AddStringVector(const std::string& key, const std::vector<std::string>& values);
  void AddStreamVector(const std::string& key, const std::vector<ByteStream>& values);
  // Adds nothing when the two vectors differ in length. A null pointer with size 0 is an
  // empty item.
  void AddBufferVector(const std::string& key, const std::vector<char*>& data,
                       const std::vector<uint64_t>& sizes);

  void AddInt8Vector2D(const std::string& key, const std::vector<std::vector<int8_t>>& rows);
  void AddUInt8Vector2D(const std::string& key, const std::vector<std::vector<uint8_t>>& rows);
  void AddInt16Vector2D(const std::string& key, const std::vector<std::vector<int16_t>>& rows);
  void AddUInt16Vector2D(const std::string& key,
                         const std::vector<std::vector<uint16_t>>& rows);
  void AddInt32Vector2D(const std::string& key, const std::vector<std::vector<int32_t>>& rows);
  void AddUInt32Vector2D(const std::string& key,
                         const std::vector<std::vector<uint32_t>>& rows);
  void AddInt64Vector2D(const std::string& key, const std::vector<std::vector<int64_t>>& rows);
  void AddUInt64Vector2D(const std::string& key,
                         const std::vector<std::vector<uint64_t>>& rows);
  void AddFloatVector2D(const std::string& key, const std::vector<std::vector<float>>& rows);
  void AddDoubleVector2D(const std::string& key, const std::vector<std::vector<double>>& rows);
  void AddStringVector2D(const std::string& key,
                         const std::vector<std::vector<std::string>>& rows);

  // ---- gets: false and the output unchanged for a missing key or another type ----
  bool GetBool(const std::string& key, bool& out) const;  // dt_uint8, any nonzero is true
  bool GetChar(const std::string& key, char& out) const;  // dt_int8
  bool GetInt8(const std::string& key, int8_t& out) const;
  bool GetUInt8(const std::string& key, uint8_t& out) const;
  bool GetInt16(const std::string& key, int16_t& out) const;
  bool GetUInt16(const std::string& key, uint16_t& out) const;
  bool GetInt32(const std::string& key, int32_t& out) const;
  bool GetUInt32(const std::string& key, uint32_t& out) const;
  bool GetInt64(const std::string& key, int64_t& out) const;
  bool GetUInt64(const std::string& key, uint64_t& out) const;
  bool GetFloat(const std::string& key, float& out) const;
  bool GetDouble(const std::string& key, double& out) const;
  bool GetString(const std::string& key, std::string& out) const;
  // False for an empty value; otherwise `out` is resized to the value and filled.
  bool GetBuffer(const std::string& key, AppCore::CharBuffer& out) const;
  // False for an empty value; otherwise copies GetRecordValueSize(key) bytes to `out`.
  bool GetBuffer(const std::string& key, void* out) const;
  // The value of a dt_buffer record in place, and its length; null and 0 when missing,
  // of another type or empty. Lives as long as the record's bytes.
  char* GetBufferPtr(const std::string& key, uint64_t& size) const;
  // Pointers into the record and lengths, one per item (null and 0 for an empty item).
  bool GetBufferVector(const std::string& key, std::vector<char*>& data,
                       std::vector<uint64_t>& sizes) const;
  // A copy of every item.
  bool GetBufferVector(const std::string& key, std::vector<AppCore::CharBuffer>& out) const;
  // Loads a dt_stream record, or a dt_buffer record holding a valid image, into `out`
  // (views of this container's bytes when `out` is read-only). The result is the load's:
  // false for an empty value or an image that does not load.
  bool GetStream(const std::string& key, ByteStream& out) const;

  // Number vectors: false, output emptied, for a value that is not exactly count elements.
  bool GetInt8Vector(const std::string& key, std::vector<int8_t>& out) const;
  bool GetUInt8Vector(const std::string& key, std::vector<uint8_t>& out) const;
  bool GetInt16Vector(const std::string& key, std::vector<int16_t>& out) const;
  bool GetUInt16Vector(const std::string& key, std::vector<uint16_t>& out) const;
  bool GetInt32Vector(const std::string& key, std::vector<int32_t>& out) const;
  bool GetUInt32Vector(const std::string& key, std::vector<uint32_t>& out) const;
  bool GetInt64Vector(const std::string& key, std::vector<int64_t>& out) const;
  bool GetUInt64Vector(const std::string& key, std::vector<uint64_t>& out) const;
  bool GetFloatVector(const std::string& key, std::vector<float>& out) const;
  bool GetDoubleVector(const std::string& key, std::vector<double>& out) const;
  bool GetStringVector(const std::string& key, std::vector<std::string>& out) const;
  // One child per item, read-only when this container is (views of its bytes). False when
  // an item's offsets are damaged or a non-empty item does not load.
  bool GetStreamVector(const std::string& key, std::vector<ByteStream>& out) const;

  bool GetInt8Vector2D(const std::string& key, std::vector<std::vector<int8_t>>& out) const;
  bool GetUInt8Vector2D(const std::string& key, std::vector<std::vector<uint8_t>>& out) const;
  bool GetInt16Vector2D(const std::string& key, std::vector<std::vector<int16_t>>& out) const;
  bool GetUInt16Vector2D(const std::string& key,
                         std::vector<std::vector<uint16_t>>& out) const;
  bool GetInt32Vector2D(const std::string& key, std::vector<std::vector<int32_t>>& out) const;
  bool GetUInt32Vector2D(const std::string& key,
                         std::vector<std::vector<uint32_t>>& out) const;
  bool GetInt64Vector2D(const std::string& key, std::vector<std::vector<int64_t>>& out) const;
  bool GetUInt64Vector2D(const std::string& key,
                         std::vector<std::vector<uint64_t>>& out) const;
  bool GetFloatVector2D(const std::string& key, std::vector<std::vector<float>>& out) const;
  bool GetDoubleVector2D(const std::string& key, std::vector<std::vector<double>>& out) const;
  bool GetStringVector2D(const std::string& key,
                         std::vector<std::vector<std::string>>& out) const;

  // ---- record dump on standard output ----
  // Every record by LogRecord, in record order; nested containers indented by 4 more.
  void LogRecords(int indent = 0, bool oneLine = false) const;
  // One record: a header ("key (type) --> " in the one-line form, "Type: ..., Key: ...,
  // Values Size: ..., Entry Size ...\n" otherwise) and its value. A nested record is
  // followed by the records of the container or stream vector that its key holds in this
  // container, whatever bytes `record` itself carries, 64 levels deep at most (then
  // "[deeper levels not shown]"). Nesting of any depth is walked without recursion and
  // without copying the nested images, so time and memory stay linear in the image.
  void LogRecord(const ByteStreamBuffer& record, int indent, bool oneLine) const;

 private:
  template <class T>
  void AddScalar(const std::string& key, ByteStreamDataType type, T value);
  template <class T>
  bool GetScalar(const std::string& key, ByteStreamDataType type, T& out) const;
  template <class T>
  void AddNumberVector(const std::string& key, ByteStreamDataType type,
                       const std::vector<T>& values);
  template <class T>
  bool GetNumberVector(const std::string& key, ByteStreamDataType type,
                       std::vector<T>& out) const;
  template <class T>
  void AddArray2D(const std::string& key, ByteStreamDataType type,
                  const std::vector<std::vector<T>>& rows);
  template <class T>
  bool GetArray2D(const std::string& key, ByteStreamDataType type,
                  std::vector<std::vector<T>>& out) const;
  template <class WriteFn>
  char* Put(const std::string& key, ByteStreamDataType type, uint64_t valueSize,
            WriteFn write, bool mayDetach = true, bool fromImage = false);
  bool InImage(const void* bytes) const;
  bool ViewsImageOf(const ByteStream& other) const;
  const ByteStreamBuffer* Find(const std::string& key, ByteStreamDataType type) const;
  void LayOut(char* image, const std::vector<std::string>& keys,
              const std::vector<ByteStreamDataType>& types, const std::vector<uint64_t>& sizes,
              const std::vector<uint64_t>& offsets);
  char* ImageData() const;
  bool ResizeImage(uint64_t newSize);
  void RepointRecords(char* image);
  void WriteDirectory(char* image) const;
  void DropRecords();
  void Detach();
  bool LoadImage(char* data, uint64_t length, bool view);
  // True when `p` points into the bytes of a record this container allocated itself.
  bool OwnsBytes(const char* p) const;
  // The containers of a dt_stream_vector record, views of its bytes when `view`; false as
  // for GetStreamVector.
  static bool LoadItems(const ByteStreamBuffer& record, bool view, std::vector<ByteStream>& out);
};
