#pragma once

// A child process with a pipe on its standard input and its standard output read line by
// line on a thread of its own (standard error is inherited unless merged). The child runs
// in a process group of its own. It is killed (SIGKILL) if the test process dies, and the
// whole group is killed when the object is destroyed while the child still runs.
// Thread-safe.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class Subprocess {
 public:
  Subprocess() = default;
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Starts argv[0] (a path, or a name looked up in PATH) with the arguments. False with
  // `error` set when it cannot be started. Call once per object.
  bool Start(const std::vector<std::string>& argv, std::string* error = nullptr, bool mergeStderr = false);

  bool WriteLine(const std::string& line);  // appends "\n"; false when stdin is closed
  void CloseStdin();

  // All lines read so far, without their newlines.
  std::vector<std::string> Lines() const;
  // Waits for a line containing `needle` (among all lines so far, the first match); true
  // and `line` set when one came within the time-out.
  bool WaitForLine(const std::string& needle, std::chrono::milliseconds timeout, std::string* line = nullptr) const;
  // True when standard output has ended (the child closed it or exited) within the time-out.
  bool WaitForEof(std::chrono::milliseconds timeout) const;

  // Waits for the child to exit; its exit code (128 + signal number when killed by a
  // signal), or -1 when it is still running after the time-out.
  int Wait(std::chrono::milliseconds timeout);
  void Signal(int sig);
  pid_t Pid() const { return pid_; }

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int exitCode_ = -1;
  std::thread reader_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool eof_ = false;
  std::atomic<bool> stopping_{false};
};

}  // namespace testsupport
