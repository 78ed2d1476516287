#include "parking/carpark_api/LaneModel.h"

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/carpark_api/LockedField.h"

namespace velmora {

using detail::readLocked;
using detail::writeLocked;

std::shared_ptr<LaneModel> LaneModel::create() { return std::make_shared<LaneModel>(Token{}); }

using OptInt = std::optional<std::int64_t>;

OptInt LaneModel::laneId() const { return readLocked(mutex_, laneId_); }
void LaneModel::setLaneId(OptInt v) { writeLocked(mutex_, laneId_, v); }
OptInt LaneModel::laneType() const { return readLocked(mutex_, laneType_); }
void LaneModel::setLaneType(OptInt v) { writeLocked(mutex_, laneType_, v); }
OptInt LaneModel::laneGroupId() const { return readLocked(mutex_, laneGroupId_); }
void LaneModel::setLaneGroupId(OptInt v) { writeLocked(mutex_, laneGroupId_, v); }
OptInt LaneModel::laneGroupDelay() const { return readLocked(mutex_, laneGroupDelay_); }
void LaneModel::setLaneGroupDelay(OptInt v) { writeLocked(mutex_, laneGroupDelay_, v); }
OptInt LaneModel::detectionType() const { return readLocked(mutex_, detectionType_); }
void LaneModel::setDetectionType(OptInt v) { writeLocked(mutex_, detectionType_, v); }
OptInt LaneModel::minRSSI() const { return readLocked(mutex_, minRSSI_); }
void LaneModel::setMinRSSI(OptInt v) { writeLocked(mutex_, minRSSI_, v); }
OptInt LaneModel::minDetectionSecs() const { return readLocked(mutex_, minDetectionSecs_); }
void LaneModel::setMinDetectionSecs(OptInt v) { writeLocked(mutex_, minDetectionSecs_, v); }
OptInt LaneModel::maxDetectionSecs() const { return readLocked(mutex_, maxDetectionSecs_); }
void LaneModel::setMaxDetectionSecs(OptInt v) { writeLocked(mutex_, maxDetectionSecs_, v); }
OptInt LaneModel::retrySecs() const { return readLocked(mutex_, retrySecs_); }
void LaneModel::setRetrySecs(OptInt v) { writeLocked(mutex_, retrySecs_, v); }
OptInt LaneModel::sortOrder() const { return readLocked(mutex_, sortOrder_); }
void LaneModel::setSortOrder(OptInt v) { writeLocked(mutex_, sortOrder_, v); }
std::string LaneModel::name() const { return readLocked(mutex_, name_); }
void LaneModel::setName(std::string v) { writeLocked(mutex_, name_, std::move(v)); }
std::string LaneModel::shortName() const { return readLocked(mutex_, shortName_); }
void LaneModel::setShortName(std::string v) { writeLocked(mutex_, shortName_, std::move(v)); }
OptInt LaneModel::beaconSensitivity() const { return readLocked(mutex_, beaconSensitivity_); }
void LaneModel::setBeaconSensitivity(OptInt v) { writeLocked(mutex_, beaconSensitivity_, v); }
OptInt LaneModel::laneSensitivity() const { return readLocked(mutex_, laneSensitivity_); }
void LaneModel::setLaneSensitivity(OptInt v) { writeLocked(mutex_, laneSensitivity_, v); }
std::vector<std::shared_ptr<LaneBeaconModel>> LaneModel::laneBeacons() const {
  return readLocked(mutex_, laneBeacons_);
}
void LaneModel::setLaneBeacons(std::vector<std::shared_ptr<LaneBeaconModel>> v) {
  writeLocked(mutex_, laneBeacons_, std::move(v));
}
std::int64_t LaneModel::rssi() const { return readLocked(mutex_, rssi_); }
void LaneModel::setRssi(std::int64_t v) { writeLocked(mutex_, rssi_, v); }
std::shared_ptr<CarParkModel> LaneModel::carPark() const { return readLocked(mutex_, carPark_).lock(); }
void LaneModel::setCarPark(const std::shared_ptr<CarParkModel>& v) {
  writeLocked(mutex_, carPark_, std::weak_ptr<CarParkModel>(v));
}
bool LaneModel::closest() const { return readLocked(mutex_, closest_); }
void LaneModel::setClosest(bool v) { writeLocked(mutex_, closest_, v); }

std::int64_t LaneModel::getMinRSSI() const { return minRSSI().value_or(kDefaultMinRSSI); }

std::int64_t LaneModel::getMinDetectionSecs() const {
  return minDetectionSecs().value_or(kDefaultMinDetectionSecs);
}

std::int64_t LaneModel::getMaxDetectionSecs() const {
  if (auto v = maxDetectionSecs()) return *v;
  return getMinDetectionSecs();
}

std::int64_t LaneModel::getRetrySecs() const { return retrySecs().value_or(kDefaultRetrySecs); }

std::shared_ptr<LaneModel> toModel(const LaneResult& laneResult) {
  auto lane = LaneModel::create();
  lane->setLaneId(laneResult.laneId);
  lane->setLaneType(laneResult.laneType);
  lane->setDetectionType(laneResult.detectionType);
  lane->setMinRSSI(laneResult.minRSSI);
  lane->setMinDetectionSecs(laneResult.minDetectionSecs);
  lane->setMaxDetectionSecs(laneResult.maxDetectionSecs);
  lane->setSortOrder(laneResult.sortOrder);
  lane->setBeaconSensitivity(laneResult.beaconSensitivity);
  lane->setLaneSensitivity(laneResult.laneSensitivity);
  lane->setLaneGroupId(laneResult.laneGroupId);
  lane->setLaneGroupDelay(laneResult.laneGroupDelay);
  lane->setRetrySecs(laneResult.retrySecs);
  lane->setName(laneResult.name);
  lane->setShortName(laneResult.shortName);
  std::vector<std::shared_ptr<LaneBeaconModel>> beacons;
  beacons.reserve(laneResult.laneBeacons.size());
  for (const auto& b : laneResult.laneBeacons) beacons.push_back(toModel(b));
  lane->setLaneBeacons(std::move(beacons));
  return lane;
}

}  // namespace velmora
