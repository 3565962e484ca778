#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

// The process log: a text file that grows by appending lines, synchronised to disk after
// every line, so a crash loses at most the line being written. `LogManager::Global` is the
// service's one log.
//
// Lines come in three forms: `log << text` writes "[time] text\n", `log <<= text` writes a
// continuation line (22 blanks in place of the time stamp) and `log += text` appends the
// text unchanged. With `TShowThread` set, forms 1 and 2 start with "(n)", the writing
// thread's number (0, 1, 2, ... in the order threads first log with numbers shown).
//
// Threading: every operation that touches the text or the file takes the log's mutex, so
// lines never interleave. A line is written into the file under the mutex and synchronised
// to disk after it is released, before the write returns: threads that log at once share
// the disk's time instead of queueing for it, and a returned line is on disk together
// with every line before it. Init and Close wait only for the mutex, never for a sync, so
// threads that log without pause cannot hold them off.
//
// Failure: the log never takes the process down. Lines are written with plain writes into
// space reserved beforehand (never through a map, which faults when the disk is full or
// another program cuts the file). Text written before a successful Init, or while the file
// cannot take it (a full disk, a file made immutable), stays pending in memory and reaches
// the file with the next line that can be written, as much of it as the disk has room for;
// the first failure of a run of them is said once on standard error. Pending text is kept
// within `pendingLimit`: past it the oldest whole lines are dropped, and the file gets one
// line saying how many as soon as it takes text again. A file cut by another program
// (copy-and-truncate rotation) is continued at its new end.
//
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
  std::string text;                // pending text, not yet in the file
  std::ostringstream textStream;   // only under `mutex`; moved into `text` by every write
  std::string path;                // empty while no file is open
  // The open file's descriptor, null while none is open. A writer holds a copy while it
  // syncs its line after releasing the mutex; the last holder closes the descriptor, so a
  // sync never reaches a descriptor number that a re-open gave to another file.
  std::shared_ptr<const int> descriptor;
  uint64_t signature = 0;          // bytes of byte-order signature before the text (mode 'a')
  uint64_t writeOffset = 0;        // bytes after the signature that hold log text
  uint64_t growthStep = 1024;      // the file grows by at least this much
  uint64_t pendingLimit = 4 << 20; // pending text past this loses its oldest lines
  uint64_t droppedLines = 0;       // lines dropped from the pending text, not yet said
  bool failing = false;            // the file refused text; said on standard error

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
  // `text` from a peer made safe for one log line: control characters (C0, DEL and the C1
  // range), bytes that are not UTF-8 and backslashes are written as \xHH, so a peer can
  // neither break a line nor steer the terminal that shows the log; other UTF-8 is kept.
  static std::string Escaped(std::string_view text);

  // The log text written to the file so far; empty when no file is open.
  std::string GetLogString();
  // Writes what is pending, cuts the file to its text and closes it.
  void Close();

  // The following expect `mutex` to be held.
  void FlushStream();  // moves textStream's contents to the end of the pending text
  // Writes the pending text into the file as far as it can (the caller then synchronises
  // the file); false when all of it stays pending.
  bool FlushText();

 private:
  enum class Form { kStamped, kContinued, kRaw };
  void Write(Form form, const std::string& text);
  static std::string Prefix(Form form);
  void DropOldestLines();
  std::string DroppedNotice(int fd, uint64_t offset);
  int OpenFile(char mode);
  uint64_t WriteTextAt(int fd, uint64_t offset, uint64_t size);
  void ReportFailure(int error);
  static void SyncFile(int fd);
  void CloseFile();
};

// Defined inline so that every source file that includes this header constructs the log
// before its own statics: they may log while they are built or destroyed.
inline LogManager LogManager::Global;
