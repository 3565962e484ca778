#include "foundation/LogManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <pthread.h>
#include <tsl/robin_map.h>

#include "foundation/FileAccess.h"
#include "foundation/Tools.h"

namespace fs = std::filesystem;

namespace {

// Length of the text in the `size` bytes of `fd` from `start`: a log that was not cut at
// exit ends in zeros.
uint64_t TextLength(int fd, uint64_t start, uint64_t size) {
  char block[4096];
  while (size > 0) {
    uint64_t n = std::min<uint64_t>(size, sizeof block);
    if (pread(fd, block, n, static_cast<off_t>(start + size - n)) != static_cast<ssize_t>(n)) {
      return size;  // unreadable: keep every byte
    }
    for (uint64_t i = n; i > 0; --i) {
      if (block[i - 1] != 0) return size - n + i;
    }
    size -= n;
  }
  return 0;
}

// Reserves file space from `offset` for pending text: `want` bytes when the disk has them,
// else the largest piece, by halves down to one byte, that it takes, so a nearly full disk
// still takes what fits. The bytes reserved; 0, with the error in `*error`, when not even
// one byte fits (two attempts, not one per halving, for each line while the disk is full).
uint64_t Reserve(int fd, uint64_t offset, uint64_t want, int* error) {
  auto reserve = [&](uint64_t n) {
    return posix_fallocate(fd, static_cast<off_t>(offset), static_cast<off_t>(n));
  };
  *error = reserve(want);
  if (*error == 0) return want;
  if (want == 1 || reserve(1) != 0) return 0;
  for (uint64_t piece = want / 2; piece > 1; piece /= 2) {
    if (reserve(piece) == 0) return piece;
  }
  return 1;
}

// Owns `fd`: the last holder closes it.
std::shared_ptr<const int> ShareDescriptor(int fd) {
  return std::shared_ptr<const int>(new int(fd), [](const int* d) {
    close(*d);
    delete d;
  });
}

}  // namespace

LogManager::~LogManager() { Close(); }

bool LogManager::Init(const std::string& dir, const std::string& file, char mode) {
  std::lock_guard<std::mutex> lock(mutex);
  if (dir.empty() || file.empty()) return true;
  if (mode != 'w' && mode != 'a') {
    std::printf("Failed to initialize Log File. Invalid mode: %c\n", mode);
    return false;
  }
  CloseFile();
  path = (fs::path(dir) / file).string();
  int fd = OpenFile(mode);
  if (fd < 0) {
    std::printf("Failed to initialize Log File: %s\n", path.c_str());
    path.clear();
    return false;
  }
  descriptor = ShareDescriptor(fd);
  std::printf("Initialized Log File: %s\n", path.c_str());
  return true;
}

// Opens `path` for `mode` and sets the signature and the write offset; the descriptor, or
// -1. The file is never mapped: a full disk or a cut under a map would fault the process.
int LogManager::OpenFile(char mode) {
  writeOffset = signature = 0;
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  bool exists = status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
  if (mode == 'w' || !exists) return AppCore::OpenRegularFile(path, O_RDWR | O_CREAT | O_TRUNC);
  int fd = AppCore::OpenRegularFile(path, O_RDWR);
  struct stat file {};
  if (fd < 0 || fstat(fd, &file) != 0) return fd;
  unsigned char head[4] = {};
  ssize_t n = pread(fd, head, sizeof head, 0);
  signature = AppCore::ByteOrderSignatureLength(head, n > 0 ? static_cast<uint64_t>(n) : 0);
  uint64_t size = static_cast<uint64_t>(file.st_size);
  writeOffset = size > signature ? TextLength(fd, signature, size - signature) : 0;
  return fd;
}

// Cuts the open file (if any) to its text and lets it go.
void LogManager::CloseFile() {
  if (descriptor != nullptr) {
    SyncFile(*descriptor);
    if (ftruncate(*descriptor, static_cast<off_t>(signature + writeOffset)) != 0) {
      std::perror("LogManager - cutting the log file failed");
    }
  }
  descriptor.reset();
  path.clear();
}

void LogManager::operator<<(const std::string& line) { Write(Form::kStamped, line); }

void LogManager::operator<<=(const std::string& line) { Write(Form::kContinued, line); }

void LogManager::operator+=(const std::string& raw) { Write(Form::kRaw, raw); }

void LogManager::Write(Form form, const std::string& body) {
  std::shared_ptr<const int> sync;
  {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    text += Prefix(form);
    text += body;
    if (form != Form::kRaw) text += '\n';
    if (FlushText()) sync = descriptor;
    DropOldestLines();
  }
  if (sync != nullptr) SyncFile(*sync);
}

// What a line of `form` starts with: the thread number when shown, then the time stamp or
// the continuation indent. Used under `mutex`.
std::string LogManager::Prefix(Form form) {
  if (form == Form::kRaw) return std::string();
  std::string prefix;
  if (TShowThread.load(std::memory_order_relaxed)) prefix = "(" + ThreadStamp() + ")";
  if (form == Form::kStamped) return prefix + "[" + TimeStamp() + "] ";
  return prefix + std::string(TIndentSize, ' ');
}

// Keeps the pending text within `pendingLimit` by dropping its oldest whole lines, down to
// three quarters of the limit: a log that cannot write then moves its text once per quarter
// of the limit, not once per line.
void LogManager::DropOldestLines() {
  if (text.size() <= pendingLimit) return;
  const size_t keep = pendingLimit - pendingLimit / 4;
  const size_t newline = text.find('\n', text.size() - keep - 1);
  const size_t cut = newline == std::string::npos ? text.size() : newline + 1;
  droppedLines += static_cast<uint64_t>(std::count(text.begin(), text.begin() + cut, '\n'));
  if (text[cut - 1] != '\n') ++droppedLines;  // all of it went, a line without its end too
  text.erase(0, cut);
}

