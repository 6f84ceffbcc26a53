// Where and when work runs. All state of the core lives on the main queue; background
// queues only compute and hand their result back with post().
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace varek {

class Scheduler {
 public:
  using Job = std::function<void()>;

  // A repeating timer; destroying or cancelling it stops further ticks.
  class Timer {
   public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
  };

  virtual ~Scheduler() = default;

  // Runs job on the main queue after the current job, in the order of posting.
  virtual void post(Job job) = 0;
  // Runs job on the main queue once, no earlier than seconds from now.
  virtual void postAfter(double seconds, Job job) = 0;
  // Runs tick on the main queue every interval seconds, each tick at most tolerance late,
  // until the returned timer is cancelled or destroyed.
  virtual std::unique_ptr<Timer> repeat(double interval, double tolerance, Job tick) = 0;
  // Runs job off the main thread on the serial queue of this name: jobs of one queue run
  // one at a time, in order; queues of different names run side by side.
  virtual void runSerial(const std::string& queue, Job job) = 0;
  // Runs job off the main thread, concurrently with other background jobs.
  virtual void runConcurrent(Job job) = 0;
};

}  // namespace varek
