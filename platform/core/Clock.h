#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/core/Date.h"

namespace velmora::platform {

// The source of "now". Product code never reads the system clock directly: it asks the
// Clock it was given, so tests run on a ManualClock.
//
// Two times are kept apart: wall time (a Date, which can jump when the user or NTP sets
// the clock) and monotonic uptime (never goes back, does not follow wall jumps).
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  virtual std::chrono::microseconds uptime() const = 0;

  // The process-wide clock on the real system time.
  static std::shared_ptr<Clock> system();
};

class SystemClock final : public Clock {
 public:
  Date now() const override;
  std::chrono::microseconds uptime() const override;
};

// A clock that moves only when told to. Thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(Date start = Date::fromReferenceSeconds(0));

  Date now() const override;
  std::chrono::microseconds uptime() const override;

  // Moves wall time and uptime forward together; negative intervals are ignored.
  void advance(std::chrono::microseconds by);
  void advance(double seconds);
  // Sets wall time alone, as a clock change on the device would; uptime is unchanged.
  void setNow(Date wall);

 private:
  std::atomic<std::int64_t> wallMicros_;
  std::atomic<std::int64_t> uptimeMicros_{0};
};

}  // namespace velmora::platform
