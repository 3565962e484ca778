#include "streams/LogThrottle.h"

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
