#include "foundation/LogThrottle.h"

bool LogThrottle::Due(Clock::time_point now, uint64_t* folded) {
  if (logged_ && now - last_ < interval_) {
    ++folded_;
    return false;
  }
  if (folded != nullptr) *folded = folded_;
  logged_ = true;
  last_ = now;
  folded_ = 0;
  return true;
}

std::string LogThrottle::Folded(uint64_t folded) {
  return folded > 0 ? " (" + std::to_string(folded) + " more since the last line)" : "";
}
