#include "parking/carpark_api/NoticeLaneInfoResult.h"

namespace velmora {

NoticeLaneInfoResult NoticeLaneInfoResult::decode(RecordDecoder& d) {
  NoticeLaneInfoResult r;
  r.laneId = d.int64("laneId", -1);
  r.shortName = d.string("shortName");
  r.laneType = d.int64("laneType", 0);
  r.beaconIds = d.strings("beaconIds");
  return r;
}

void NoticeLaneInfoResult::encode(RecordEncoder& e) const {
  e.put("laneId", laneId);
  e.put("shortName", shortName);
  e.put("laneType", laneType);
  e.put("beaconIds", beaconIds);
}

}  // namespace velmora
