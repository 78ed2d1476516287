#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/Scheduler.h"

namespace velmora::platform::sim {

// The clock work of a simulation: work due at given uptimes, run in time order (ties in
// the order they were added) on the simulation's own serial queue, driven by one monotonic
// timer that is always armed for the earliest item. Under the VirtualScheduler, advanceBy
// plays the items in order at their exact microsecond. Thread-safe.
class SimTimeline : public std::enable_shared_from_this<SimTimeline> {
 public:
  using Id = std::uint64_t;

  static std::shared_ptr<SimTimeline> create(std::shared_ptr<dispatch::Scheduler> scheduler, std::string label);
  ~SimTimeline();

  const std::shared_ptr<dispatch::Scheduler>& scheduler() const { return scheduler_; }
  const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }
  // The scheduler's monotonic uptime in microseconds.
  std::int64_t nowMicros() const;

  // Runs work on the queue once uptime reaches the given microsecond (at once, in order,
  // when it has passed). Returns an id for cancel.
  Id at(std::int64_t uptimeMicros, dispatch::Work work);
  Id after(double seconds, dispatch::Work work);
  // Drops an item that has not started; unknown ids are ignored.
  void cancel(Id id);
  // Items waiting.
  std::size_t pendingCount() const;

  static std::int64_t toMicros(double seconds);

 private:
  SimTimeline(std::shared_ptr<dispatch::Scheduler> scheduler, std::string label);
  void fire();
  void armLocked();

  struct Due {
    std::int64_t at;
    Id id;
    bool operator>(const Due& o) const { return at != o.at ? at > o.at : id > o.id; }
  };

  const std::shared_ptr<dispatch::Scheduler> scheduler_;
  const std::shared_ptr<dispatch::Queue> queue_;
  std::shared_ptr<dispatch::TimerSource> timer_;
  mutable std::mutex mutex_;
  std::priority_queue<Due, std::vector<Due>, std::greater<>> heap_;
  std::unordered_map<Id, dispatch::Work> work_;
  Id nextId_ = 1;
  std::int64_t armedFor_ = -1;  // the uptime the timer is set for; -1 when idle
  bool firing_ = false;
};

}  // namespace velmora::platform::sim
