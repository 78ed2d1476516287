#include "parking/lane_detection/RepeatingTimer.h"

#include "platform/dispatch/Scheduler.h"

namespace velmora {

using platform::dispatch::Scheduler;

RepeatingTimer::RepeatingTimer(Token, double timeInterval, std::shared_ptr<platform::dispatch::Queue> queue)
    : timeInterval_(timeInterval), queue_(queue ? std::move(queue) : Scheduler::shared()->globalQueue()) {}

std::shared_ptr<RepeatingTimer> RepeatingTimer::create(double timeInterval,
                                                       std::shared_ptr<platform::dispatch::Queue> queue) {
  return std::make_shared<RepeatingTimer>(Token{}, timeInterval, std::move(queue));
}

platform::dispatch::TimerSource& RepeatingTimer::timerLocked() {
  if (!timer_) {
    timer_ = Scheduler::shared()->makeTimer(queue_);
    timer_->schedule(timeInterval_, timeInterval_, 0);
    // During construction weak_from_this() is empty; the source is only made from members
    // called on a live, shared timer.
    timer_->setEventHandler([weak = weak_from_this()] {
      auto self = weak.lock();
      if (!self) return;
      std::function<void()> handler;
      {
        std::lock_guard lock(self->mutex_);
        handler = self->eventHandler_;
      }
      if (handler) handler();
    });
  }
  return *timer_;
}

void RepeatingTimer::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  eventHandler_ = std::move(handler);
}

void RepeatingTimer::resume() {
  std::lock_guard lock(mutex_);
  if (state_ == State::resumed) return;
  state_ = State::resumed;
  timerLocked().resume();
}

RepeatingTimer::~RepeatingTimer() {
  std::function<void()> released;
  {
    std::lock_guard lock(mutex_);
    // A source that was never made has nothing to tear down; making one only to cancel it
    // would schedule nothing either.
    if (timer_) {
      timer_->setEventHandler([] {});
      timer_->cancel();
      if (state_ == State::suspended) {
        state_ = State::resumed;
        timer_->resume();
      }
    }
    released = std::move(eventHandler_);
  }
  // What the closure captured is released outside the lock.
}

}  // namespace velmora