// The line that says how many lines were dropped, to be written at `offset`, where the
// file's text may end inside a line (raw text, or a line written in part).
std::string LogManager::DroppedNotice(int fd, uint64_t offset) {
  char last = '\n';
  if (writeOffset > 0 && pread(fd, &last, 1, static_cast<off_t>(offset - 1)) != 1) last = '\n';
  return (last == '\n' ? "" : "\n") + Prefix(Form::kStamped) + std::to_string(droppedLines) +
         " log lines were dropped while the log file could not be written\n";
}

void LogManager::FlushStream() {
  text += textStream.str();
  textStream.str(std::string());
  textStream.clear();
}

bool LogManager::FlushText() {
  if (text.empty() || descriptor == nullptr) return false;
  const int fd = *descriptor;
  const uint64_t base = signature;
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    ReportFailure(errno);
    return false;
  }
  uint64_t size = static_cast<uint64_t>(status.st_size);
  // Cut by another program (copy-and-truncate rotation): carry on at its new end.
  if (size < base + writeOffset) writeOffset = size > base ? size - base : 0;
  bool wrote = false;
  while (!text.empty()) {
    const uint64_t offset = base + writeOffset;
    uint64_t room = size > offset ? size - offset : 0;  // reserved earlier, past the text
    if (room < text.size()) {
      // Reserved, not merely extended: a full disk says so here, before any byte is written.
      int error = 0;
      room = std::max(room, Reserve(fd, offset, std::max<uint64_t>(text.size(), growthStep), &error));
      if (room == 0) {
        ReportFailure(error);
        break;  // the text stays pending; the next line tries again
      }
      size = std::max(size, offset + room);
    }
    if (droppedLines > 0) {
      text.insert(0, DroppedNotice(fd, offset));
      droppedLines = 0;
      continue;  // the notice may need more room
    }
    uint64_t written = WriteTextAt(fd, offset, std::min<uint64_t>(room, text.size()));
    if (written == 0) break;
    writeOffset += written;
    text.erase(0, written);
    wrote = true;
  }
  if (text.empty()) failing = false;
  return wrote;
}

// Writes the first `size` bytes of the pending text at `offset` as far as the file takes
// them; the bytes written.
uint64_t LogManager::WriteTextAt(int fd, uint64_t offset, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, text.data() + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ReportFailure(n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  return done;
}

// Standard error hears of a failing log once, until a line gets through again: the log
// itself cannot say it, and a line per failure would flood the terminal.
void LogManager::ReportFailure(int error) {
  if (failing) return;
  failing = true;
  std::fprintf(stderr,
               "Log file %s cannot be written (%s): its lines are kept until it can, the oldest "
               "dropped past %llu bytes\n",
               path.c_str(), std::strerror(error), static_cast<unsigned long long>(pendingLimit));
}

// Lines are written through the descriptor, so syncing it makes them durable.
void LogManager::SyncFile(int fd) {
  if (fdatasync(fd) != 0) std::perror("Could not flush memory to disk");
}

std::string LogManager::GetLogString() {
  std::lock_guard<std::mutex> lock(mutex);
  std::string out;
  if (descriptor == nullptr) return out;
  out.resize(writeOffset);
  ssize_t n = pread(*descriptor, out.data(), out.size(), static_cast<off_t>(signature));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

void LogManager::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  FlushStream();
  FlushText();
  CloseFile();
}

std::string LogManager::TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[96];
  size_t n = std::strftime(stamp, sizeof stamp, TStampFormat.c_str(), &local);
  return std::string(stamp, n);
}

std::string LogManager::ThreadStamp() {
  // Several LogManager objects may ask at once: the numbers have a lock of their own. The
  // map is never destroyed, so statics that log while they are destroyed at exit still
  // find their numbers.
  static std::mutex numbersMutex;
  static auto& numbers = *new tsl::robin_map<pthread_t, int32_t>();
  static int32_t next = 0;
  std::lock_guard<std::mutex> lock(numbersMutex);
  auto found = numbers.try_emplace(pthread_self(), next);
  if (found.second) ++next;
  return std::to_string(found.first->second);
}

std::string LogManager::FileTimeStamp() { return AppCore::Tools::GetStampYMDHMS(); }

std::string LogManager::HeaderDivider(const std::string& title, uint64_t width, char c) {
  uint64_t length = title.size();
  if (length + 4 >= width) return std::string(1, c) + " " + title + " " + std::string(1, c);
  uint64_t rest = width - 2 - length;
  uint64_t left = rest / 2;
  return std::string(left, c) + " " + title + " " + std::string(rest - left, c);
}

std::string LogManager::Divider(uint64_t n, char c) { return std::string(n, c); }

namespace {

// Length of the UTF-8 sequence at the start of `text` when it is valid and not a C1
// control character (U+0080 to U+009F), else 0.
size_t PrintableSequence(std::string_view text) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (n == 0 || text.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = byte(1);
  bool shortest = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xF0 && second < 0x90);
  bool inRange = !(lead == 0xED && second > 0x9F) && !(lead == 0xF4 && second > 0x8F);
  bool c1 = lead == 0xC2 && second < 0xA0;
  return shortest && inRange && !c1 ? n : 0;
}

}  // namespace

std::string LogManager::Escaped(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
      ++i;
    } else if (size_t n = c >= 0x80 ? PrintableSequence(text.substr(i)) : 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
      ++i;
    }
  }
  return out;
}
