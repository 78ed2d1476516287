#include "platform/dispatch/TimerHeap.h"

namespace velmora::platform::dispatch {

void TimerHeap::arm(TimerClock clock, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline,
                    std::uint64_t generation) {
  disarm(timer.get());
  const Key key{deadline, nextSequence_++};
  set(clock).emplace(key, Due{timer, generation});
  index_.emplace(timer.get(), Slot{clock, key});
}

void TimerHeap::disarm(const TimerCore* timer) {
  auto it = index_.find(timer);
  if (it == index_.end()) return;
  set(it->second.clock).erase(it->second.key);
  index_.erase(it);
}

std::optional<std::int64_t> TimerHeap::earliest(TimerClock clock) const {
  const Set& s = set(clock);
  if (s.empty()) return std::nullopt;
  return s.begin()->first.deadline;
}

void TimerHeap::popDueFrom(TimerClock clock, std::int64_t now, std::vector<Due>& out) {
  Set& s = set(clock);
  while (!s.empty() && s.begin()->first.deadline <= now) {
    auto node = s.extract(s.begin());
    index_.erase(node.mapped().timer.get());
    out.push_back(std::move(node.mapped()));
  }
}

std::vector<TimerHeap::Due> TimerHeap::popDue(std::int64_t uptimeNow, std::int64_t wallNow) {
  std::vector<Due> due;
  popDueFrom(TimerClock::Monotonic, uptimeNow, due);
  popDueFrom(TimerClock::Wall, wallNow, due);
  return due;
}

std::vector<TimerHeap::Due> TimerHeap::clear() {
  std::vector<Due> all;
  for (auto& [key, d] : monotonic_) all.push_back(std::move(d));
  for (auto& [key, d] : wall_) all.push_back(std::move(d));
  monotonic_.clear();
  wall_.clear();
  index_.clear();
  return all;
}

}  // namespace velmora::platform::dispatch
