#include "parking/carpark_api/NoticeBeaconRequest.h"

namespace velmora {

void NoticeBeaconRequest::encode(RecordEncoder& e) const {
  e.put("beaconId", beaconId);
  e.put("rssi", rssi);
}

NoticeBeaconRequest NoticeBeaconRequest::decode(RecordDecoder& d) {
  NoticeBeaconRequest r;
  r.beaconId = d.requiredString("beaconId");
  r.rssi = d.requiredNumber("rssi");
  return r;
}

}  // namespace velmora
