#include "service/ConsoleInput.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

// A read buffer over a descriptor that gives up (end of input) once `stop` is set.
class ConsoleInput::PollingBuf : public std::streambuf {
 public:
  PollingBuf(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, kPollMillis);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      if (ready < 0) return traits_type::eof();
      const ssize_t n = ::read(fd_, data_, sizeof(data_));
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
