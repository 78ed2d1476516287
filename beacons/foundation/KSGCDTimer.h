#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Value.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

inline constexpr std::string_view KSGCDTimerExceptionName = "GCDTimerException";
inline constexpr std::string_view KSGCDTimerNameKey = "GCDTimerNameKey";
inline constexpr std::string_view KSGCDTimerRescheduleReason = "Attempt to schedule block while timer is valid.";
// 100 ms, the leeway of the factories that take none.
inline constexpr std::uint64_t KSGCDTimerDefaultLeeway = 100'000'000;
// From this leeway on (1 s) a timer follows the wall clock; below it, uptime.
inline constexpr std::uint64_t KSGCDTimerWallClockLeeway = 1'000'000'000;

// Thrown when a timer is scheduled while it is valid. userInfo holds the timer's name under
// KSGCDTimerNameKey when the timer has one.
class KSGCDTimerException : public std::exception {
 public:
  KSGCDTimerException(std::string reason, platform::Dict userInfo)
      : reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}
  std::string_view name() const { return KSGCDTimerExceptionName; }
  const std::string& reason() const { return reason_; }
  const platform::Dict& userInfo() const { return userInfo_; }
  const char* what() const noexcept override { return reason_.c_str(); }

 private:
  std::string reason_;
  platform::Dict userInfo_;
};

// A block that runs on a dispatch queue after an interval, once or repeatedly, until the
// timer is invalidated.
//
// A one-shot timer invalidates itself as it fires, before its block runs, so the block may
// schedule it again. A repeating timer fires every interval until invalidate(). Releasing the
// last reference to a timer invalidates it: a timer its owner has dropped never fires, so an
// owner that wants a timer to run keeps it (the firing holds the timer only while its block
// runs).
//
// A leeway of 1 s or more makes the timer follow the wall clock (a deadline that keeps counting
// while the device sleeps, and fires when wall time jumps past it); a smaller one follows
// uptime. The leeway is otherwise a hint. Timers come from the shared scheduler unless one is
// given.
class KSGCDTimer : public std::enable_shared_from_this<KSGCDTimer> {
 public:
  using Block = std::function<void()>;
  using Queue = std::shared_ptr<platform::dispatch::Queue>;

  static std::shared_ptr<KSGCDTimer> initWithDispatchQueue(
      Queue queue, std::uint64_t leewayNanoseconds, std::optional<std::string> name,
      std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr);

  static std::shared_ptr<KSGCDTimer> timerOnQueue(Queue queue, std::uint64_t leewayNanoseconds,
                                                  std::optional<std::string> name);
  static std::shared_ptr<KSGCDTimer> timerOnQueue(Queue queue, std::optional<std::string> name);
  static std::shared_ptr<KSGCDTimer> timerOnQueue(Queue queue);
  static std::shared_ptr<KSGCDTimer> timerOnMainQueue(std::uint64_t leewayNanoseconds,
                                                      std::optional<std::string> name);
  static std::shared_ptr<KSGCDTimer> timerOnMainQueue(std::optional<std::string> name);
  static std::shared_ptr<KSGCDTimer> timerOnMainQueue();

  ~KSGCDTimer();
  KSGCDTimer(const KSGCDTimer&) = delete;
  KSGCDTimer& operator=(const KSGCDTimer&) = delete;

  // Arms the timer: the block runs intervalSeconds from now, then (repeat) every
  // intervalSeconds. A negative or NaN interval counts as 0; a repeating timer with interval 0
  // fires once. Throws KSGCDTimerException while the timer is valid, leaving it as it was.
  void scheduleBlock(Block block, double intervalSeconds, bool repeat = false);
  // Stops the timer: its block never starts again (a run under way finishes). Harmless when
  // the timer is not valid.
  void invalidate();

  bool isValid() const;
  const std::optional<std::string>& name() const { return name_; }
  std::uint64_t leeway() const { return leeway_; }

 private:
  struct Token {};

 public:
  KSGCDTimer(Token, Queue queue, std::uint64_t leeway, std::optional<std::string> name,
             std::shared_ptr<platform::dispatch::Scheduler> scheduler);

 private:
  void invalidateLocked();

  const Queue queue_;
  const std::uint64_t leeway_;
  const std::optional<std::string> name_;
  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const platform::dispatch::TimerClock clock_;

  mutable std::mutex mutex_;
  std::shared_ptr<platform::dispatch::TimerSource> source_;
  bool valid_ = false;
};

}  // namespace velmora::kestrine
