#pragma once

#include <cstdint>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "parking/carpark_api/LaneModel.h"
#include "parking/lane_detection/BeaconModel.h"

namespace carparkdrive {

// The gate app's rule for when to report a lane: what decides enter and exit at a barrier.
// Lane detection says which lane is closest from one ranging pass to the next; a gate that
// acted on that alone would follow every flip between neighbouring lanes. This rule reads
// the lanes lane detection holds, with their signal, and the beacon snapshots, and decides
// only when one lane has plainly been the strongest for a while:
//
//  - A lane counts as heard only while one of its beacons has a fresh reading (a snapshot
//    updated within kSilentAfterSeconds, below 0 dBm). A lane whose beacons went silent
//    keeps its last signal in lane detection; here it drops out at once and its history is
//    forgotten, so it can be neither the strongest nor the runner-up.
//  - Each heard lane's signal is the mean of its passes of the last kWindowSeconds.
//  - A lane takes the lead when it is of the type looked for, its mean is at or above the
//    lane's own minimum RSSI, and it beats every other heard lane (of any type) by kMarginDb.
//    It keeps the lead while it stays the strongest and at its minimum.
//  - The gate is reported once the same lane leads and has led at the lane's own minimum
//    detection seconds (at least kMinHoldSeconds) plus one of the looks before, one look a
//    second, with at most kBreaksAllowed looks at which it did not lead in between.
//
// Fed once a pass by the host, on the thread that drives it; not thread-safe.
class GateRule {
 public:
  static constexpr double kSilentAfterSeconds = 1.5;
  static constexpr double kWindowSeconds = 4.0;
  static constexpr double kMarginDb = 2.0;
  static constexpr double kMinHoldSeconds = 2.0;
  // Looks at which another lane (or none) led that a hold may include.
  static constexpr std::size_t kBreaksAllowed = 3;
  // How many looks the rule remembers (a lane's detection seconds beyond that count as it).
  static constexpr std::size_t kRecentLooks = 64;

  // The lanes lane detection now holds (its lanes of interest) and its beacon snapshots.
  void setLanes(std::vector<std::shared_ptr<velmora::LaneModel>> lanes) { lanes_ = std::move(lanes); }
  void setBeacons(std::vector<std::shared_ptr<velmora::BeaconModel>> beacons);

  // One look at time now (seconds on the clock the snapshots' lastUpdated is read with, see
  // setClock): the lane to report, of laneType, when the rule says so. A lane is reported
  // once; after a report (or forget()) the rule starts over.
  std::shared_ptr<velmora::LaneModel> look(double now, std::int64_t laneType);

  // Forgets every lane's history, as after a gate or when lane detection starts over.
  void forget();

  // The lane leading at the last look (reported or not), or nullptr.
  const std::shared_ptr<velmora::LaneModel>& leader() const { return leader_; }

  // Reads a snapshot's lastUpdated as seconds on the host's clock.
  void setClock(std::function<double(velmora::platform::Date)> toSeconds) { toSeconds_ = std::move(toSeconds); }

 private:
  struct Sample {
    double t;
    std::int64_t rssi;
  };
  bool heard(const velmora::LaneModel& lane, double now) const;

  std::vector<std::shared_ptr<velmora::LaneModel>> lanes_;
  std::map<std::string, std::shared_ptr<velmora::BeaconModel>> beacons_;
  std::map<std::int64_t, std::deque<Sample>> samples_;
  std::function<double(velmora::platform::Date)> toSeconds_;
  std::shared_ptr<velmora::LaneModel> leader_;
  std::optional<std::int64_t> leaderId_;
  std::deque<std::optional<std::int64_t>> recent_;
};

}  // namespace carparkdrive
