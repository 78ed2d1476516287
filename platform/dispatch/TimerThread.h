#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/core/Clock.h"
#include "platform/dispatch/ThreadHost.h"
#include "platform/dispatch/TimerCore.h"
#include "platform/dispatch/TimerHeap.h"

namespace velmora::platform::dispatch {

// The one thread of a ThreadScheduler that keeps the deadline heap and fires timers. It
// starts with the first armed timer. It sleeps until the earliest deadline, but re-reads the
// clock at least every `wallPoll` while a wall timer is armed (wall time may jump), and at
// least every `injectedPoll` on an injected clock, which moves without telling anyone.
// Internal to the dispatch layer.
class TimerThread final : public TimerDriver, public std::enable_shared_from_this<TimerThread> {
 public:
  TimerThread(std::shared_ptr<Clock> clock, std::shared_ptr<ThreadHost> host, std::chrono::milliseconds wallPoll,
              std::chrono::milliseconds injectedPoll);

  void arm(TimerClock clock, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline,
           std::uint64_t generation) override;
  void disarm(const TimerCore* timer) override;

  // Re-reads the clock now (after an injected clock moved, or the system time was set).
  void clockChanged();
  // Ends the thread and cancels every armed timer.
  void shutdown();

 private:
  void run();

  const std::shared_ptr<Clock> clock_;
  const std::shared_ptr<ThreadHost> host_;
  const bool systemClock_;
  const std::chrono::milliseconds wallPoll_;
  const std::chrono::milliseconds injectedPoll_;

  std::mutex mutex_;
  std::condition_variable changed_;
  TimerHeap heap_;
  bool started_ = false;
  bool stopped_ = false;
};

}  // namespace velmora::platform::dispatch
