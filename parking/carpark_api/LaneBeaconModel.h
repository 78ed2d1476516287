#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "parking/service/LaneBeaconResult.h"

namespace velmora {

// The in-memory state of one beacon of a lane: its ids, the latest reading of the ranged
// beacon that carries its id, and a short history of snapshots.
//
// A reference object made by create(); the lane that lists it, lane detection and the host
// app see the same object. Every field sits behind the object's own lock, so readers on
// one thread never see a torn value written on another; a sequence of calls is not atomic
// unless it is one call (recordReading).
class LaneBeaconModel {
  struct Token {
    explicit Token() = default;
  };

 public:
  // The history keeps at most this many snapshots, the newest equal to the current values.
  static constexpr std::size_t kHistoryLimit = 11;

  explicit LaneBeaconModel(Token) {}
  LaneBeaconModel(const LaneBeaconModel&) = delete;
  LaneBeaconModel& operator=(const LaneBeaconModel&) = delete;

  // A lane beacon with every field at its initial value: ids 0 and "", readings 0, no history.
  static std::shared_ptr<LaneBeaconModel> create();

  std::int64_t laneBeaconId() const;
  void setLaneBeaconId(std::int64_t v);
  // Compared for exact equality with the id of each ranged beacon.
  std::string beaconId() const;
  void setBeaconId(std::string v);
  std::string beaconName() const;
  void setBeaconName(std::string v);
  std::string beaconSerialNo() const;
  void setBeaconSerialNo(std::string v);
  std::int64_t rssi() const;
  void setRssi(std::int64_t v);
  // Holds the same last reading as rssi: no smoothing is applied.
  std::int64_t rssiSmoothed() const;
  void setRssiSmoothed(std::int64_t v);
  std::int64_t proximity() const;
  void setProximity(std::int64_t v);
  double accuracy() const;
  void setAccuracy(double v);
  std::int64_t measuredPowerAt1Meter() const;
  void setMeasuredPowerAt1Meter(std::int64_t v);
  // Snapshots of this lane beacon, oldest first.
  std::vector<std::shared_ptr<LaneBeaconModel>> history() const;
  void setHistory(std::vector<std::shared_ptr<LaneBeaconModel>> v);

  // A new lane beacon whose first nine fields equal those of laneBeaconModel and whose
  // history is empty. Nothing is read from any other object.
  static std::shared_ptr<LaneBeaconModel> copy(const LaneBeaconModel& laneBeaconModel);

  // Takes one reading of the ranged beacon: copies its values (the signal strength into
  // both rssi and rssiSmoothed), drops the oldest snapshot when the history already holds
  // kHistoryLimit or more, and appends a snapshot of the new values. One step under the lock.
  void recordReading(std::string beaconName, std::string beaconSerialNo, std::int64_t rssi,
                     std::int64_t proximity, double accuracy, std::int64_t measuredPowerAt1Meter);

 private:
  std::shared_ptr<LaneBeaconModel> snapshotLocked() const;

  mutable std::mutex mutex_;
  std::int64_t laneBeaconId_ = 0;
  std::string beaconId_;
  std::string beaconName_;
  std::string beaconSerialNo_;
  std::int64_t rssi_ = 0;
  std::int64_t rssiSmoothed_ = 0;
  std::int64_t proximity_ = 0;
  double accuracy_ = 0.0;
  std::int64_t measuredPowerAt1Meter_ = 0;
  std::vector<std::shared_ptr<LaneBeaconModel>> history_;
};

// A new lane-beacon model with the record's two ids; every reading at its initial value.
std::shared_ptr<LaneBeaconModel> toModel(const LaneBeaconResult& laneBeaconResult);

}  // namespace velmora
