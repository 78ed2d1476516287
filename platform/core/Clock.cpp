#include "platform/core/Clock.h"

#include <cmath>

namespace velmora::platform {

std::shared_ptr<Clock> Clock::system() {
  static const std::shared_ptr<Clock>& clock = *new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return clock;
}

Date SystemClock::now() const {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return Date::fromUnixMicros(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

std::chrono::microseconds SystemClock::uptime() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

ManualClock::ManualClock(Date start) : wallMicros_(start.unixMicros()) {}

Date ManualClock::now() const { return Date::fromUnixMicros(wallMicros_.load()); }

std::chrono::microseconds ManualClock::uptime() const {
  return std::chrono::microseconds(uptimeMicros_.load());
}

void ManualClock::advance(std::chrono::microseconds by) {
  if (by.count() <= 0) return;
  wallMicros_ += by.count();
  uptimeMicros_ += by.count();
}

void ManualClock::advance(double seconds) {
  if (!(seconds > 0)) return;
  advance(std::chrono::microseconds(static_cast<std::int64_t>(std::llround(seconds * 1e6))));
}

void ManualClock::setNow(Date wall) { wallMicros_ = wall.unixMicros(); }

}  // namespace velmora::platform
