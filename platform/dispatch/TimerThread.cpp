#include "platform/dispatch/TimerThread.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/core/Date.h"

namespace velmora::platform::dispatch {

TimerThread::TimerThread(std::shared_ptr<Clock> clock, std::shared_ptr<ThreadHost> host,
                         std::chrono::milliseconds wallPoll, std::chrono::milliseconds injectedPoll)
    : clock_(std::move(clock)),
      host_(std::move(host)),
      systemClock_(dynamic_cast<const SystemClock*>(clock_.get()) != nullptr),
      wallPoll_(wallPoll),
      injectedPoll_(injectedPoll) {}

void TimerThread::arm(TimerClock clock, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline,
                      std::uint64_t generation) {
  bool start = false;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    heap_.arm(clock, timer, deadline, generation);
    if (!started_) {
      started_ = true;
      start = true;
    }
  }
  changed_.notify_one();
  if (start) host_->spawn([self = shared_from_this()] { self->run(); });
}

void TimerThread::disarm(const TimerCore* timer) {
  std::lock_guard lock(mutex_);
  heap_.disarm(timer);
}

void TimerThread::clockChanged() {
  std::lock_guard lock(mutex_);
  changed_.notify_one();
}

void TimerThread::shutdown() {
  std::vector<TimerHeap::Due> dropped;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    dropped = heap_.clear();
  }
  changed_.notify_one();
  // Cancelling drops the handlers, and with them the cycles they may close.
  for (TimerHeap::Due& d : dropped) d.timer->cancel();
}

void TimerThread::run() {
  std::unique_lock lock(mutex_);
  while (!stopped_) {
    const std::int64_t uptime = clock_->uptime().count();
    const std::int64_t wall = clock_->now().unixMicros();
    std::vector<TimerHeap::Due> due = heap_.popDue(uptime, wall);
    if (!due.empty()) {
      lock.unlock();
      for (TimerHeap::Due& d : due) d.timer->fire(d.generation);
      due.clear();
      lock.lock();
      continue;
    }
    std::optional<std::chrono::microseconds> wait;
    const auto consider = [&](std::chrono::microseconds w) { wait = wait ? std::min(*wait, w) : w; };
    if (auto next = heap_.earliest(TimerClock::Monotonic)) {
      consider(std::chrono::microseconds(*next - uptime));
      if (!systemClock_) consider(injectedPoll_);
    }
    if (auto next = heap_.earliest(TimerClock::Wall)) {
      consider(std::chrono::microseconds(Date::fromUnixMicros(*next).microsecondsSince(Date::fromUnixMicros(wall))));
      consider(systemClock_ ? std::chrono::microseconds(wallPoll_) : std::chrono::microseconds(injectedPoll_));
    }
    if (wait) {
      changed_.wait_for(lock, *wait);
    } else {
      changed_.wait(lock);
    }
  }
}

}  // namespace velmora::platform::dispatch
