#include "foundation/LogManager.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <pthread.h>
#include <tsl/robin_map.h>

#include "foundation/Tools.h"

namespace fs = std::filesystem;

LogManager::~LogManager() { Close(); }

bool LogManager::Init(const std::string& dir, const std::string& file, char mode) {
  std::unique_lock<std::shared_mutex> closing(fileMutex);
  std::lock_guard<std::mutex> lock(mutex);
  if (dir.empty() || file.empty()) return true;
  if (mode != 'w' && mode != 'a') {
    std::printf("Failed to initialize Log File. Invalid mode: %c\n", mode);
    return false;
  }
  CloseFile();
  path = (fs::path(dir) / file).string();
  if (!OpenFile(mode)) {
    std::printf("Failed to initialize Log File: %s\n", path.c_str());
    path.clear();
    return false;
  }
  std::printf("Initialized Log File: %s\n", path.c_str());
  return true;
}

// Opens `path` for `mode` and sets the write offset; false leaves the engine closed.
bool LogManager::OpenFile(char mode) {
  writeOffset = 0;
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  bool exists = status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
  if (mode == 'w' || !exists) return file.NewFile(path, 1);
  if (!file.OpenFile(path, "w", true)) {
    // The map cannot hold an empty file: such a log simply starts anew.
    return fs::file_size(path, ec) == 0 && !ec && file.NewFile(path, 1);
  }
  // A log that was not cut at exit ends in zeros: continue right after its text.
  writeOffset = file.mm.fileSize;
  while (writeOffset > 0 && file.view[writeOffset - 1] == 0) --writeOffset;
  return true;
}

// Cuts the open file (if any) to its text and closes it.
void LogManager::CloseFile() {
  if (path.empty()) return;
  if (file.mm.fd >= 0) SyncFile(file.mm.fd);
  uint64_t signature = file.mm.signature;
  file.ClearAll();
  if (truncate(path.c_str(), static_cast<off_t>(signature + writeOffset)) != 0) {
    std::perror("LogManager - cutting the log file failed");
  }
  path.clear();
}

void LogManager::operator<<(const std::string& line) { Write(Form::kStamped, line); }

void LogManager::operator<<=(const std::string& line) { Write(Form::kContinued, line); }

void LogManager::operator+=(const std::string& raw) { Write(Form::kRaw, raw); }

void LogManager::Write(Form form, const std::string& body) {
  std::shared_lock<std::shared_mutex> open(fileMutex);  // keeps the descriptor open
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    if (form != Form::kRaw && TShowThread.load(std::memory_order_relaxed)) {
      text += "(" + ThreadStamp() + ")";
    }
    if (form == Form::kStamped) text += "[" + TimeStamp() + "] ";
    if (form == Form::kContinued) text.append(TIndentSize, ' ');
    text += body;
    if (form != Form::kRaw) text += '\n';
    if (FlushText()) fd = file.mm.fd;
  }
  if (fd >= 0) SyncFile(fd);
}

void LogManager::FlushStream() {
  text += textStream.str();
  textStream.str(std::string());
  textStream.clear();
}

bool LogManager::FlushText() {
  if (text.empty() || path.empty()) return false;
  AppCore::MMFile& mm = file.mm;
  uint64_t end = writeOffset + text.size();
  if (end > mm.fileSize &&
      !file.ResizeFile(writeOffset + std::max<uint64_t>(text.size(), growthStep))) {
    return false;  // the text stays pending; the next line tries again
  }
  // A failed remap leaves no view: map the whole file again before copying.
  if (file.view == nullptr || mm.viewStart != 0 || mm.viewSize < end) {
    if (!file.SetView() || file.view == nullptr || mm.viewSize < end) return false;
  }
  std::memcpy(file.view + writeOffset, text.data(), text.size());
  writeOffset = end;
  text.clear();
  return true;
}

// Bytes written through the shared map are the file's own pages, so syncing the
// descriptor makes them durable; unlike the map's address, it never moves.
void LogManager::SyncFile(int fd) {
  if (fdatasync(fd) != 0) std::perror("Could not flush memory to disk");
}

std::string LogManager::GetLogString() {
  std::lock_guard<std::mutex> lock(mutex);
  if (path.empty() || file.view == nullptr) return std::string();
  uint64_t n = std::min(file.mm.viewSize, writeOffset);
  return std::string(reinterpret_cast<const char*>(file.view), n);
}

void LogManager::Close() {
  std::unique_lock<std::shared_mutex> closing(fileMutex);
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
