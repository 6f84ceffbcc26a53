// A clock that stands still until a test moves it.
#pragma once

#include "platform/clock.h"

namespace varek::test {

class ManualClock : public Clock {
 public:
  explicit ManualClock(double now = 0) : now_(now) {}

  double now() const override { return now_; }
  void set(double now) { now_ = now; }
  void advance(double seconds) { now_ += seconds; }

 private:
  double now_;
};

}  // namespace varek::test
