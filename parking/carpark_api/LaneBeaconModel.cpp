#include "parking/carpark_api/LaneBeaconModel.h"

#include "parking/carpark_api/LockedField.h"

namespace velmora {

using detail::readLocked;
using detail::writeLocked;

std::shared_ptr<LaneBeaconModel> LaneBeaconModel::create() { return std::make_shared<LaneBeaconModel>(Token{}); }

std::int64_t LaneBeaconModel::laneBeaconId() const { return readLocked(mutex_, laneBeaconId_); }
void LaneBeaconModel::setLaneBeaconId(std::int64_t v) { writeLocked(mutex_, laneBeaconId_, v); }
std::string LaneBeaconModel::beaconId() const { return readLocked(mutex_, beaconId_); }
void LaneBeaconModel::setBeaconId(std::string v) { writeLocked(mutex_, beaconId_, std::move(v)); }
std::string LaneBeaconModel::beaconName() const { return readLocked(mutex_, beaconName_); }
void LaneBeaconModel::setBeaconName(std::string v) { writeLocked(mutex_, beaconName_, std::move(v)); }
std::string LaneBeaconModel::beaconSerialNo() const { return readLocked(mutex_, beaconSerialNo_); }
void LaneBeaconModel::setBeaconSerialNo(std::string v) { writeLocked(mutex_, beaconSerialNo_, std::move(v)); }
std::int64_t LaneBeaconModel::rssi() const { return readLocked(mutex_, rssi_); }
void LaneBeaconModel::setRssi(std::int64_t v) { writeLocked(mutex_, rssi_, v); }
std::int64_t LaneBeaconModel::rssiSmoothed() const { return readLocked(mutex_, rssiSmoothed_); }
void LaneBeaconModel::setRssiSmoothed(std::int64_t v) { writeLocked(mutex_, rssiSmoothed_, v); }
std::int64_t LaneBeaconModel::proximity() const { return readLocked(mutex_, proximity_); }
void LaneBeaconModel::setProximity(std::int64_t v) { writeLocked(mutex_, proximity_, v); }
double LaneBeaconModel::accuracy() const { return readLocked(mutex_, accuracy_); }
void LaneBeaconModel::setAccuracy(double v) { writeLocked(mutex_, accuracy_, v); }
std::int64_t LaneBeaconModel::measuredPowerAt1Meter() const { return readLocked(mutex_, measuredPowerAt1Meter_); }
void LaneBeaconModel::setMeasuredPowerAt1Meter(std::int64_t v) { writeLocked(mutex_, measuredPowerAt1Meter_, v); }
std::vector<std::shared_ptr<LaneBeaconModel>> LaneBeaconModel::history() const { return readLocked(mutex_, history_); }
void LaneBeaconModel::setHistory(std::vector<std::shared_ptr<LaneBeaconModel>> v) {
  writeLocked(mutex_, history_, std::move(v));
}

std::shared_ptr<LaneBeaconModel> LaneBeaconModel::snapshotLocked() const {
  auto c = create();
  c->laneBeaconId_ = laneBeaconId_;
  c->beaconId_ = beaconId_;
  c->beaconName_ = beaconName_;
  c->beaconSerialNo_ = beaconSerialNo_;
  c->rssi_ = rssi_;
  c->rssiSmoothed_ = rssiSmoothed_;
  c->proximity_ = proximity_;
  c->accuracy_ = accuracy_;
  c->measuredPowerAt1Meter_ = measuredPowerAt1Meter_;
  return c;
}

std::shared_ptr<LaneBeaconModel> LaneBeaconModel::copy(const LaneBeaconModel& laneBeaconModel) {
  std::lock_guard lock(laneBeaconModel.mutex_);
  return laneBeaconModel.snapshotLocked();
}

void LaneBeaconModel::recordReading(std::string beaconName, std::string beaconSerialNo, std::int64_t rssi,
                                    std::int64_t proximity, double accuracy, std::int64_t measuredPowerAt1Meter) {
  std::lock_guard lock(mutex_);
  beaconName_ = std::move(beaconName);
  beaconSerialNo_ = std::move(beaconSerialNo);
  rssi_ = rssi;
  rssiSmoothed_ = rssi;
  proximity_ = proximity;
  accuracy_ = accuracy;
  measuredPowerAt1Meter_ = measuredPowerAt1Meter;
  // One snapshot out, one in: the history never grows past the limit through readings.
  if (history_.size() >= kHistoryLimit) history_.erase(history_.begin());
  history_.push_back(snapshotLocked());
}

std::shared_ptr<LaneBeaconModel> toModel(const LaneBeaconResult& laneBeaconResult) {
  auto model = LaneBeaconModel::create();
  model->setLaneBeaconId(laneBeaconResult.laneBeaconId);
  model->setBeaconId(laneBeaconResult.beaconId);
  return model;
}

}  // namespace velmora
