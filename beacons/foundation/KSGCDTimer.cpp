#include "beacons/foundation/KSGCDTimer.h"

#include <cmath>
#include <limits>
#include <utility>

namespace velmora::kestrine {
namespace {

// Whole nanoseconds of an interval; negative and NaN intervals count as 0, and intervals
// beyond the 64-bit range as the largest one.
std::uint64_t intervalNanoseconds(double seconds) {
  const double ns = seconds * 1e9;
  if (!(ns > 0)) return 0;
  if (ns >= 18446744073709551615.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(ns);
}

}  // namespace

KSGCDTimer::KSGCDTimer(Token, Queue queue, std::uint64_t leeway, std::optional<std::string> name,
                       std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : queue_(std::move(queue)),
      leeway_(leeway),
      name_(std::move(name)),
      scheduler_(scheduler ? std::move(scheduler) : platform::dispatch::Scheduler::shared()),
      clock_(leeway >= KSGCDTimerWallClockLeeway ? platform::dispatch::TimerClock::Wall
                                                 : platform::dispatch::TimerClock::Monotonic),
      source_(scheduler_->makeTimer(queue_, clock_)) {}

KSGCDTimer::~KSGCDTimer() {
  std::lock_guard lock(mutex_);
  invalidateLocked();
}

std::shared_ptr<KSGCDTimer> KSGCDTimer::initWithDispatchQueue(
    Queue queue, std::uint64_t leewayNanoseconds, std::optional<std::string> name,
    std::shared_ptr<platform::dispatch::Scheduler> scheduler) {
  return std::make_shared<KSGCDTimer>(Token{}, std::move(queue), leewayNanoseconds, std::move(name),
                                      std::move(scheduler));
}

std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnQueue(Queue queue, std::uint64_t leewayNanoseconds,
                                                     std::optional<std::string> name) {
  return initWithDispatchQueue(std::move(queue), leewayNanoseconds, std::move(name));
}
std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnQueue(Queue queue, std::optional<std::string> name) {
  return initWithDispatchQueue(std::move(queue), KSGCDTimerDefaultLeeway, std::move(name));
}
std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnQueue(Queue queue) {
  return initWithDispatchQueue(std::move(queue), KSGCDTimerDefaultLeeway, std::nullopt);
}
std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnMainQueue(std::uint64_t leewayNanoseconds,
                                                         std::optional<std::string> name) {
  return initWithDispatchQueue(platform::dispatch::Scheduler::shared()->mainQueue(), leewayNanoseconds,
                               std::move(name));
}
std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnMainQueue(std::optional<std::string> name) {
  return timerOnMainQueue(KSGCDTimerDefaultLeeway, std::move(name));
}
std::shared_ptr<KSGCDTimer> KSGCDTimer::timerOnMainQueue() {
  return timerOnMainQueue(KSGCDTimerDefaultLeeway, std::nullopt);
}

void KSGCDTimer::scheduleBlock(Block block, double intervalSeconds, bool repeat) {
  std::lock_guard lock(mutex_);
  if (valid_) {
    platform::Dict userInfo;
    if (name_) userInfo.emplace(std::string(KSGCDTimerNameKey), *name_);
    throw KSGCDTimerException(std::string(KSGCDTimerRescheduleReason), std::move(userInfo));
  }
  // A source is spent once cancelled; a timer scheduled again after invalidate gets a new one.
  if (source_->isCancelled()) source_ = scheduler_->makeTimer(queue_, clock_);

  const double interval = static_cast<double>(intervalNanoseconds(intervalSeconds)) / 1e9;
  source_->schedule(interval, repeat ? interval : 0.0, static_cast<double>(leeway_) / 1e9);
  // The firing holds the timer weakly: a dropped timer is destroyed, which cancels the source.
  source_->setEventHandler([weak = weak_from_this(), block = std::move(block), repeat] {
    auto self = weak.lock();
    if (!self) return;
    if (!repeat) self->invalidate();
    if (block) block();
  });
  valid_ = true;
  source_->resume();
}

void KSGCDTimer::invalidate() {
  std::lock_guard lock(mutex_);
  invalidateLocked();
}

void KSGCDTimer::invalidateLocked() {
  if (!valid_) return;
  valid_ = false;
  source_->cancel();
}

bool KSGCDTimer::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

}  // namespace velmora::kestrine
