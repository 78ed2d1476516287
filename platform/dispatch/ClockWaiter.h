#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/core/Clock.h"

namespace velmora::platform::dispatch {

// Waits on a condition variable with a time-out measured on a scheduler's Clock. On the
// system clock the wait sleeps until the deadline; an injected clock (a ManualClock moved by
// a test) tells nobody when it moves, so the wait re-reads it every `poll`. Internal to the
// dispatch layer.
class ClockWaiter {
 public:
  ClockWaiter(std::shared_ptr<Clock> clock, std::chrono::milliseconds poll)
      : clock_(std::move(clock)),
        system_(dynamic_cast<const SystemClock*>(clock_.get()) != nullptr),
        poll_(poll) {}

  const std::shared_ptr<Clock>& clock() const { return clock_; }
  bool isSystemClock() const { return system_; }
  std::chrono::milliseconds poll() const { return poll_; }

  // Waits until pred() holds (true) or timeoutSeconds of the clock's uptime have passed
  // (pred() at that moment). nullopt waits without a limit.
  template <class Pred>
  bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::optional<double> timeoutSeconds,
               Pred pred) const {
    if (!timeoutSeconds) {
      cv.wait(lock, pred);
      return true;
    }
    const double seconds = std::isnan(*timeoutSeconds) ? 0.0 : std::clamp(*timeoutSeconds, 0.0, 1e9);
    const std::chrono::microseconds timeout(static_cast<std::int64_t>(std::llround(seconds * 1e6)));
    if (system_) return cv.wait_for(lock, timeout, pred);
    const auto deadline = clock_->uptime() + timeout;
    while (!pred()) {
      const auto now = clock_->uptime();
      if (now >= deadline) return false;
      cv.wait_for(lock, std::min<std::chrono::microseconds>(deadline - now, poll_));
    }
    return true;
  }

 private:
  std::shared_ptr<Clock> clock_;
  bool system_;
  std::chrono::milliseconds poll_;
};

}  // namespace velmora::platform::dispatch
