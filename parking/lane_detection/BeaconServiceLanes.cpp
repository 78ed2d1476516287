// The lane step of a ranging pass: the candidate lane (and the car-park switch it may cause),
// then the lanes of interest, their signal, and the closest-lane decision.
#include <algorithm>

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/lane_detection/BeaconService.h"

namespace velmora {
namespace {

bool contains(const std::vector<std::int64_t>& types, const std::optional<std::int64_t>& type) {
  return type && std::find(types.begin(), types.end(), *type) != types.end();
}

// Lanes without a group or a sort order sort before those that have one.
bool groupOrderLess(const std::shared_ptr<LaneModel>& a, const std::shared_ptr<LaneModel>& b) {
  const auto ga = a->laneGroupId(), gb = b->laneGroupId();
  if (ga != gb) return ga < gb;  // nullopt < any value
  return a->sortOrder() < b->sortOrder();
}

bool strongerFirst(const std::shared_ptr<LaneModel>& a, const std::shared_ptr<LaneModel>& b) {
  return a->rssi() > b->rssi();
}

}  // namespace

const BeaconService::HeldCarPark* BeaconService::heldCarPark(const CarParkModel* carPark) const {
  for (const auto& held : _carParks) {
    if (held.carPark.get() == carPark) return &held;
  }
  return nullptr;
}

std::shared_ptr<LaneModel> BeaconService::findCandidateLane() {
  const std::optional<StatusResult> status = getUserStatus();
  if (!status) return nullptr;
  const std::vector<std::int64_t> types = getAcceptableLaneTypes();

  // Strongest first; equal signals keep their order in the list.
  std::vector<std::pair<std::int64_t, const BeaconModel*>> ranked;
  ranked.reserve(_beacons.size());
  for (const auto& b : _beacons) ranked.emplace_back(b->rssi(), b.get());
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });

  for (const auto& [rssi, snapshot] : ranked) {
    if (rssi >= 0) continue;
    auto found = laneByBeaconId_.find(snapshot->beaconID());
    if (found == laneByBeaconId_.end()) continue;
    const std::shared_ptr<LaneModel>& c0 = found->second;

    const std::optional<std::int64_t> laneId = c0->laneId();
    if (!laneId) continue;
    const HeldCarPark* p = nullptr;
    for (const auto& held : _carParks) {
      if (std::any_of(held.lanes.begin(), held.lanes.end(), [&](const auto& l) { return l->laneId() == laneId; })) {
        p = &held;
        break;
      }
    }
    if (!p) continue;

    if (status->inCarPark && (!status->carParkId || *status->carParkId != p->carParkId)) continue;
    if (!contains(types, c0->laneType())) continue;

    switchCarParkIfDue(*p);
    return c0;
  }
  return nullptr;
}

void BeaconService::switchCarParkIfDue(const HeldCarPark& carPark) {
  if (carPark.carParkId == getCarParkId()) return;
  if (wholeSecondsSince(_lastCarParkChange) < kBeaconResetInterval) return;
  _lastCarParkChange = now();
  {
    std::lock_guard lock(mutex_);
    _closestLane.reset();
  }
  setCarParkName(carPark.carPark->carParkName());
  {
    std::lock_guard lock(mutex_);
    _carParkID = carPark.carParkId;
  }
  notify([&](BeaconServiceDelegate& d) { d.carParkIdChanged(carPark.carParkId); });
  _lanes.clear();
  _laneBeacons.clear();
  notify([&](BeaconServiceDelegate& d) { d.closestLaneChanged(nullptr); });
  notify([&](BeaconServiceDelegate& d) { d.lanesChanged(_lanes); });
  notify([&](BeaconServiceDelegate& d) { d.laneBeaconsChanged(_laneBeacons); });
}

