#include "examples/carpark_drive/GateRule.h"

#include <algorithm>

#include "parking/carpark_api/LaneBeaconModel.h"

namespace carparkdrive {

void GateRule::setBeacons(std::vector<std::shared_ptr<velmora::BeaconModel>> beacons) {
  // Lane detection hands out the same snapshot objects it refreshes, so what is kept here
  // stays current until the next list replaces it.
  beacons_.clear();
  for (auto& b : beacons) {
    if (b) beacons_[b->beaconID()] = std::move(b);
  }
}

bool GateRule::heard(const velmora::LaneModel& lane, double now) const {
  for (const auto& lb : lane.laneBeacons()) {
    auto found = beacons_.find(lb->beaconId());
    if (found == beacons_.end()) continue;
    const auto v = found->second->values();
    const double updated = toSeconds_ ? toSeconds_(v.lastUpdated) : now;
    if (v.rssi < 0 && now - updated <= kSilentAfterSeconds) return true;
  }
  return false;
}

void GateRule::forget() {
  samples_.clear();
  recent_.clear();
  leader_.reset();
  leaderId_.reset();
}

std::shared_ptr<velmora::LaneModel> GateRule::look(double now, std::int64_t laneType) {
  struct Heard {
    std::shared_ptr<velmora::LaneModel> lane;
    double mean;
  };
  std::vector<Heard> heardLanes;
  std::map<std::int64_t, std::deque<Sample>> kept;
  for (const auto& lane : lanes_) {
    const auto id = lane->laneId();
    if (!id || kept.contains(*id)) continue;
    if (!heard(*lane, now)) continue;  // silent: its history goes with it
    auto history = std::move(samples_[*id]);
    history.push_back({now, lane->rssi()});
    while (!history.empty() && now - history.front().t >= kWindowSeconds) history.pop_front();
    double sum = 0;
    for (const auto& s : history) sum += static_cast<double>(s.rssi);
    heardLanes.push_back({lane, sum / static_cast<double>(history.size())});
    kept[*id] = std::move(history);
  }
  samples_ = std::move(kept);

  std::stable_sort(heardLanes.begin(), heardLanes.end(), [](const Heard& a, const Heard& b) { return a.mean > b.mean; });
  std::shared_ptr<velmora::LaneModel> leader;
  if (!heardLanes.empty()) {
    const Heard& best = heardLanes.front();
    const bool strongEnough = best.mean >= static_cast<double>(best.lane->getMinRSSI());
    // Taking the lead needs the margin; keeping it, only staying the strongest, so that
    // the hold is not broken by a pass where the runner-up came close.
    const bool keeps = leaderId_ && best.lane->laneId() == leaderId_;
    const bool clear = heardLanes.size() == 1 || keeps || best.mean >= heardLanes[1].mean + kMarginDb;
    if (clear && strongEnough && best.lane->laneType() == laneType) leader = best.lane;
  }

  const auto id = leader ? leader->laneId() : std::nullopt;
  leaderId_ = id;
  leader_ = leader;
  recent_.push_back(id);
  while (recent_.size() > kRecentLooks) recent_.pop_front();
  if (!leader) return nullptr;
  // Led at this look and at the lane's detection seconds' worth of looks before it, one
  // look a second, with at most kBreaksAllowed looks of another lane (or none) in between.
  const auto hold = static_cast<std::size_t>(std::max(kMinHoldSeconds, static_cast<double>(leader->getMinDetectionSecs())));
  const std::size_t span = std::min(recent_.size(), hold + 1 + kBreaksAllowed);
  const auto led = static_cast<std::size_t>(std::count(recent_.end() - static_cast<std::ptrdiff_t>(span), recent_.end(), id));
  if (led < hold + 1) return nullptr;
  forget();
  return leader;
}

}  // namespace carparkdrive
