// The scheduler of the running application: the main queue is Qt's event loop on the
// main thread; background queues are Qt thread pools, one single-thread pool per serial
// queue name and the global pool for concurrent work.
#pragma once

#include <QObject>
#include <QThreadPool>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/scheduler.h"

namespace varek {

class QtScheduler : public Scheduler {
 public:
  // Create on the main thread once the QCoreApplication exists. Destroying it waits for
  // the serial queues' jobs and drops main-queue jobs that have not run yet.
  QtScheduler();
  ~QtScheduler() override;

  // post and postAfter may be called from any thread; repeat from the main thread.
  void post(Job job) override;
  void postAfter(double seconds, Job job) override;
  std::unique_ptr<Timer> repeat(double interval, double tolerance, Job tick) override;
  void runSerial(const std::string& queue, Job job) override;
  void runConcurrent(Job job) override;

  // Waits at most this long for the jobs of the serial queues started so far.
  void waitForSerialQueues(int milliseconds);

 private:
  // Main-queue jobs are delivered to this object, so they die with the scheduler.
  std::unique_ptr<QObject> mainQueue_;
  std::mutex serialQueuesMutex_;
  std::map<std::string, std::unique_ptr<QThreadPool>> serialQueues_;
};

}  // namespace varek
