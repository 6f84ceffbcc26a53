// A clock that stands still until a test moves it: virtual time with nothing scheduled.
#pragma once

#include "tests/support/virtual_scheduler.h"

namespace varek::test {

struct ManualClock : VirtualScheduler {
  explicit ManualClock(double now = 0) : VirtualScheduler(now) {}
};

}  // namespace varek::test