void BeaconService::processLane(const std::shared_ptr<LaneModel>& lane) {
  const std::shared_ptr<CarParkModel> carPark = lane->carPark();
  if (!carPark) return;
  const std::vector<std::int64_t> types = getAcceptableLaneTypes();
  const std::int64_t carParkId = carPark->carParkId();
  bool changed = false;

  // Pruning: lanes of another car park or of a type the status no longer allows. A lane
  // without a car park cannot be placed and goes too.
  for (std::size_t i = _lanes.size(); i-- > 0;) {
    const auto laneCarPark = _lanes[i]->carPark();
    if (!laneCarPark || laneCarPark->carParkId() != carParkId || !contains(types, _lanes[i]->laneType())) {
      _lanes.erase(_lanes.begin() + static_cast<std::ptrdiff_t>(i));
      changed = true;
    }
  }

  // Adding the acceptable lanes of the candidate's car park.
  const HeldCarPark* held = heldCarPark(carPark.get());
  const std::vector<std::shared_ptr<LaneModel>> carParkLanes = held ? held->lanes : carPark->lanes();
  bool added = false;
  for (const auto& candidate : carParkLanes) {
    if (!contains(types, candidate->laneType())) continue;
    const auto id = candidate->laneId();
    if (std::any_of(_lanes.begin(), _lanes.end(), [&](const auto& l) { return l->laneId() == id; })) continue;
    _lanes.push_back(candidate);
    added = true;
  }
  if (added) {
    std::stable_sort(_lanes.begin(), _lanes.end(), groupOrderLess);
    changed = true;
  }

  // Lane beacons and lane signal from the snapshots.
  for (const auto& l : _lanes) {
    const auto laneBeacons = l->laneBeacons();
    std::vector<std::string> ids;
    ids.reserve(laneBeacons.size());
    for (const auto& lb : laneBeacons) {
      const std::string id = lb->beaconId();
      ids.push_back(id);
      auto found = beaconsById_.find(id);
      const BeaconModel* snapshot = found == beaconsById_.end() ? nullptr : found->second.get();
      if (snapshot) {
        const BeaconModel::Values v = snapshot->values();
        lb->recordReading(v.name, v.serialNumber, v.rssi, v.proximity, v.accuracy, v.measuredPowerAt1Meter);
      } else {
        auto history = lb->history();
        if (history.size() >= LaneBeaconModel::kHistoryLimit) history.erase(history.begin());
        history.push_back(LaneBeaconModel::copy(*lb));
        lb->setHistory(std::move(history));
      }
    }
    // Every snapshot of the lane's beacons below 0 dBm, each once.
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::int64_t sum = 0, count = 0;
    for (const auto& id : ids) {
      auto found = beaconsById_.find(id);
      if (found == beaconsById_.end()) continue;
      const std::int64_t r = found->second->rssi();
      if (r < 0) {
        sum += r;
        ++count;
      }
    }
    // A lane whose beacons are all silent keeps its last signal.
    if (count > 0) l->setRssi(sum / count);
  }

  // The strongest lane, and the lanes of its group.
  std::vector<std::shared_ptr<LaneModel>> heard;
  for (const auto& l : _lanes) {
    if (l->rssi() < 0) heard.push_back(l);
  }
  std::stable_sort(heard.begin(), heard.end(), strongerFirst);
  const std::shared_ptr<LaneModel> strongest = heard.empty() ? nullptr : heard.front();
  if (!strongest) {
    _lanes.clear();
    changed = true;
  } else {
    const auto group = strongest->laneGroupId();
    const auto before = _lanes.size();
    std::erase_if(_lanes, [&](const auto& l) { return l->laneGroupId() != group; });
    if (_lanes.size() != before) changed = true;
  }

  const std::int64_t laneSeconds = wholeSecondsSince(_lastLaneChange);
  bool accepted = false;
  if (!strongest) {
    {
      std::lock_guard lock(mutex_);
      _closestLane.reset();
    }
    notify([&](BeaconServiceDelegate& d) { d.closestLaneChanged(nullptr); });
  } else if (laneSeconds > lane->getRetrySecs()) {
    const auto strongestId = strongest->laneId();
    for (const auto& l : _lanes) {
      if (l->laneId() != strongestId) {
        l->setClosest(false);
        changed = true;
      }
    }
    for (const auto& p : _carParks) {
      for (const auto& l : p.lanes) {
        if (l->laneId() != strongestId) l->setClosest(false);
      }
    }
    const std::shared_ptr<LaneModel> current = getClosestLane();
    if (current) {
      accepted = !strongest->closest() && current->laneId() != strongestId;
    } else {
      const std::int64_t carParkSeconds = wholeSecondsSince(_lastCarParkChange);
      accepted = carParkSeconds >= lane->getMinDetectionSecs() &&
                 (strongest->rssi() >= strongest->getMinRSSI() || carParkSeconds >= lane->getMaxDetectionSecs());
    }
    if (accepted) {
      strongest->setClosest(true);
      std::lock_guard lock(mutex_);
      _closestLane = strongest;
    }
  }

  if (accepted || changed) {
    const std::shared_ptr<LaneModel> closest = getClosestLane();
    notify([&](BeaconServiceDelegate& d) { d.lanesChanged(_lanes); });
    notify([&](BeaconServiceDelegate& d) { d.closestLaneChanged(closest); });
  }

  _laneBeacons = _lanes;
  std::stable_sort(_laneBeacons.begin(), _laneBeacons.end(), strongerFirst);
  notify([&](BeaconServiceDelegate& d) { d.laneBeaconsChanged(_laneBeacons); });
}

}  // namespace velmora
