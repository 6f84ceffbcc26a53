// The scheduler on Qt's event loop and thread pools, run for real.
#include "platform/linux/qt_scheduler.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <numeric>
#include <thread>

#include "tests/support/desktop_session.h"

namespace varek {
namespace {

using test::waitFor;
using Log = std::vector<std::string>;

Scheduler::Job logs(Log& log, const char* entry) {
  return [&log, entry] { log.push_back(entry); };
}

// Notes whether it ran on the main thread, where all of the core's state lives.
Scheduler::Job logsThread(Log& log) {
  return [&log] { log.push_back(QThread::currentThread() == qApp->thread() ? "main" : "other"); };
}

TEST(QtSchedulerTest, MainQueueJobsRunOnTheMainThreadInOrder) {
  struct Row {
    const char* shows;
    std::function<void(QtScheduler&, Log&)> start;
    Log expected;
  };
  const Row rows[] = {
      {"a job posted by a job queues behind those posted before",
       [](auto& scheduler, auto& log) {
         scheduler.post([&] {
           log.push_back("outer");
           scheduler.post(logs(log, "inner"));
         });
         scheduler.post(logs(log, "next"));
       },
       {"outer", "next", "inner"}},
      {"by delay, and equal delays in the order of posting",
       [](auto& scheduler, auto& log) {
         scheduler.postAfter(0.05, logs(log, "long"));
         scheduler.postAfter(0.02, logs(log, "short"));
         scheduler.postAfter(0.02, logs(log, "short too"));
       },
       {"short", "short too", "long"}},
      // A pool thread has no event loop to run a timer of its own.
      {"jobs handed over from other threads",
       [](auto& scheduler, auto& log) {
         scheduler.runConcurrent([&] { scheduler.post(logsThread(log)); });
         scheduler.runSerial("q", [&] { scheduler.postAfter(0.01, logsThread(log)); });
       },
       {"main", "main"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    QtScheduler scheduler;
    Log log;
    row.start(scheduler, log);
    EXPECT_TRUE(waitFor([&] { return log.size() >= row.expected.size(); }));
    EXPECT_EQ(log, row.expected);
  }
}

TEST(QtSchedulerTest, ARepeatingTimerTicksUntilStopped) {
  constexpr double kInterval = 0.01;
  using Stop = std::function<void(std::unique_ptr<Scheduler::Timer>&)>;
  const std::tuple<const char*, double, Stop> rows[] = {
      {"destroyed, precise", 0, [](auto& timer) { timer.reset(); }},
      {"cancelled, coarse", kInterval / 2, [](auto& timer) { timer->cancel(); }},
  };
  for (const auto& [shows, tolerance, stop] : rows) {
    SCOPED_TRACE(shows);
    QtScheduler scheduler;
    int ticks = 0;
    auto timer = scheduler.repeat(kInterval, tolerance, [&] { ++ticks; });
    ASSERT_TRUE(waitFor([&] { return ticks >= 3; }));
    stop(timer);
    const int stoppedAt = ticks;
    // Several intervals pass before the marker runs; a live timer would tick meanwhile.
    bool marker = false;
    scheduler.postAfter(5 * kInterval, [&] { marker = true; });
    ASSERT_TRUE(waitFor([&] { return marker; }));
    EXPECT_EQ(ticks, stoppedAt);
  }
}

TEST(QtSchedulerTest, JobsOfOneSerialQueueRunOneAtATimeInOrder) {
  constexpr int kJobs = 50;
  // Each job takes a moment, so jobs that could overlap would.
  constexpr int kYields = 2'000;
  QtScheduler scheduler;
  std::atomic<int> running = 0;
  std::atomic<bool> overlapped = false;
  std::vector<int> order, expected(kJobs);
  std::iota(expected.begin(), expected.end(), 0);
  for (int job = 0; job < kJobs; ++job) {
    scheduler.runSerial("scan", [&, job] {
      if (++running > 1) overlapped = true;
      for (int pass = 0; pass < kYields; ++pass) std::this_thread::yield();
      --running;
      scheduler.post([&order, job] { order.push_back(job); });
    });
  }
  ASSERT_TRUE(waitFor([&] { return order.size() == kJobs; }));
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(order, expected);
}

}  // namespace
}  // namespace varek
