#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <string>

#include "foundation/FileEngine.h"

// The process log: a text file that grows by appending lines, written through a memory
// map and synchronised to disk after every line, so a crash loses at most the line being
// written. `LogManager::Global` is the service's one log.
//
// Lines come in three forms: `log << text` writes "[time] text\n", `log <<= text` writes a
// continuation line (22 blanks in place of the time stamp) and `log += text` appends the
// text unchanged. With `TShowThread` set, forms 1 and 2 start with "(n)", the writing
// thread's number (0, 1, 2, ... in the order threads first log with numbers shown).
//
// Threading: every operation that touches the text or the file takes the log's mutex, so
// lines never interleave. A line is copied into the file under the mutex and synchronised
// to disk after it is released, before the write returns: threads that log at once share
// the disk's time instead of queueing for it, and a returned line is on disk together
// with every line before it. Text written before a successful Init (or while the file cannot
// grow) stays pending in memory and reaches the file with the next line that can be written.
// Between lines the file may be longer than its text, with zeros past it; Close (run at
// exit by the destructor) cuts that tail off, and Init in mode 'a' recovers the length of
// a file that was never cut.
class LogManager {
 public:
  static LogManager Global;
  inline static std::atomic<bool> TShowThread{false};
  inline static uint64_t TIndentSize = 22;
  inline static std::string TStampFormat = "%F %T";

  std::mutex mutex;
  std::shared_mutex fileMutex;     // shared while syncing a line, exclusive to open or close
  std::string text;                // pending text, not yet in the file
  std::ostringstream textStream;   // only under `mutex`; moved into `text` by every write
  std::string path;                // empty while no file is open
  AppCore::FileEngine file{true};
  uint64_t writeOffset = 0;        // bytes of the file that hold log text
  uint64_t growthStep = 1024;      // the file grows by at least this much

  LogManager() = default;
  ~LogManager();
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  // Opens dir/file: mode 'w' creates it anew, mode 'a' continues an existing file (or
  // creates a missing or empty one). An empty dir or file opens nothing and returns true.
  // A file already open is first cut to its text and closed. Reports on standard output;
  // false when the file cannot be opened or the mode is neither 'w' nor 'a'.
  bool Init(const std::string& dir, const std::string& file, char mode);

  void operator<<(const std::string& line);   // "[time] line\n"
  void operator<<=(const std::string& line);  // 22 blanks + line + "\n"
  void operator+=(const std::string& raw);    // raw, unchanged

  // Local time formatted with TStampFormat.
  static std::string TimeStamp();
  // Decimal number of the calling thread; numbers are never reused or released.
  static std::string ThreadStamp();
  // Local time as "%y%m%d%H%M%S".
  static std::string FileTimeStamp();
  // `title` centred in a line of `width` copies of `c` with a blank on either side; at
  // least one `c` each side, so a long title makes the line longer than `width`.
  static std::string HeaderDivider(const std::string& title, uint64_t width, char c);
  static std::string Divider(uint64_t n, char c);

  // The log text written to the file so far; empty when no file is open.
  std::string GetLogString();
  // Writes what is pending, cuts the file to its text and closes it.
  void Close();

  // The following expect `mutex` to be held.
  void FlushStream();  // moves textStream's contents to the end of the pending text
  // Copies the pending text into the file when it can (the caller then synchronises the
  // file); false when it stays pending.
  bool FlushText();

 private:
  enum class Form { kStamped, kContinued, kRaw };
  void Write(Form form, const std::string& text);
  bool OpenFile(char mode);
  static void SyncFile(int fd);
  void CloseFile();
};

// Defined inline so that every source file that includes this header constructs the log
// before its own statics: they may log while they are built or destroyed.
inline LogManager LogManager::Global;
