#pragma once

// LogThrottle: lets a repeating condition (a sample file that does not load, a consumer
// error, a peer's malformed frames) reach the log at most once per interval instead of
// once per occurrence. Occurrences in between are counted, so the next line can say how
// many were folded into it.
//
// Threading: one thread at a time (each user keeps its own throttles).

#include <chrono>
#include <cstdint>
#include <string>

class LogThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LogThrottle(Clock::duration interval) : interval_(interval) {}

  // Records one occurrence. True when it should be logged now: the first occurrence, and
  // the first one at least `interval` after the last logged one. Then `*folded` (when not
  // null) is the number of occurrences since the last logged one that were not logged.
  bool Due(Clock::time_point now, uint64_t* folded = nullptr);
  bool Due(uint64_t* folded = nullptr) { return Due(Clock::now(), folded); }

  // The tail a logged line gets for `folded` occurrences folded into it: empty for none,
  // else " (<folded> more since the last line)".
  static std::string Folded(uint64_t folded);

  // Changes the interval for the next occurrences.
  void SetInterval(Clock::duration interval) { interval_ = interval; }

 private:
  Clock::duration interval_;
  bool logged_ = false;
  Clock::time_point last_{};
  uint64_t folded_ = 0;
};
