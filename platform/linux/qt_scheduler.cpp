#include "platform/linux/qt_scheduler.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace varek {
namespace {

constexpr double kMillisecondsPerSecond = 1000;
// A coarse timer may move a tick by up to 5 % of its interval, which lets the kernel
// batch the process's wake-ups with other timers' and the processor sleep longer; it is
// chosen only when the caller tolerates that much.
constexpr double kCoarseTimerSlack = 0.05;
// A repeating timer of 0 ms would tick on every pass of the event loop and spin it.
constexpr int kShortestRepeatMilliseconds = 1;

// Whole milliseconds, rounded up so that a delay is never shortened; nonsense and
// negative values become 0, and delays beyond Qt's range are cut to its longest.
int milliseconds(double seconds) {
  const double value = std::ceil(seconds * kMillisecondsPerSecond);
  if (!(value > 0)) return 0;
  if (value >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  return int(value);
}

class QtTimer : public Scheduler::Timer {
 public:
  QtTimer(int interval, Qt::TimerType type, Scheduler::Job tick) {
    timer_.setInterval(interval);
    timer_.setTimerType(type);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(tick));
    timer_.start();
  }
  void cancel() override { timer_.stop(); }

 private:
  QTimer timer_;
};

}  // namespace

QtScheduler::QtScheduler() : mainQueue_(std::make_unique<QObject>()) {}

QtScheduler::~QtScheduler() {
  // The pools finish their jobs before the main queue goes, so a job's last post()
  // still finds a receiver (which then discards it).
  std::map<std::string, std::unique_ptr<QThreadPool>> queues;
  {
    std::lock_guard lock(serialQueuesMutex_);
    queues.swap(serialQueues_);
  }
  // Outside the lock: a job that is still running may start another serial job.
  queues.clear();
}

void QtScheduler::post(Job job) {
  QMetaObject::invokeMethod(mainQueue_.get(), std::move(job), Qt::QueuedConnection);
}

void QtScheduler::postAfter(double seconds, Job job) {
  const int delay = milliseconds(seconds);
  // A single-shot timer belongs to the thread that starts it, and a pool thread has no
  // event loop to run it: from there the timer is started on the main queue instead,
  // which can only lengthen the delay. Precise, because a coarse timer may fire early.
  if (QThread::currentThread() == mainQueue_->thread()) {
    QTimer::singleShot(delay, Qt::PreciseTimer, mainQueue_.get(), std::move(job));
    return;
  }
  post([this, delay, job = std::move(job)]() mutable {
    QTimer::singleShot(delay, Qt::PreciseTimer, mainQueue_.get(), std::move(job));
  });
}

std::unique_ptr<Scheduler::Timer> QtScheduler::repeat(double interval, double tolerance, Job tick) {
  const Qt::TimerType type =
      tolerance >= kCoarseTimerSlack * interval ? Qt::CoarseTimer : Qt::PreciseTimer;
  return std::make_unique<QtTimer>(std::max(kShortestRepeatMilliseconds, milliseconds(interval)),
                                   type, std::move(tick));
}

void QtScheduler::runSerial(const std::string& queue, Job job) {
  std::lock_guard lock(serialQueuesMutex_);
  std::unique_ptr<QThreadPool>& pool = serialQueues_[queue];
  if (!pool) {
    pool = std::make_unique<QThreadPool>();
    pool->setMaxThreadCount(1);
  }
  pool->start(std::move(job));
}

void QtScheduler::waitForSerialQueues(int milliseconds) {
  std::vector<QThreadPool*> pools;
  {
    std::lock_guard lock(serialQueuesMutex_);
    for (auto& [name, pool] : serialQueues_) pools.push_back(pool.get());
  }
  // Outside the lock, as a job may start another; the pools live as long as we do.
  QDeadlineTimer deadline(milliseconds);
  for (QThreadPool* pool : pools) {
    pool->waitForDone(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
  }
}

void QtScheduler::runConcurrent(Job job) { QThreadPool::globalInstance()->start(std::move(job)); }

}  // namespace varek
