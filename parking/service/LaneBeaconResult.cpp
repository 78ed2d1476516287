#include "parking/service/LaneBeaconResult.h"

namespace velmora {

LaneBeaconResult LaneBeaconResult::decode(RecordDecoder& d) {
  LaneBeaconResult r;
  r.laneBeaconId = d.int64("laneBeaconId", 0);
  r.beaconId = d.string("beaconId");
  return r;
}

void LaneBeaconResult::encode(RecordEncoder& e) const {
  e.put("laneBeaconId", laneBeaconId);
  e.put("beaconId", beaconId);
}

}  // namespace velmora
