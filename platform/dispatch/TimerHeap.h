#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/dispatch/TimerSource.h"

namespace velmora::platform::dispatch {

class TimerCore;

// The armed timers of a scheduler, ordered by deadline: one set for monotonic deadlines
// (microseconds of uptime) and one for wall deadlines (microseconds on the Unix epoch).
// A timer is armed at most once at a time; arming it again moves it. Not synchronised: the
// owning scheduler guards it. Internal to the dispatch layer.
class TimerHeap {
 public:
  struct Due {
    std::shared_ptr<TimerCore> timer;
    std::uint64_t generation;
  };

  void arm(TimerClock clock, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline, std::uint64_t generation);
  void disarm(const TimerCore* timer);

  bool empty() const { return index_.empty(); }
  std::optional<std::int64_t> earliest(TimerClock clock) const;
  // Removes and returns every timer whose deadline has come: monotonic ones first, each set
  // in deadline order, timers with equal deadlines in the order they were armed.
  std::vector<Due> popDue(std::int64_t uptimeNow, std::int64_t wallNow);
  // Removes every timer.
  std::vector<Due> clear();

 private:
  struct Key {
    std::int64_t deadline;
    std::uint64_t sequence;
    friend bool operator<(const Key& a, const Key& b) {
      return std::pair(a.deadline, a.sequence) < std::pair(b.deadline, b.sequence);
    }
  };
  struct Slot {
    TimerClock clock;
    Key key;
  };
  using Set = std::map<Key, Due>;

  Set& set(TimerClock clock) { return clock == TimerClock::Monotonic ? monotonic_ : wall_; }
  const Set& set(TimerClock clock) const { return clock == TimerClock::Monotonic ? monotonic_ : wall_; }
  void popDueFrom(TimerClock clock, std::int64_t now, std::vector<Due>& out);

  Set monotonic_;
  Set wall_;
  std::map<const TimerCore*, Slot> index_;
  std::uint64_t nextSequence_ = 0;
};

}  // namespace velmora::platform::dispatch
