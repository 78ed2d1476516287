#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/core/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/TimerSource.h"

namespace velmora::platform::dispatch {

class TimerCore;

// What a scheduler does for its timers: keep armed deadlines and call TimerCore::fire when
// one comes (never while holding a lock that TimerCore might need: fire may arm again).
class TimerDriver {
 public:
  virtual ~TimerDriver() = default;
  virtual void arm(TimerClock clock, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline,
                   std::uint64_t generation) = 0;
  virtual void disarm(const TimerCore* timer) = 0;
};

// The state machine of a timer source, shared by both schedulers: schedule, suspend count,
// cancellation, handlers, and the coalescing of firings. Deadlines are whole microseconds on
// the timer's clock (uptime for monotonic timers, the Unix epoch for wall timers).
//
// Firing posts one delivery onto the timer's queue; while a delivery waits there, further
// firings merge into it, and a repeating timer that falls behind re-arms for its next
// interval after now, so a late timer fires once rather than once per missed interval.
// Internal to the dispatch layer.
class TimerCore : public std::enable_shared_from_this<TimerCore> {
 public:
  TimerCore(std::shared_ptr<Queue> queue, TimerClock clockKind, std::shared_ptr<Clock> clock,
            std::weak_ptr<TimerDriver> driver);
  TimerCore(const TimerCore&) = delete;
  TimerCore& operator=(const TimerCore&) = delete;

  void setEventHandler(Work handler);
  void setCancelHandler(Work handler);
  void schedule(double startSeconds, double intervalSeconds);
  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;

  // Called by the driver when the deadline armed with this generation has come.
  void fire(std::uint64_t generation);

 private:
  std::int64_t nowLocked() const;
  // Arms the current deadline with the driver when the timer is active, under mutex_.
  void armLocked();
  void disarmLocked();
  void post();
  void deliver();

  const std::shared_ptr<Queue> queue_;
  const TimerClock clockKind_;
  const std::shared_ptr<Clock> clock_;
  const std::weak_ptr<TimerDriver> driver_;

  mutable std::mutex mutex_;
  std::shared_ptr<Work> handler_;
  Work cancelHandler_;
  std::optional<std::int64_t> deadline_;  // the next firing; empty when unscheduled or a one-shot has fired
  std::int64_t interval_ = 0;             // microseconds; 0 for a one-shot timer
  int suspendCount_ = 1;                  // made suspended
  bool cancelled_ = false;
  bool deliveryPending_ = false;  // a delivery sits on the queue
  bool deferredDelivery_ = false;  // a delivery came while suspended; made on resume
  std::uint64_t generation_ = 0;  // bumped whenever an armed deadline becomes stale
};

// The TimerSource handed out by both schedulers. Dropping the last reference cancels the timer.
class TimerSourceHandle final : public TimerSource {
 public:
  explicit TimerSourceHandle(std::shared_ptr<TimerCore> core) : core_(std::move(core)) {}
  ~TimerSourceHandle() override { core_->cancel(); }

  void setEventHandler(Work handler) override { core_->setEventHandler(std::move(handler)); }
  void setCancelHandler(Work handler) override { core_->setCancelHandler(std::move(handler)); }
  void schedule(double startSeconds, double intervalSeconds, double /*leewaySeconds*/) override {
    core_->schedule(startSeconds, intervalSeconds);
  }
  void resume() override { core_->resume(); }
  void suspend() override { core_->suspend(); }
  void cancel() override { core_->cancel(); }
  bool isCancelled() const override { return core_->isCancelled(); }

 private:
  std::shared_ptr<TimerCore> core_;
};

}  // namespace velmora::platform::dispatch
