#include "parking/carpark_api/BeaconPayloadRequest.h"

namespace velmora {

void BeaconPayloadRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("inCarPark", inCarPark);
  e.put("isNested", isNested);
  e.put("reasonType", reasonType);
  e.put("carParkID", carParkID);
  e.put("calculatedLaneID", calculatedLaneID);
  e.put("laneID", laneID);
  e.put("timestampUTC", timestampUTC);
  e.put("items", items);
}

BeaconPayloadRequest BeaconPayloadRequest::decode(RecordDecoder& d) {
  BeaconPayloadRequest r(undecoded);
  r.decodeBlock(d);
  r.inCarPark = d.optionalBoolean("inCarPark");
  r.isNested = d.optionalBoolean("isNested");
  r.reasonType = d.optionalInt64("reasonType");
  r.carParkID = d.optionalInt64("carParkID");
  r.calculatedLaneID = d.optionalInt64("calculatedLaneID");
  r.laneID = d.optionalInt64("laneID");
  r.timestampUTC = d.optionalDate("timestampUTC");
  r.items = d.optionalRecords<BeaconPayloadItem>("items");
  return r;
}

}  // namespace velmora
