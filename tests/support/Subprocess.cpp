#include "support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

Subprocess::~Subprocess() {
  if (pid_ > 0 && exitCode_ < 0) {
    kill(-pid_, SIGKILL);  // the whole group: what the child started dies with it
    Wait(std::chrono::milliseconds(5000));
  }
  CloseStdin();
  stopping_ = true;  // a grandchild may still hold standard output open
  if (reader_.joinable()) reader_.join();
  if (stdout_ >= 0) close(stdout_);
}

bool Subprocess::Start(const std::vector<std::string>& argv, std::string* error, bool mergeStderr) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + std::strerror(errno);
    close(in[0]), close(in[1]);
    return false;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // Child: only async-signal-safe calls until exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (mergeStderr) dup2(out[1], 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid_ < 0) {
    if (error) *error = std::string("fork: ") + std::strerror(errno);
    close(in[1]), close(out[0]);
    return false;
  }
  stdin_ = in[1];
  stdout_ = out[0];
  reader_ = std::thread([this] { ReadOutput(); });
  return true;
}

void Subprocess::ReadOutput() {
  std::string partial;
  char buf[4096];
  while (!stopping_) {
    pollfd p{stdout_, POLLIN, 0};
    if (poll(&p, 1, 100) == 0) continue;
    ssize_t n = read(stdout_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial.append(buf, static_cast<size_t>(n));
    size_t start = 0, nl;
    std::vector<std::string> complete;
    while ((nl = partial.find('\n', start)) != std::string::npos) {
      complete.push_back(partial.substr(start, nl - start));
      start = nl + 1;
    }
    partial.erase(0, start);
    if (!complete.empty()) {
      std::lock_guard<std::mutex> lock(mu_);
      for (auto& l : complete) lines_.push_back(std::move(l));
      changed_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (!partial.empty()) lines_.push_back(partial);
  eof_ = true;
  changed_.notify_all();
}

bool Subprocess::WriteLine(const std::string& line) {
  if (stdin_ < 0) return false;
  std::string data = line + "\n";
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(stdin_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Subprocess::CloseStdin() {
  if (stdin_ >= 0) close(stdin_);
  stdin_ = -1;
}

std::vector<std::string> Subprocess::Lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

bool Subprocess::WaitForLine(const std::string& needle, std::chrono::milliseconds timeout, std::string* line) const {
  std::unique_lock<std::mutex> lock(mu_);
  const std::string* found = nullptr;
  changed_.wait_for(lock, timeout, [&] {
    for (const auto& l : lines_)
      if (l.find(needle) != std::string::npos) return (found = &l) != nullptr;
    return eof_;
  });
  if (found && line) *line = *found;
  return found != nullptr;
}

bool Subprocess::WaitForEof(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return eof_; });
}

int Subprocess::Wait(std::chrono::milliseconds timeout) {
  if (exitCode_ >= 0 || pid_ <= 0) return exitCode_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (r < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Subprocess::Signal(int sig) {
  if (pid_ > 0 && exitCode_ < 0) kill(pid_, sig);
}

}  // namespace testsupport
