#include "platform/sim/SimTimeline.h"

#include <cmath>
#include <limits>

namespace velmora::platform::sim {

std::int64_t SimTimeline::toMicros(double seconds) {
  if (!(seconds > 0)) return 0;
  constexpr double kMax = 1e12;  // about 31700 years
  return static_cast<std::int64_t>(std::llround(std::min(seconds, kMax) * 1e6));
}

std::shared_ptr<SimTimeline> SimTimeline::create(std::shared_ptr<dispatch::Scheduler> scheduler, std::string label) {
  std::shared_ptr<SimTimeline> timeline(new SimTimeline(std::move(scheduler), std::move(label)));
  std::weak_ptr<SimTimeline> weak = timeline;
  timeline->timer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->fire();
  });
  timeline->timer_->resume();
  return timeline;
}

SimTimeline::SimTimeline(std::shared_ptr<dispatch::Scheduler> scheduler, std::string label)
    : scheduler_(std::move(scheduler)),
      queue_(scheduler_->makeSerialQueue(std::move(label))),
      timer_(scheduler_->makeTimer(queue_, dispatch::TimerClock::Monotonic)) {}

SimTimeline::~SimTimeline() { timer_->cancel(); }

std::int64_t SimTimeline::nowMicros() const { return scheduler_->clock()->uptime().count(); }

SimTimeline::Id SimTimeline::at(std::int64_t uptimeMicros, dispatch::Work work) {
  std::lock_guard lock(mutex_);
  const Id id = nextId_++;
  heap_.push({uptimeMicros, id});
  work_.emplace(id, std::move(work));
  // While items run, the end of the run arms the timer for whatever is earliest then.
  if (!firing_ && (armedFor_ < 0 || uptimeMicros < armedFor_)) armLocked();
  return id;
}

SimTimeline::Id SimTimeline::after(double seconds, dispatch::Work work) {
  return at(nowMicros() + toMicros(seconds), std::move(work));
}

void SimTimeline::cancel(Id id) {
  std::lock_guard lock(mutex_);
  work_.erase(id);
}

std::size_t SimTimeline::pendingCount() const {
  std::lock_guard lock(mutex_);
  return work_.size();
}

void SimTimeline::armLocked() {
  // Cancelled items stay in the heap until they reach the top.
  while (!heap_.empty() && !work_.contains(heap_.top().id)) heap_.pop();
  if (heap_.empty()) {
    armedFor_ = -1;
    return;
  }
  armedFor_ = heap_.top().at;
  const std::int64_t delay = std::max<std::int64_t>(0, armedFor_ - nowMicros());
  timer_->schedule(static_cast<double>(delay) / 1e6, 0);
}

void SimTimeline::fire() {
  {
    std::lock_guard lock(mutex_);
    firing_ = true;
  }
  for (;;) {
    dispatch::Work work;
    {
      std::lock_guard lock(mutex_);
      while (!heap_.empty() && !work_.contains(heap_.top().id)) heap_.pop();
      if (heap_.empty() || heap_.top().at > nowMicros()) {
        firing_ = false;
        armLocked();
        return;
      }
      const Id id = heap_.top().id;
      heap_.pop();
      auto it = work_.find(id);
      work = std::move(it->second);
      work_.erase(it);
    }
    if (work) work();
  }
}

}  // namespace velmora::platform::sim
