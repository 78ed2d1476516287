#include "parking/service/LaneResult.h"

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

}  // namespace velmora
