// KafkaStream::JsonToRow: the scanner that turns one flat JSON message into a row.

#include <array>

#include "streams/KafkaStream.h"

namespace {

// Bytes that end a run of literal bytes outside quoted text.
constexpr std::array<bool, 256> OutsideStops() {
  std::array<bool, 256> stops{};
  for (unsigned char c : {'\0', '{', ':', '"', ',', '}', ' ', '\t', '\r', '\n'}) stops[c] = true;
  return stops;
}
constexpr std::array<bool, 256> kOutsideStops = OutsideStops();

bool Stops(const char* p) { return kOutsideStops[static_cast<unsigned char>(*p)]; }

// Scans one payload; keeps the member being read.
class RowScanner {
 public:
  RowScanner(const KafkaStream::ColumnMap& columns, std::vector<std::string>& row,
             KafkaStream::ScanBuffers& buffers)
      : columns_(columns), row_(row), buffers_(buffers), key_(buffers.key), value_(buffers.value) {
    key_.clear();
    value_.clear();
  }

  size_t Scan(const char* p, const char* end) {
    while (p < end) {
      switch (*p) {
        case '\0':
          return stored_;
        case '{':
          side_ = &key_;
          ++p;
          break;
        case ':':
          side_ = &value_;
          ++p;
          break;
        case ' ':
        case '\t':
        case '\r':
        case '\n':
          ++p;
          break;
        case ',':
        case '}':
          Store();
          ++p;
          break;
        case '"':
          p = Quoted(p + 1, end);
          if (p == nullptr) return stored_;
          break;
        default: {
          const char* run = p;
          while (p < end && !Stops(p)) ++p;
          side_->append(run, p - run);
        }
      }
    }
    return stored_;
  }

 private:
  // Copies quoted text from p (just past the opening quote); the position after the closing
  // quote, or null when the payload ends (or holds a NUL) first.
  const char* Quoted(const char* p, const char* end) {
    while (p < end) {
      const char* run = p;
      while (p < end && *p != '"' && *p != '\\' && *p != '\0') ++p;
      side_->append(run, p - run);
      if (p == end || *p == '\0') return nullptr;
      if (*p == '"') return p + 1;
      ++p;  // the backslash is dropped, the byte after it kept whatever it is
      if (p == end || *p == '\0') return nullptr;
      side_->push_back(*p++);
    }
    return nullptr;
  }

  // The column named by the key, first guessed from the member's place in the last message.
  const KafkaStream::ColumnMap::value_type* Column() {
    std::vector<const KafkaStream::ColumnMap::value_type*>& guesses = buffers_.columnOfMember;
    if (member_ < guesses.size() && guesses[member_] != nullptr && guesses[member_]->first == key_) {
      return guesses[member_];
    }
    auto it = columns_.find(key_);
    const KafkaStream::ColumnMap::value_type* column = it == columns_.end() ? nullptr : &*it;
    if (member_ < kGuessedMembers) {
      if (member_ >= guesses.size()) guesses.resize(member_ + 1, nullptr);
      guesses[member_] = column;
    }
    return column;
  }

  void Store() {
    if (const KafkaStream::ColumnMap::value_type* column = Column()) {
      const int32_t index = column->second.first;
      if (index >= 0 && static_cast<size_t>(index) < row_.size()) {
        row_[index].swap(value_);
        ++stored_;
      }
    }
    ++member_;
    key_.clear();
    value_.clear();
    side_ = &key_;
  }

  // Members past this many are looked up without a guess, so that one huge message cannot
  // leave a huge guess list behind.
  static constexpr size_t kGuessedMembers = 256;

  const KafkaStream::ColumnMap& columns_;
  std::vector<std::string>& row_;
  KafkaStream::ScanBuffers& buffers_;
  std::string& key_;
  std::string& value_;
  std::string* side_ = &key_;
  size_t stored_ = 0;
  size_t member_ = 0;  // members ended so far
};

}  // namespace

size_t KafkaStream::ScanRow(std::string_view payload, std::vector<std::string>& row,
                            ScanBuffers& buffers) const {
  row.resize(static_cast<size_t>(columnCount > 0 ? columnCount : 0));
  for (std::string& text : row) text.clear();
  RowScanner scanner(columnMap, row, buffers);
  return scanner.Scan(payload.data(), payload.data() + payload.size());
}

std::vector<std::string> KafkaStream::JsonToRow(std::string_view payload, size_t* matched) const {
  std::vector<std::string> row;
  ScanBuffers buffers;
  const size_t stored = ScanRow(payload, row, buffers);
  if (matched != nullptr) *matched = stored;
  return row;
}
