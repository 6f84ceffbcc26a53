#include "platform/linux/qt_scheduler.h"

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varek {
namespace {

// Long enough for a loaded machine; the waits end as soon as the event arrives.
constexpr int kWaitMilliseconds = 10'000;

using Log = std::vector<std::string>;
struct Row {
  const char* shows;
  std::function<void(QtScheduler&, Log&)> start;
  Log expected;
};

// Starts each row's jobs and runs the event loop until they have logged enough.
void expectLogs(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    QtScheduler scheduler;
    Log log;
    row.start(scheduler, log);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return log.size() >= row.expected.size(); }, kWaitMilliseconds));
    EXPECT_EQ(log, row.expected);
  }
}

Scheduler::Job logs(Log& log, const char* entry) {
  return [&log, entry] { log.push_back(entry); };
}

TEST(QtSchedulerTest, PostedJobsRunInTheOrderOfPosting) {
  expectLogs({
      {"plain posts",
       [](auto& scheduler, auto& log) {
         for (const char* entry : {"a", "b", "c"}) scheduler.post(logs(log, entry));
       },
       {"a", "b", "c"}},
      {"a job posted by a job queues behind those posted before",
       [](auto& scheduler, auto& log) {
         scheduler.post([&] {
           log.push_back("outer");
           scheduler.post(logs(log, "inner"));
         });
         scheduler.post(logs(log, "next"));
       },
       {"outer", "next", "inner"}},
  });
}

TEST(QtSchedulerTest, DelayedJobsWaitAtLeastTheirDelay) {
  expectLogs({
      {"a shorter delay posted later runs first",
       [](auto& scheduler, auto& log) {
         scheduler.postAfter(0.05, logs(log, "long"));
         scheduler.postAfter(0.01, logs(log, "short"));
       },
       {"short", "long"}},
      {"equal delays keep their order",
       [](auto& scheduler, auto& log) {
         scheduler.postAfter(0.02, logs(log, "first"));
         scheduler.postAfter(0.02, logs(log, "second"));
       },
       {"first", "second"}},
  });
}

TEST(QtSchedulerTest, ARepeatingTimerTicksUntilStopped) {
  constexpr double kInterval = 0.01;
  struct Stop {
    const char* shows;
    double tolerance;
    std::function<void(std::unique_ptr<Scheduler::Timer>&)> stop;
  };
  const Stop rows[] = {
      {"destroyed, precise", 0, [](auto& timer) { timer.reset(); }},
      {"cancelled, coarse", kInterval / 2, [](auto& timer) { timer->cancel(); }},
  };
  for (const Stop& row : rows) {
    SCOPED_TRACE(row.shows);
    QtScheduler scheduler;
    int ticks = 0;
    auto timer = scheduler.repeat(kInterval, row.tolerance, [&] { ++ticks; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, kWaitMilliseconds));
    row.stop(timer);
    const int stoppedAt = ticks;
    // Several intervals pass before the marker runs; a live timer would tick meanwhile.
    bool marker = false;
    scheduler.postAfter(5 * kInterval, [&] { marker = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return marker; }, kWaitMilliseconds));
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
  std::mutex orderMutex;
  std::vector<int> order, expected;
  int finished = 0;
  for (int job = 0; job < kJobs; ++job) {
    expected.push_back(job);
    scheduler.runSerial("scan", [&, job] {
      if (++running > 1) overlapped = true;
      for (int pass = 0; pass < kYields; ++pass) std::this_thread::yield();
      {
        std::lock_guard lock(orderMutex);
        order.push_back(job);
      }
      --running;
      scheduler.post([&] { ++finished; });
    });
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished == kJobs; }, kWaitMilliseconds));
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(order, expected);
}

TEST(QtSchedulerTest, JobsPostedFromOtherThreadsRunOnTheMainThread) {
  using Hand = std::function<void(QtScheduler&, Scheduler::Job)>;
  const std::pair<const char*, Hand> rows[] = {
      {"post from a serial queue",
       [](auto& scheduler, auto job) {
         scheduler.runSerial("q", [scheduler = &scheduler, job] { scheduler->post(job); });
       }},
      {"post from the concurrent pool",
       [](auto& scheduler, auto job) {
         scheduler.runConcurrent([scheduler = &scheduler, job] { scheduler->post(job); });
       }},
      {"postAfter from a plain thread",
       [](auto& scheduler, auto job) {
         std::thread([&] { scheduler.postAfter(0.01, job); }).join();
       }},
  };
  for (const auto& [shows, hand] : rows) {
    SCOPED_TRACE(shows);
    QtScheduler scheduler;
    QThread* ranOn = nullptr;
    hand(scheduler, [&] { ranOn = QThread::currentThread(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ranOn != nullptr; }, kWaitMilliseconds));
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
  }
}

}  // namespace
}  // namespace varek
