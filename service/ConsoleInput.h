#pragma once

// ConsoleInput: the words an operator types on a stream's console.
//
// The words come from a stream the caller supplies (tests) or from a file descriptor
// (standard input in the service). A descriptor is read through a buffer that waits for
// input with poll() in slices of kPollMillis, so a console waiting on an idle terminal sees
// its stop flag within one slice; a closed input (end of file, /dev/null, a hung-up pipe)
// is the end of the words. Several consoles may read one descriptor: each word goes to
// whichever reads it.
//
// Threading: one object per console thread; `stop` may be set from any thread.

#include <atomic>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

class ConsoleInput {
 public:
  static constexpr int kPollMillis = 100;

  // Reads `supplied` (not owned; it must outlive this object), or `fd` when it is null.
  ConsoleInput(std::istream* supplied, int fd, const std::atomic<bool>& stop);
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // The next word (characters up to white space); false at the end of the input, on a
  // read error, or once stop is set while waiting for input.
  bool ReadWord(std::string& word);

 private:
  class PollingBuf;
  std::unique_ptr<PollingBuf> buf_;
  std::unique_ptr<std::istream> own_;
  std::istream* in_;
};
