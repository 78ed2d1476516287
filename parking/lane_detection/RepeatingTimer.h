#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/TimerSource.h"

namespace velmora {

// Calls one closure every timeInterval seconds on a queue, the first time timeInterval
// seconds after the source was made. Internal to the parking layer.
//
// The source is made on first use, suspended; resume() starts it and a second resume() does
// nothing. The source's handler holds the timer weakly, so a tick that is already queued when
// the last reference goes finds no timer and calls nothing. Destruction silences, cancels and
// (if it never ran) resumes the source, so it is never released suspended, then drops the
// closure and what it captured.
class RepeatingTimer : public std::enable_shared_from_this<RepeatingTimer> {
  struct Token {
    explicit Token() = default;
  };

 public:
  // queue nullptr: the shared scheduler's default-priority global queue.
  RepeatingTimer(Token, double timeInterval, std::shared_ptr<platform::dispatch::Queue> queue);
  ~RepeatingTimer();
  RepeatingTimer(const RepeatingTimer&) = delete;
  RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  static std::shared_ptr<RepeatingTimer> create(double timeInterval,
                                                std::shared_ptr<platform::dispatch::Queue> queue = nullptr);

  double timeInterval() const { return timeInterval_; }
  void setEventHandler(std::function<void()> handler);
  void resume();

 private:
  enum class State { suspended, resumed };

  // The source, made on first call. Called with mutex_ held.
  platform::dispatch::TimerSource& timerLocked();

  const double timeInterval_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
  mutable std::mutex mutex_;
  std::shared_ptr<platform::dispatch::TimerSource> timer_;
  std::function<void()> eventHandler_;
  State state_ = State::suspended;
};

}  // namespace velmora
