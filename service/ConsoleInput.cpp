#include "service/ConsoleInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {

// Consoles that share a descriptor read it one at a time: a descriptor found ready may
// have been emptied by another console before the read, which would then block.
std::mutex readMutex;

// Waits up to `millis` for `fd` to be readable (or at its end): 1, 0 when not, -1 on error.
int WaitReadable(int fd, int millis) {
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, millis);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready;
}

}  // namespace

// A read buffer over a descriptor that gives up (end of input) once `stop` is set.
class ConsoleInput::PollingBuf : public std::streambuf {
 public:
  PollingBuf(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    while (!stop_) {
      const int ready = WaitReadable(fd_, kPollMillis);
      if (ready < 0) return traits_type::eof();
      if (ready == 0) continue;
      std::unique_lock<std::mutex> lock(readMutex);
      if (WaitReadable(fd_, 0) == 0) continue;  // another console took the input
      const ssize_t n = ::read(fd_, data_, sizeof(data_));
      lock.unlock();
      if (n > 0) {
        setg(data_, data_, data_ + n);
        return traits_type::to_int_type(*gptr());
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return traits_type::eof();  // end of input or a read error
    }
    return traits_type::eof();
  }

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  char data_[256];
};

ConsoleInput::ConsoleInput(std::istream* supplied, int fd, const std::atomic<bool>& stop)
    : in_(supplied) {
  if (in_ == nullptr) {
    buf_ = std::make_unique<PollingBuf>(fd, stop);
    own_ = std::make_unique<std::istream>(buf_.get());
    in_ = own_.get();
  }
}

ConsoleInput::~ConsoleInput() = default;

bool ConsoleInput::ReadWord(std::string& word) { return static_cast<bool>(*in_ >> word); }
