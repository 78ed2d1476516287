#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::platform::dispatch {

// The scheduler of tests, simulations and whole-scenario benchmarks: every queue runs on the
// thread that drives the scheduler, against a ManualClock.
//
// Nothing runs by itself. runUntilIdle() runs posted work, in the order it was posted, and
// fires timers that are due; advanceBy() moves virtual time from deadline to deadline,
// firing each timer and running the work that follows before moving on; setWallTime() makes
// wall time alone jump, firing the wall timers it passes.
//
// Serial queues, barriers and concurrent queues keep their meaning: while an item of a
// serial queue (or a barrier) is running, no other item of that queue starts, also when the
// item blocks and the scheduler runs other work meanwhile.
//
// Blocking calls work on the driving thread by running work until they are satisfied:
// - Group::wait, Semaphore::wait and runUntil() run posted work and due timers. When nothing
//   is left to run, they move virtual time to the next timer deadline (a wait with a
//   time-out moves it at most to its deadline, and then gives up), except while external
//   work is outstanding (Scheduler::beginExternalWork): then, and when there is no timer
//   at all, they block on a condition variable until a real thread posts work or signals.
// - sync onto another queue first runs the items that queue received before it (and only
//   those), then the work, on the calling thread, with the caller's queues still current.
//   A sync onto a queue that a blocking wait further up the same thread holds cannot wait
//   for it (that frame resumes only after the sync returns): it is logged as a warning and
//   the work runs inline.
//
// Any thread may post work, signal, leave groups and arm timers. One thread drives at a time:
// a blocking call on another thread while the scheduler is being driven waits for the
// driving thread to satisfy it (sync work is then run by the driving thread).
class VirtualScheduler final : public Scheduler {
 public:
  explicit VirtualScheduler(Date start = Date::fromReferenceSeconds(0));
  ~VirtualScheduler() override;
  VirtualScheduler(const VirtualScheduler&) = delete;
  VirtualScheduler& operator=(const VirtualScheduler&) = delete;

  std::shared_ptr<ManualClock> manualClock() const;

  std::shared_ptr<Clock> clock() const override;
  std::shared_ptr<Queue> makeSerialQueue(std::string label) override;
  std::shared_ptr<Queue> makeConcurrentQueue(std::string label) override;
  std::shared_ptr<Queue> mainQueue() override;
  std::shared_ptr<Queue> globalQueue(QoS qos = QoS::Default) override;
  std::shared_ptr<Group> makeGroup() override;
  std::shared_ptr<Semaphore> makeSemaphore(long initialValue = 0) override;
  std::shared_ptr<TimerSource> makeTimer(std::shared_ptr<Queue> queue,
                                         TimerClock clock = TimerClock::Monotonic) override;
  std::shared_ptr<void> beginExternalWork() override;

  // Runs posted work and due timers until there is none; returns the number of work items run.
  // Work a real thread is still doing (a request in flight) is not waited for.
  std::size_t runUntilIdle();
  // As runUntilIdle(), and waits besides for the external work outstanding (and for what it
  // posts, and for the external work that begins in turn) until none is left: what a
  // request on a real network brings back has run when it returns. Virtual time does not
  // move. Returns the number of work items run.
  std::size_t runUntilSettled();
  // Moves virtual time forward by seconds (wall time and uptime together), stopping at every
  // timer deadline on the way to fire it and run what follows.
  void advanceBy(double seconds);
  // Sets wall time alone (uptime stays), then runs until idle: wall timers whose deadline it
  // reached fire, monotonic timers do not notice.
  void setWallTime(Date wall);
  // Runs work, as a blocking wait does, until condition() holds (true) or timeoutSeconds of
  // virtual time have passed (false). nullopt waits without a limit. The condition may read
  // state that real threads change without telling the scheduler: while the call blocks for
  // real threads, it re-checks the condition every few milliseconds.
  bool runUntil(const std::function<bool()>& condition, std::optional<double> timeoutSeconds = std::nullopt);

  // Work items posted and not yet run.
  std::size_t pendingCount() const;
  // Tokens of Scheduler::beginExternalWork still held.
  std::size_t externalWorkCount() const;
  // Seconds of virtual uptime until the next armed timer fires; nullopt when none is armed.
  std::optional<double> nextTimerDelay() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
  std::shared_ptr<Queue> main_;
  std::vector<std::shared_ptr<Queue>> globals_;
};

}  // namespace velmora::platform::dispatch
