// Virtual time for tests: a clock and a scheduler in one. Nothing sleeps; advance()
// moves the clock and runs every main-queue job and timer tick that falls due, in time
// order. Background jobs wait until runBackground(), so a test can look at the state
// while a scan or a listing is still "running".
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/scheduler.h"

namespace varek::test {

class VirtualScheduler : public Scheduler, public Clock {
 public:
  explicit VirtualScheduler(double start = 800'000'000) : now_(start) {}

  double now() const override { return now_; }

  void post(Job job) override { schedule(now_, std::move(job)); }
  void postAfter(double seconds, Job job) override { schedule(now_ + seconds, std::move(job)); }

  std::unique_ptr<Timer> repeat(double interval, double tolerance, Job tick) override {
    auto timer = std::make_unique<VirtualTimer>();
    lastTolerance_ = tolerance;
    scheduleTick(interval, timer->alive, std::make_shared<Job>(std::move(tick)), now_ + interval);
    return timer;
  }

  void runSerial(const std::string&, Job job) override { background_.push_back(std::move(job)); }
  void runConcurrent(Job job) override { background_.push_back(std::move(job)); }

  // Moves the clock forward, running what falls due on the way, in order.
  void advance(double seconds) {
    const double end = now_ + seconds;
    while (!due_.empty() && due_.begin()->first.first <= end) {
      auto entry = due_.extract(due_.begin());
      now_ = std::max(now_, entry.key().first);
      entry.mapped()();
    }
    now_ = end;
  }
  // Runs the main-queue jobs that are due now.
  void runMain() { advance(0); }
  // Runs every background job started so far (and those they start), then the main
  // queue, as if the background work finished now.
  void runBackground() {
    while (!background_.empty()) {
      Job job = std::move(background_.front());
      background_.pop_front();
      job();
    }
    runMain();
  }

  double lastTolerance() const { return lastTolerance_; }

 private:
  struct VirtualTimer : Timer {
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    ~VirtualTimer() override { cancel(); }
    void cancel() override { *alive = false; }
  };

  // Jobs due at the same time run in the order they were scheduled.
  void schedule(double at, Job job) { due_.emplace(std::pair(at, sequence_++), std::move(job)); }

  void scheduleTick(double interval, std::shared_ptr<bool> alive, std::shared_ptr<Job> tick,
                    double at) {
    schedule(at, [this, interval, alive, tick, at] {
      if (!*alive) return;
      (*tick)();
      if (*alive) scheduleTick(interval, alive, tick, at + interval);
    });
  }

  double now_;
  long long sequence_ = 0;
  std::map<std::pair<double, long long>, Job> due_;
  std::deque<Job> background_;
  double lastTolerance_ = 0;
};

}  // namespace varek::test
