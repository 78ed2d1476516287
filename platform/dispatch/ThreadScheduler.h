#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "platform/dispatch/Scheduler.h"

namespace velmora::platform::dispatch {

// The production scheduler, on real threads.
//
// - Each serial queue runs on a thread of its own, started when work arrives and ended
//   after a while without work (or once the queue is released and empty), so blocking work
//   on one serial queue never starves another.
// - Concurrent and global queues share an elastic pool that starts a worker whenever work
//   is waiting and every worker is busy (a blocked worker does not hold up others), up to
//   maxPoolThreads, and lets idle workers end. Global queues run their items in FIFO order
//   whatever their QoS, and treat barriers as plain items.
// - One timer thread keeps the deadlines of all timers. Wall timers fire when wall time
//   reaches their deadline, also when it jumps there: the thread re-reads the clock at least
//   every wallPollInterval while a wall timer is armed, and at least every
//   injectedClockPollInterval when the clock is not the system clock.
// - The main queue runs on a thread of the scheduler, unless the host drains it from its own
//   loop (hostDrainsMainQueue): then mainQueueWakeup is called, on the posting thread,
//   whenever work arrives, and the host calls drainMainQueue() from its loop.
//
// sync runs the work on the calling thread once the queue's turn has come, so the caller's
// current queues stay current inside. A sync that could never start (onto the serial queue
// the caller runs on, also through other syncs) is reported as a programming error and runs
// inline. Blocking waits with a time-out measure it on the scheduler's clock.
//
// Destroying the scheduler lets running work finish, drops work that has not started,
// cancels the timers' deadlines and joins every thread. Work blocked for good (a wait that
// nothing will satisfy) keeps the destructor waiting.
class ThreadScheduler final : public Scheduler {
 public:
  struct Options {
    std::shared_ptr<Clock> clock;  // nullptr: Clock::system()
    bool hostDrainsMainQueue = false;
    std::function<void()> mainQueueWakeup;
    std::size_t maxPoolThreads = 64;
    std::chrono::milliseconds idleThreadTimeout{10'000};
    std::chrono::milliseconds wallPollInterval{1'000};
    std::chrono::milliseconds injectedClockPollInterval{10};
  };

  explicit ThreadScheduler(std::shared_ptr<Clock> clock = nullptr);
  explicit ThreadScheduler(Options options);
  ~ThreadScheduler() override;
  ThreadScheduler(const ThreadScheduler&) = delete;
  ThreadScheduler& operator=(const ThreadScheduler&) = delete;

  std::shared_ptr<Clock> clock() const override;
  std::shared_ptr<Queue> makeSerialQueue(std::string label) override;
  std::shared_ptr<Queue> makeConcurrentQueue(std::string label) override;
  std::shared_ptr<Queue> mainQueue() override;
  std::shared_ptr<Queue> globalQueue(QoS qos = QoS::Default) override;
  std::shared_ptr<Group> makeGroup() override;
  std::shared_ptr<Semaphore> makeSemaphore(long initialValue = 0) override;
  std::shared_ptr<TimerSource> makeTimer(std::shared_ptr<Queue> queue,
                                         TimerClock clock = TimerClock::Monotonic) override;

  // With hostDrainsMainQueue: runs the main-queue items that were queued when called (not
  // the ones they post, so a host loop is never starved) on the calling thread, and returns
  // how many ran. Without it, reports a programming error and returns 0.
  std::size_t drainMainQueue();
  // Makes the timer thread re-read the clock at once: after a test moved an injected clock,
  // or when the host learns that the system time was set.
  void clockChanged();
  // Threads now in the pool (for tests of its elasticity).
  std::size_t poolThreadCount() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace velmora::platform::dispatch
