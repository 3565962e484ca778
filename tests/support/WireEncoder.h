#pragma once

// An independent writer of record-container images, for what the data server sends
// (replies, failure replies, broken frames) and for table images that tests put on disk
// (target table files, sample tables). Like WireDecoder it shares no code with the
// service's own container and table classes. Plain container files are the image itself.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/WireDecoder.h"

namespace testsupport {

// Builds one container image, records in the order they are added. A key added twice
// gives two records (the reader's lookup takes the later one). Not thread-safe.
class WireImage {
 public:
  WireImage& Text(std::string_view key, std::string_view value);
  WireImage& Int32(std::string_view key, int32_t value);
  WireImage& Int64(std::string_view key, int64_t value);
  WireImage& Double(std::string_view key, double value);
  WireImage& Buffer(std::string_view key, std::string_view bytes);
  WireImage& Nested(std::string_view key, const WireImage& child);
  WireImage& Int32Vector(std::string_view key, const std::vector<int32_t>& values);
  WireImage& StringVector(std::string_view key, const std::vector<std::string>& items);
  WireImage& BufferVector(std::string_view key, const std::vector<std::string>& items);
  WireImage& StreamVector(std::string_view key, const std::vector<WireImage>& items);
  // Any type code with the value bytes given as they are (for records a writer never makes).
  WireImage& Raw(uint8_t type, std::string_view key, std::string_view value);

  size_t RecordCount() const { return records_.size(); }
  // The container image: count, directory, records.
  std::string Image() const;
  // "BS=" followed by the image: one message payload.
  std::string Message() const;

 private:
  std::vector<std::string> records_;  // each a whole record: type, key length, key, value
};

// A table image with the records "Name", "NbCols", "NbRows", "ColNames", "ColTypes",
// "ColSizes", "ColFormat" (one nested format per column: "Code" from formatCodes when given,
// "Formula", "Theme", "Reference", "DisplayName"), "cTile" and "cMint", cells laid out
// column-major from `table.rows`. A cell of the wrong kind for its column is written as
// the column's null. Text columns with a size of 0 get 65535.
WireImage TableImage(const WireTable& table);

// Replies of the data server.
std::string EncodeReply(std::string_view func, std::string_view msid);
std::string EncodeFailure(std::string_view msid, std::string_view detail, bool withDetail = true);

// Broken frames a peer might send.
enum class Malformed {
  kTwoBytes,          // "BS": shorter than the prefix
  kBadPrefix,         // "XY=" and a valid image
  kPrefixOnly,        // "BS=" and nothing else
  kTruncatedImage,    // a valid reply with its last byte cut
  kDirectoryPastEnd,  // a directory whose end lies beyond the image
  kHugeCount,         // a record count near 2^64
  kBadTypeCode,       // a record of type code 200
  kKeyPastRecord,     // a record whose key length runs past the record
  kNoFunc,            // a valid image without "Func"
  kNoMsid,            // "Func" without "MSID"
};
std::string MalformedFrame(Malformed kind);

}  // namespace testsupport
