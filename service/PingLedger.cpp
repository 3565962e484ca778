#include "service/PingLedger.h"

#include <charconv>
#include <random>

namespace {

// 128 bits from the platform's random device as hex digits, then '-': a server cannot guess
// it, and no other connection's pings carry it.
std::string RandomPart() {
  static const char kDigits[] = "0123456789abcdef";
  std::random_device device;
  std::string part;
  for (int word = 0; word < 4; ++word) {
    uint32_t bits = device();
    for (int digit = 0; digit < 8; ++digit, bits >>= 4) part += kDigits[bits & 15];
  }
  return part + '-';
}

}  // namespace

void PingLedger::Start() {
  if (ticket == 0) ticket = 1;
}

void PingLedger::NewConnection() {
  std::string part = RandomPart();
  std::lock_guard<std::mutex> lock(mutex_);
  part_ = std::move(part);
  if (ticket > 0) confirmed = ticket - 1;
}

std::string PingLedger::Next(uint64_t* number) {
  std::lock_guard<std::mutex> lock(mutex_);
  *number = ticket++;
  return part_ + std::to_string(*number);
}

bool PingLedger::Answer(std::string_view pong) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pong.size() <= part_.size() || pong.compare(0, part_.size(), part_) != 0) return false;
  const char* digits = pong.data() + part_.size();
  const char* end = pong.data() + pong.size();
  uint64_t number = 0;
  const auto parsed = std::from_chars(digits, end, number);
  // Numbers are written without leading zeros: one spelling each.
  if (*digits == '0' || parsed.ec != std::errc() || parsed.ptr != end) return false;
  if (number <= confirmed || number >= ticket) return false;
  confirmed = number;
  return true;
}
