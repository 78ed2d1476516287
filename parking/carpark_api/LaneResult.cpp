#include "parking/carpark_api/LaneResult.h"

#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/carpark_api/LaneModel.h"

namespace velmora {

LaneResult LaneResult::decode(RecordDecoder& d) {
  const LaneResult defaults;
  LaneResult r;
  r.laneId = d.int64("laneId", defaults.laneId);
  r.laneType = d.int64("laneType", defaults.laneType);
  r.laneGroupId = d.optionalInt64("laneGroupId");
  r.laneGroupDelay = d.optionalInt64("laneGroupDelay");
  r.detectionType = d.int64("detectionType", defaults.detectionType);
  r.minRSSI = d.int64("minRSSI", defaults.minRSSI);
  r.minDetectionSecs = d.int64("minDetectionSecs", defaults.minDetectionSecs);
  r.maxDetectionSecs = d.int64("maxDetectionSecs", defaults.maxDetectionSecs);
  r.retrySecs = d.optionalInt64("retrySecs");
  r.sortOrder = d.int64("sortOrder", defaults.sortOrder);
  r.name = d.string("name");
  r.shortName = d.string("shortName");
  r.beaconSensitivity = d.int64("beaconSensitivity", defaults.beaconSensitivity);
  r.laneSensitivity = d.int64("laneSensitivity", defaults.laneSensitivity);
  r.laneBeacons = d.records<LaneBeaconResult>("laneBeacons");
  return r;
}

void LaneResult::encode(RecordEncoder& e) const {
  e.put("laneId", laneId);
  e.put("laneType", laneType);
  e.put("laneGroupId", laneGroupId);
  e.put("laneGroupDelay", laneGroupDelay);
  e.put("detectionType", detectionType);
  e.put("minRSSI", minRSSI);
  e.put("minDetectionSecs", minDetectionSecs);
  e.put("maxDetectionSecs", maxDetectionSecs);
  e.put("retrySecs", retrySecs);
  e.put("sortOrder", sortOrder);
  e.put("name", name);
  e.put("shortName", shortName);
  e.put("beaconSensitivity", beaconSensitivity);
  e.put("laneSensitivity", laneSensitivity);
  e.put("laneBeacons", laneBeacons);
}

std::shared_ptr<LaneModel> LaneResult::toModel(const LaneResult& laneResult) {
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
  for (const auto& b : laneResult.laneBeacons) beacons.push_back(LaneBeaconResult::toModel(b));
  lane->setLaneBeacons(std::move(beacons));
  return lane;
}

}  // namespace velmora
