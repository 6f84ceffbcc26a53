// The current time, as the core sees it. Tests substitute a clock they can set, so
// decay and recency are checked without waiting.
#pragma once

namespace varek {

class Clock {
 public:
  virtual ~Clock() = default;

  // Seconds since 2001-01-01T00:00:00Z, the form every stored time uses. Need not be
  // monotonic; callers only subtract stored times from it.
  virtual double now() const = 0;
};

}  // namespace varek
