#include "platform/dispatch/TimerCore.h"

#include <algorithm>
#include <cmath>

#include "platform/core/Log.h"

namespace velmora::platform::dispatch {
namespace {

// Seconds to whole microseconds, rounded; NaN and negatives give 0, and huge values
// saturate far below the int64 range so that deadline arithmetic cannot overflow.
std::int64_t toMicros(double seconds) {
  if (!(seconds > 0)) return 0;
  constexpr double kMaxSeconds = 1e11;  // about 3,000 years
  return static_cast<std::int64_t>(std::llround(std::min(seconds, kMaxSeconds) * 1e6));
}

}  // namespace

TimerCore::TimerCore(std::shared_ptr<Queue> queue, TimerClock clockKind, std::shared_ptr<Clock> clock,
                     std::weak_ptr<TimerDriver> driver)
    : queue_(std::move(queue)), clockKind_(clockKind), clock_(std::move(clock)), driver_(std::move(driver)) {}

void TimerCore::setEventHandler(Work handler) {
  auto replacement = std::make_shared<Work>(std::move(handler));
  std::unique_lock lock(mutex_);
  if (cancelled_) return;  // the replacement dies outside the lock
  std::swap(handler_, replacement);
}

void TimerCore::setCancelHandler(Work handler) {
  std::unique_lock lock(mutex_);
  if (cancelled_) return;
  std::swap(cancelHandler_, handler);
}

void TimerCore::schedule(double startSeconds, double intervalSeconds) {
  std::lock_guard lock(mutex_);
  if (cancelled_) return;
  deadline_ = nowLocked() + toMicros(startSeconds);
  interval_ = intervalSeconds > 0 ? std::max<std::int64_t>(1, toMicros(intervalSeconds)) : 0;
  deferredDelivery_ = false;
  if (suspendCount_ == 0) {
    armLocked();
  } else {
    disarmLocked();
  }
}

void TimerCore::resume() {
  bool deliverNow = false;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    if (suspendCount_ == 0) {
      reportProgrammingError("resume of a timer source that is not suspended");
      return;
    }
    if (--suspendCount_ > 0) return;
    armLocked();
    if (deferredDelivery_ && !deliveryPending_) {
      deferredDelivery_ = false;
      deliveryPending_ = true;
      deliverNow = true;
    }
  }
  if (deliverNow) post();
}

void TimerCore::suspend() {
  std::lock_guard lock(mutex_);
  if (cancelled_) return;
  if (++suspendCount_ == 1) disarmLocked();
}

void TimerCore::cancel() {
  std::shared_ptr<Work> handler;
  Work cancelHandler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    disarmLocked();
    deadline_.reset();
    // Dropping the handlers breaks the cycles they usually close (an owner that holds the
    // timer and is captured by its handler).
    handler = std::move(handler_);
    cancelHandler = std::move(cancelHandler_);
  }
  if (cancelHandler) queue_->async(std::move(cancelHandler));
}

bool TimerCore::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void TimerCore::fire(std::uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || cancelled_ || suspendCount_ > 0 || !deadline_) return;
    if (interval_ > 0) {
      // The next deadline keeps the phase of the schedule and lies after now, however late
      // this firing is.
      const std::int64_t now = nowLocked();
      std::int64_t next = *deadline_ + interval_;
      if (next <= now) next += ((now - next) / interval_ + 1) * interval_;
      deadline_ = next;
      armLocked();
    } else {
      deadline_.reset();
    }
    if (deliveryPending_) return;
    deliveryPending_ = true;
  }
  post();
}

std::int64_t TimerCore::nowLocked() const {
  return clockKind_ == TimerClock::Monotonic ? clock_->uptime().count() : clock_->now().unixMicros();
}

void TimerCore::armLocked() {
  ++generation_;
  if (cancelled_ || suspendCount_ > 0 || !deadline_) return;
  if (auto driver = driver_.lock()) driver->arm(clockKind_, shared_from_this(), *deadline_, generation_);
}

void TimerCore::disarmLocked() {
  ++generation_;
  if (auto driver = driver_.lock()) driver->disarm(this);
}

void TimerCore::post() {
  queue_->async([self = shared_from_this()] { self->deliver(); });
}

void TimerCore::deliver() {
  std::shared_ptr<Work> handler;
  {
    std::lock_guard lock(mutex_);
    deliveryPending_ = false;
    if (cancelled_) return;
    if (suspendCount_ > 0) {
      deferredDelivery_ = true;
      return;
    }
    handler = handler_;
  }
  if (handler && *handler) (*handler)();
}

}  // namespace velmora::platform::dispatch
